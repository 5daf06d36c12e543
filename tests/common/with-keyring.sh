#!/bin/sh
# Runs a test program with a credential store of its own: a D-Bus session bus (dbus-run-session)
# with gnome-keyring-daemon serving the Secret Service from a keyring in a scratch folder.
# The bus, the daemon and the keyring go when the test ends. TARVIK_TEST_KEYRING tells the test's
# set-up (tests/common/testmain.h) to keep this bus instead of cutting the test off from any, and
# the test which store it has: "unlocked", "locked" or "silent".
#   with-keyring.sh [--locked | --silent] PROGRAM [ARGS...]
#     (none)    the keyring is unlocked: nothing prompts
#     --locked  the keyring is locked, and its unlock prompt is never answered (the prompter's bus
#               name is held by a process that never replies)
#     --silent  no gnome-keyring: the Secret Service's bus name is held by a process that never replies
# The process that holds a name without answering is helper_dbusname, beside PROGRAM.
set -eu
store=unlocked
case "${1:-}" in
  --unlocked) shift ;;
  --locked) store=locked; shift ;;
  --silent) store=silent; shift ;;
esac
if [ -z "${TARVIK_KEYRING_SESSION:-}" ]; then
  TARVIK_KEYRING_SESSION=1 exec dbus-run-session -- "$0" "--$store" "$@"
fi
scratch=$(mktemp -d)
silent_pid=""
cleanup() {
  if [ -n "$silent_pid" ]; then kill "$silent_pid" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT
export HOME="$scratch" XDG_DATA_HOME="$scratch/data" XDG_RUNTIME_DIR="$scratch/runtime"
mkdir -p "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# Holds bus name $1 without ever answering, once it is its own (before anything could start the
# service the name belongs to).
hold_silently() {
  "$(dirname "$program")/helper_dbusname" "$1" >"$scratch/silent.out" 2>&1 &
  silent_pid=$!
  for _ in $(seq 100); do
    if grep -q owned "$scratch/silent.out"; then return 0; fi
    sleep 0.1
  done
  echo "with-keyring.sh: $1 could not be held: $(cat "$scratch/silent.out")" >&2
  exit 1
}

program=$1
if [ "$store" = silent ]; then
  hold_silently org.freedesktop.secrets
else
  # --unlock with a password on stdin creates the "login" keyring unlocked, so nothing prompts.
  printf 'tarvik-test' | gnome-keyring-daemon --unlock --daemonize --components=secrets >/dev/null
  if [ "$store" = locked ]; then
    hold_silently org.gnome.keyring.SystemPrompter
    dbus-send --session --print-reply --dest=org.freedesktop.secrets /org/freedesktop/secrets \
      org.freedesktop.Secret.Service.Lock array:objpath:/org/freedesktop/secrets/collection/login \
      | grep -q /org/freedesktop/secrets/collection/login
  fi
fi
export TARVIK_TEST_KEYRING=$store
"$@"

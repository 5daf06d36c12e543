#!/bin/sh
# Runs a test program with a credential store of its own: a D-Bus session bus (dbus-run-session)
# with gnome-keyring-daemon serving the Secret Service from an unlocked keyring in a scratch folder.
# The bus, the daemon and the keyring go when the test ends. TARVIK_TEST_KEYRING tells the test's
# set-up (tests/common/testmain.h) to keep this bus instead of cutting the test off from any.
#   with-keyring.sh PROGRAM [ARGS...]
set -eu
if [ -z "${TARVIK_KEYRING_SESSION:-}" ]; then
  TARVIK_KEYRING_SESSION=1 exec dbus-run-session -- "$0" "$@"
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export HOME="$scratch" XDG_DATA_HOME="$scratch/data" XDG_RUNTIME_DIR="$scratch/runtime"
mkdir -p "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
# --unlock with a password on stdin creates the "login" keyring unlocked, so nothing prompts.
printf 'tarvik-test' | gnome-keyring-daemon --unlock --daemonize --components=secrets >/dev/null
export TARVIK_TEST_KEYRING=1
"$@"

#!/usr/bin/env bash
# Builds the Debian packages tarvik and velm-platform from the build tree the tests use (build/,
# configured with the prefix /usr the packages install to) and checks them:
#   - lintian: no error, no warning, no info-level tag, for either package;
#   - desktop-file-validate and appstreamcli validate on the desktop entry and AppStream data;
#   - the client unpacked from its package into a scratch folder finds every sound under that
#     folder's usr/share/tarvik, from a working directory without sounds, and starts (offscreen);
#   - with --install (what CI does): the packages are installed with apt-get, /usr/bin/tarvik must
#     find its sounds in /usr/share/tarvik and start, and the packages are purged again.
# Prints lintian's verdict and exits non-zero when a check fails. The .deb files stay in build/.
#
#   scripts/package.sh [--install]
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

install=0
for arg in "$@"; do
  case "$arg" in
    --install) install=1 ;;
    *) echo "usage: scripts/package.sh [--install]" >&2; exit 2 ;;
  esac
done

scripts/setup.sh package
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr
cmake --build "$BUILD_DIR" -j "$(nproc)"
BUILD_DIR=$(cd "$BUILD_DIR" && pwd)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD_DIR/CMakeCache.txt")
rm -f "$BUILD_DIR"/tarvik_*.deb "$BUILD_DIR"/velm-platform_*.deb
(cd "$BUILD_DIR" && cpack -G DEB) > "$BUILD_DIR/cpack.log" 2>&1 || { cat "$BUILD_DIR/cpack.log"; exit 1; }
arch=$(dpkg --print-architecture)
client_deb=$BUILD_DIR/tarvik_${version}_${arch}.deb
platform_deb=$BUILD_DIR/velm-platform_${version}_${arch}.deb
for deb in "$client_deb" "$platform_deb"; do
  [ -f "$deb" ] || { cat "$BUILD_DIR/cpack.log"; echo "package: cpack made no $deb" >&2; exit 1; }
done

failed=0
fail() { echo "package: FAILED: $*" >&2; failed=1; }

# -- lintian
for deb in "$client_deb" "$platform_deb"; do
  echo "== lintian $(basename "$deb")"
  if lintian --display-info --fail-on error,warning,info "$deb"; then
    echo "lintian: $(basename "$deb"): clean (no error, warning or info tag)"
  else
    fail "lintian found tags in $(basename "$deb")"
  fi
done

# -- what the client package holds, unpacked into a scratch folder
scratch=$(mktemp -d)
client=""
cleanup() {
  [ -n "$client" ] && kill "$client" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT
unpacked=$scratch/root
dpkg-deb -x "$client_deb" "$unpacked"
desktop-file-validate "$unpacked/usr/share/applications/io.velm.Tarvik.desktop" ||
  fail "desktop-file-validate rejects io.velm.Tarvik.desktop"
appstreamcli validate --no-net --explain "$unpacked/usr/share/metainfo/io.velm.Tarvik.metainfo.xml" ||
  fail "appstreamcli rejects io.velm.Tarvik.metainfo.xml"
grep -q "<release version=\"$version\"" "$unpacked/usr/share/metainfo/io.velm.Tarvik.metainfo.xml" ||
  fail "the AppStream release is not $version"

# check_sounds PROGRAM DATA_DIR: the program, started from an empty working directory, finds every
# sound in DATA_DIR/audio.
check_sounds() {
  local out status=0
  mkdir -p "$scratch/cwd"
  out=$(cd "$scratch/cwd" && "$1" --sounds) || status=$?
  echo "$out"
  [ "$status" = 0 ] || { fail "$1 --sounds: a sound is missing (status $status)"; return; }
  local found
  found=$(grep -c "^audio/[^:]*: $2/audio/" <<< "$out" || true)
  [ "$found" = 3 ] || fail "$1 found $found of its 3 sounds in $2/audio"
  "$1" --version | grep -qx "Tarvik $version" || fail "$1 --version does not say $version"
}

# check_starts PROGRAM: the client starts offscreen (with a data folder of its own) and still runs
# 3 s later, its login window up.
check_starts() {
  rm -rf "$scratch/home" "$scratch/tmp"
  mkdir -p "$scratch/home" "$scratch/tmp"
  (cd "$scratch/cwd" && QT_QPA_PLATFORM=offscreen XDG_DATA_HOME="$scratch/home" TMPDIR="$scratch/tmp" \
    exec "$1") > "$scratch/client.log" 2>&1 &
  client=$!
  sleep 3
  if kill -0 "$client" 2>/dev/null; then
    echo "$1 started and runs"
    kill "$client"
    wait "$client" 2>/dev/null || true
  else
    cat "$scratch/client.log"
    fail "$1 ended within 3 s of its start"
  fi
  client=""
}

echo "== the client unpacked from its package"
check_sounds "$unpacked/usr/bin/tarvik" "$unpacked/usr/share/tarvik"
grep -qx "  /usr/share/tarvik" <<< "$(cd "$scratch/cwd" && "$unpacked/usr/bin/tarvik" --sounds)" ||
  fail "the client does not look in /usr/share/tarvik"
check_starts "$unpacked/usr/bin/tarvik"

# -- installed for real
if [ "$install" = 1 ]; then
  echo "== apt-get install the packages"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get install -y -qq --no-install-recommends "$client_deb" "$platform_deb"
  check_sounds /usr/bin/tarvik /usr/share/tarvik
  check_starts /usr/bin/tarvik
  /usr/bin/velm-platform --help | grep -q -- --seed || fail "the installed velm-platform does not answer --help"
  man -w tarvik > /dev/null && man -w velm-platform > /dev/null || fail "a man page is not installed"
  $SUDO apt-get purge -y -qq tarvik velm-platform
fi

if [ "$failed" != 0 ]; then
  echo "package: FAILED" >&2
  exit 1
fi
echo "package: $(basename "$client_deb") and $(basename "$platform_deb") built and checked; lintian clean"

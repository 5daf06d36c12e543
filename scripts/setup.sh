#!/usr/bin/env bash
# Installs what a command of this repository needs on Debian 12 (run as root, or with sudo available).
# Idempotent: packages that are already installed are skipped.
#
#   scripts/setup.sh PROFILE...     one or more of:
#     run      build the client and velm-platform, run the demo (scripts/run.sh), headless too
#     test     build and run every test (scripts/test.sh)
#     package  build the Debian packages and check them (scripts/package.sh)
#     fuzz     fuzz with libFuzzer (scripts/fuzz.sh): clang and its sanitizer runtimes
#     docs     draw the architecture diagram (scripts/diagram.sh)
#     bench    the order bench (tools/orderbench, tools/benchcompare.sh): Xvfb, and PulseAudio for
#              its private sound server
#     all      every one of them (the default)
set -euo pipefail

# Compiler, CMake, Qt and cpp-httplib: every profile builds something.
BUILD=(
  build-essential cmake pkg-config ninja-build
  qtbase5-dev qtbase5-dev-tools qtmultimedia5-dev libqt5multimedia5-plugins libqt5sql5-sqlite
  # the income window's chart
  libqt5charts5-dev
  libcpp-httplib-dev
  # remembered passwords in the system's credential store
  qtkeychain-qt5-dev
  # velm-platform's TLS (--tls-cert), and the certificates the TLS tests make
  libssl-dev openssl
  # receipts go to the print spooler through libcups, which follows each job to its end
  libcups2-dev
)
# What the client needs when it runs: GStreamer plays the sounds, the text is Chinese.
RUNTIME=(
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  fonts-wqy-microhei fonts-wqy-zenhei
  # QtKeychain reaches the Secret Service through libsecret, which it loads when it runs
  libsecret-1-0
)

packages=()
add_profile() {
  case "$1" in
    # The headless demo drives the client under Xvfb with xdotool, screenshots it with ImageMagick
    # and talks to the platform's admin API with curl.
    run) packages+=("${BUILD[@]}" "${RUNTIME[@]}" xvfb xauth x11-utils xdotool imagemagick curl) ;;
    # The receipt tests read the printed PDF back with pdftotext; the sanitizer runtimes come with g++.
    # The printing tests run a CUPS server of their own (cupsd, lpadmin, cupsenable...) with PDF queues
    # of cups-pdf, and read the page sizes with pdfinfo (poppler-utils).
    # The keychain test runs its own session bus (dbus-run-session) with gnome-keyring's Secret Service.
    test) packages+=("${BUILD[@]}" "${RUNTIME[@]}" poppler-utils dbus gnome-keyring
                     cups-daemon cups-client printer-driver-cups-pdf) ;;
    # dpkg-shlibdeps (dpkg-dev, part of build-essential) finds the packages' dependencies.
    package) packages+=("${BUILD[@]}" lintian appstream desktop-file-utils man-db) ;;
    # libFuzzer and its sanitizer runtimes are not part of clang's own dependencies.
    fuzz) packages+=("${BUILD[@]}" clang libclang-rt-dev) ;;
    docs) packages+=(graphviz) ;;
    bench) packages+=("${BUILD[@]}" "${RUNTIME[@]}" xvfb xauth pulseaudio) ;;
    all) for p in run test package fuzz docs bench; do add_profile "$p"; done ;;
    *)
      echo "usage: scripts/setup.sh [run|test|package|fuzz|docs|bench|all]..." >&2
      exit 2
      ;;
  esac
}
[ "$#" -gt 0 ] || set -- all
for profile in "$@"; do add_profile "$profile"; done

missing=()
for p in $(printf '%s\n' "${packages[@]}" | sort -u); do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup ($*): installing ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "setup ($*): all packages present"
fi

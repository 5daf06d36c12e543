#!/usr/bin/env bash
# Installs what Tarvik needs to build, run and test on Debian 12 (run as root, or with sudo available).
# Idempotent: packages that are already installed are skipped.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config ninja-build
  qtbase5-dev qtbase5-dev-tools qtmultimedia5-dev libqt5multimedia5-plugins libqt5sql5-sqlite
  libcpp-httplib-dev
  # velm-platform's TLS (--tls-cert), and the certificates the TLS tests make
  libssl-dev openssl
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  fonts-wqy-microhei fonts-wqy-zenhei
  xvfb xauth x11-utils xdotool imagemagick poppler-utils curl
  # scripts/fuzz.sh: clang with libFuzzer and its sanitizer runtimes (not part of clang's own
  # dependencies)
  clang libclang-rt-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "setup: all packages present"
fi

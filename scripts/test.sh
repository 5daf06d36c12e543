#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test headless, builds the Debian
# packages from that tree and checks them (scripts/package.sh); then builds the client,
# velm-platform and every test again with AddressSanitizer and UBSan (in build-asan/) and runs the
# whole suite once more there, with leak detection on and any finding fatal.
# Exits non-zero when anything fails.
#
#   scripts/test.sh                   both runs (what CI does)
#   scripts/test.sh --no-sanitizers   the plain run only, for a quick local check
#                                     (also TARVIK_SKIP_SANITIZERS=1; ignored when CI is set)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

sanitizers=1
[ "${TARVIK_SKIP_SANITIZERS:-0}" = 1 ] && sanitizers=0
for arg in "$@"; do
  case "$arg" in
    --no-sanitizers) sanitizers=0 ;;
    *) echo "usage: scripts/test.sh [--no-sanitizers]" >&2; exit 2 ;;
  esac
done
if [ "$sanitizers" = 0 ] && [ -n "${CI:-}" ]; then
  echo "test: CI is set, so the sanitizer run is not skipped"
  sanitizers=1
fi

scripts/setup.sh test
JOBS=$(nproc)
started=$SECONDS

BUILD_DIR=${BUILD_DIR:-build}
# The prefix of the Debian packages, so that scripts/package.sh below builds them from this very tree
# without rebuilding it.
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr
cmake --build "$BUILD_DIR" -j "$JOBS"
(cd "$BUILD_DIR" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$JOBS" --timeout 600)
echo "test: plain run passed after $((SECONDS - started)) s"

# The Debian packages from the same tree, lintian clean; in CI also installed, checked and purged.
package_args=()
[ -n "${CI:-}" ] && package_args=(--install)
BUILD_DIR=$BUILD_DIR scripts/package.sh "${package_args[@]}"
echo "test: packages built and checked after $((SECONDS - started)) s"

if [ "$sanitizers" = 0 ]; then
  echo "test: sanitizer run skipped"
  exit 0
fi

# -O1 and line tables only: several times faster to build and run than -O0 -g, and the reports
# still name file and line.
SAN_DIR=${SANITIZE_BUILD_DIR:-build-asan}
cmake -S . -B "$SAN_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" -DTARVIK_SANITIZE=address,undefined -DTARVIK_BUILD_TOOLS=OFF
cmake --build "$SAN_DIR" -j "$JOBS"

# Every process writes its reports into one folder, the programs the tests start (velm-platform,
# the client, the helpers) as well as the tests: a finding in a child process whose exit status no
# test looks at still fails the run.
REPORTS=$ROOT/$SAN_DIR/sanitizer-reports
rm -rf "$REPORTS"
mkdir -p "$REPORTS"
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:log_path=$REPORTS/asan:log_exe_name=1"
export LSAN_OPTIONS="suppressions=$ROOT/tests/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$REPORTS/ubsan:log_exe_name=1"
status=0
(cd "$SAN_DIR" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$JOBS" --timeout 900) || status=$?

shopt -s nullglob
# LeakSanitizer's own tracer sometimes crashes while it stops a process's threads at exit ("Tracer
# caught signal 11"); that is a failure of the tool, not a finding. When every report is such a
# crash, the failed tests run once more; a leak or any other finding still fails the run.
crashes=()
for report in "$REPORTS"/*; do
  if grep -q "LeakSanitizer has encountered a fatal error" "$report" &&
    ! grep -qE "ERROR: (AddressSanitizer|LeakSanitizer: detected)|runtime error" "$report"; then
    crashes+=("$report")
  fi
done
all=("$REPORTS"/*)
if [ "$status" -ne 0 ] && [ "${#crashes[@]}" -gt 0 ] && [ "${#crashes[@]}" -eq "${#all[@]}" ]; then
  for report in "${crashes[@]}"; do
    echo "test: the leak checker itself crashed in $(basename "$report"):"
    cat "$report"
    rm -f "$report"
  done
  echo "test: running the failed tests once more"
  status=0
  (cd "$SAN_DIR" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --rerun-failed --timeout 900) || status=$?
fi

reports=("$REPORTS"/*)
if [ "${#reports[@]}" -gt 0 ]; then
  for report in "${reports[@]}"; do
    echo "===== $(basename "$report")"
    cat "$report"
  done
  echo "test: ${#reports[@]} sanitizer report(s), kept in $REPORTS"
  status=1
fi
if [ "$status" -ne 0 ]; then
  echo "test: sanitizer run FAILED"
  exit "$status"
fi
echo "test: sanitizer run passed; all done after $((SECONDS - started)) s"

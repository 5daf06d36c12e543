#!/usr/bin/env bash
# Fuzzes every harness of tests/fuzz with libFuzzer for a bounded time.
#
#   scripts/fuzz.sh [SECONDS_PER_HARNESS] [HARNESS...]     (default: 60 seconds, every harness)
#
# Builds the harnesses with clang, AddressSanitizer and UBSan in build-fuzz/ (the main build uses
# g++, which has no libFuzzer). Each run starts from the committed seeds in tests/fuzz/corpus/<name>/
# and keeps what it learns in build-fuzz/corpus/<name>/, so a later run goes on from there. An input
# that crashes is saved as build-fuzz/findings/<name>/crash-*; add it to the committed corpus once the
# fault is mended, and CTest replays it from then on. Exits non-zero when any harness found a fault.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

SECONDS_PER_HARNESS=${1:-60}
shift || true
if ! [[ "$SECONDS_PER_HARNESS" =~ ^[0-9]+$ ]]; then
  echo "usage: scripts/fuzz.sh [SECONDS_PER_HARNESS] [HARNESS...]" >&2
  exit 2
fi

scripts/setup.sh fuzz
FUZZ_DIR=${FUZZ_BUILD_DIR:-build-fuzz}
# Every library the harnesses link is instrumented for coverage, so libFuzzer sees into the client's
# code and not only the harness.
cmake -S . -B "$FUZZ_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link" \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" -DTARVIK_SANITIZE=address,undefined -DTARVIK_BUILD_TOOLS=OFF

if [ "$#" -gt 0 ]; then
  harnesses=("$@")
else
  harnesses=()
  for source in tests/fuzz/fuzz_*.cpp; do
    harnesses+=("$(basename "$source" .cpp)")
  done
fi
known=$(ninja -C "$FUZZ_DIR" -t targets all)
targets=()
for name in "${harnesses[@]}"; do
  if grep -q "^$name:" <<< "$known"; then
    targets+=("$name")
  else
    echo "fuzz: $name is not built in this tree (a fuzz_platform_* harness needs velm_platform_core); skipped"
  fi
done
if [ "${#targets[@]}" -eq 0 ]; then
  echo "fuzz: nothing to fuzz" >&2
  exit 1
fi
cmake --build "$FUZZ_DIR" -j "$(nproc)" --target "${targets[@]}"

export QT_QPA_PLATFORM=offscreen
# The account store harness saves users.xml several times per input, and every save is synced to
# disk: in memory that is thirty times faster.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm
fi
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$ROOT/tests/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
failed=()
for name in "${targets[@]}"; do
  corpus=$FUZZ_DIR/corpus/$name
  findings=$FUZZ_DIR/findings/$name
  mkdir -p "$corpus" "$findings"
  log=$FUZZ_DIR/findings/$name.log
  dict=()
  if [ -f "tests/fuzz/$name.dict" ]; then dict=(-dict="tests/fuzz/$name.dict"); fi
  echo "fuzz: $name for $SECONDS_PER_HARNESS s (log: $log)"
  if "$FUZZ_DIR/tests/fuzz/$name" "$corpus" "tests/fuzz/corpus/$name" "${dict[@]}" \
      -max_total_time="$SECONDS_PER_HARNESS" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
      -artifact_prefix="$findings/" -print_final_stats=1 > "$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log")
    coverage=$(grep -E "^#[0-9]+" "$log" | tail -n 1 | grep -oE "cov: [0-9]+ ft: [0-9]+ corp: [0-9]+/[0-9]+[a-zA-Z]*" || true)
    echo "fuzz: $name: ${runs:-?} inputs, no fault; $coverage; peak ${rss:-?} MB"
  else
    echo "fuzz: $name FOUND A FAULT:"
    grep -E -A30 "^==[0-9]+==|runtime error|^ *expected:|^ *actual:|ERROR: libFuzzer" "$log" | head -n 60
    ls "$findings"
    failed+=("$name")
  fi
done
if [ "${#failed[@]}" -gt 0 ]; then
  echo "fuzz: faults found by ${failed[*]}"
  exit 1
fi
echo "fuzz: no faults found"

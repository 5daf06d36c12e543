#!/usr/bin/env bash
# Compares two builds of the client on this machine in one run:
#   tools/benchcompare.sh BEFORE_BUILD_DIR AFTER_BUILD_DIR [--rounds N] [--idle-seconds S] [--no-x]
#                         [--keep DIR]
# Each build dir must hold tarvik, platform/velm-platform and tools/tarvik-orderbench (the targets
# tarvik, velm-platform and tarvik-orderbench). Every round runs both builds' order bench once
# (--runs 1, one start of the real program), before then after in odd rounds and after then
# before in even ones, so that whatever else the machine does weighs on both alike. Prints one
# Markdown table of the medians over the rounds: measure | before | after | target. --keep DIR
# keeps every round's tables and values there.
# Default: 5 rounds, 60 idle seconds each: about 16 minutes on a 2-core machine.
set -euo pipefail

usage() {
  sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'
  exit "${1:-0}"
}

[ $# -ge 2 ] || usage 2
BEFORE=$(cd "$1" && pwd)
AFTER=$(cd "$2" && pwd)
shift 2
ROUNDS=5
IDLE=60
EXTRA=()
KEEP=""
while [ $# -gt 0 ]; do
  case "$1" in
    --rounds) ROUNDS=$2; shift 2 ;;
    --idle-seconds) IDLE=$2; shift 2 ;;
    --no-x) EXTRA+=(--no-x); shift ;;
    --keep) KEEP=$2; shift 2 ;;
    -h|--help) usage 0 ;;
    *) echo "benchcompare: unknown argument $1" >&2; usage 2 ;;
  esac
done
for dir in "$BEFORE" "$AFTER"; do
  for file in tarvik platform/velm-platform tools/tarvik-orderbench; do
    [ -x "$dir/$file" ] || { echo "benchcompare: $dir/$file is missing (build it first)" >&2; exit 1; }
  done
done

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
if [ -n "$KEEP" ]; then
  mkdir -p "$KEEP"
  trap 'cp "$WORK"/* "$KEEP"/ 2>/dev/null; rm -rf "$WORK"' EXIT
fi

run() { # run NAME DIR ROUND
  local log="$WORK/$1-$3.log" dir
  dir=$(cd "$2" && pwd)
  echo "round $3: $1 ($2)" >&2
  # From inside the build tree, where the program finds its sounds ("audio" beside tarvik): from
  # anywhere else every sound would be missing and the sound rows would time the error.
  if ! (cd "$dir" && QT_QPA_PLATFORM=offscreen "$dir/tools/tarvik-orderbench" --runs 1 --client-runs 1 \
      --idle-seconds "$IDLE" --tarvik "$dir/tarvik" --tsv "$WORK/$1-$3.tsv" "${EXTRA[@]}") > "$log" 2>&1; then
    echo "benchcompare: the $1 bench failed in round $3; its output:" >&2
    cat "$log" >&2
    exit 1
  fi
}

for round in $(seq 1 "$ROUNDS"); do
  if [ $((round % 2)) = 1 ]; then
    run before "$BEFORE" "$round"; run after "$AFTER" "$round"
  else
    run after "$AFTER" "$round"; run before "$BEFORE" "$round"
  fi
done

# median NAME MEASURE: the middle of that measure's values over the rounds, empty when none.
median() {
  local values count
  values=$(cat "$WORK/$1"-*.tsv | awk -F'\t' -v m="$2" '$1 == m { print $2 }' | sort -g)
  count=$(printf '%s' "$values" | grep -c . || true)
  [ "$count" -gt 0 ] || return 0
  printf '%s\n' "$values" | sed -n "$((count / 2 + 1))p"
}

# shown VALUE UNIT
shown() {
  [ -n "$1" ] || { echo "—"; return; }
  case "$2" in
    ms) awk -v v="$1" 'BEGIN { printf (v < 10 ? "%.2f ms" : "%.0f ms"), v }' ;;
    %) awk -v v="$1" 'BEGIN { printf "%.2f %%", v }' ;;
    MiB) awk -v v="$1" 'BEGIN { printf "%.1f MiB", v }' ;;
    *) awk -v v="$1" 'BEGIN { printf "%.0f", v }' ;;
  esac
}

echo "| measure (median of $ROUNDS rounds, before and after interleaved) | before | after | target |"
echo "|---|---|---|---|"
# The measures in the order the bench writes them, each once, from either build.
cat "$WORK"/before-1.tsv "$WORK"/after-1.tsv | awk -F'\t' '!seen[$1]++ { print $1 "\037" $3 "\037" $4 }' |
  while IFS=$'\037' read -r measure unit target; do
    echo "| $measure | $(shown "$(median before "$measure")" "$unit") | $(shown "$(median after "$measure")" "$unit") | $target |"
  done

#!/usr/bin/env bash
# Runs a libFuzzer target and fails unless it ends with at least MIN_COV coverage: well above
# what the harness alone can reach (under 100 for each of ours), so a build whose libraries lost
# their coverage hooks fails. The coverage of one empty input is printed beside it.
#   scripts/fuzz-cov-check.sh MIN_COV TARGET [libFuzzer options...] CORPUS
set -uo pipefail
[ $# -ge 3 ] || { echo "usage: $0 MIN_COV TARGET [options...] CORPUS" >&2; exit 2; }
need=$1 target=$2
shift 2

empty=$(mktemp -d)
log=$(mktemp)
trap 'rm -rf "$empty" "$log"' EXIT

# The highest "cov:" that libFuzzer printed.
coverage() { grep -o 'cov: [0-9]*' "$1" | awk '$2 > max { max = $2 } END { print max + 0 }'; }

"$target" -runs=0 "$empty" >"$log" 2>&1
base=$(coverage "$log")

"$target" "$@" 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
[ "$status" = 0 ] || exit "$status"

final=$(coverage "$log")
echo "coverage: $final after the run (at least $need wanted), $base from an empty input"
if [ "$final" -lt "$need" ]; then
  echo "$(basename "$target"): the run did not explore beyond its harness" >&2
  exit 1
fi

#!/usr/bin/env bash
# Runs every fuzz target of a native build for SECONDS each from its seeds, two at a time, and
# prints what each reached: final cov and ft, corpus size, runs per second, crashes.
#   scripts/fuzz-long.sh [SECONDS [BUILD_DIR]]        (600 and build/native by default)
# FUZZ_TARGETS="core_probe core_wav" runs only the targets named.
# BUILD_DIR may be the native build of any earlier commit: targets it lacks are listed as such.
# Corpora, logs and crash inputs stay in the work folder printed first.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-600}
build=$(realpath "${2:-build/native}")
jobs=${FUZZ_JOBS:-2}
only=" ${FUZZ_TARGETS:-} "
work=$(mktemp -d "${TMPDIR:-/tmp}/quaverly-fuzz.XXXXXX")
echo "build: $build; $seconds s a target, $jobs at a time; work folder: $work"

die() { printf 'fuzz-long.sh: %s\n' "$*" >&2; exit 1; }
[ -x "$build/tests/fuzz/quaverly_fuzz_core_seeds" ] || die "no fuzz targets under $build"

seeds=$work/seeds
mkdir -p "$seeds/core" "$seeds/midi/midi" "$seeds/midi/sf2" "$seeds/midi/dls"
"$build/tests/fuzz/quaverly_fuzz_core_seeds" "$seeds/core" >/dev/null 2>&1 ||
  die "writing the core seeds failed"
if [ -x "$build/tests/midi/quaverly_midi_seeds" ]; then
  "$build/tests/midi/quaverly_midi_seeds" "$seeds/midi/midi" "$seeds/midi/sf2" \
    "$seeds/midi/dls" >/dev/null 2>&1 || die "writing the MIDI seeds failed"
fi

# name, binary under the build, seed folder
targets=(
  core_probe tests/fuzz/quaverly_fuzz_core_probe core/probe
  core_module tests/fuzz/quaverly_fuzz_core_module core/module
  core_vorbis tests/fuzz/quaverly_fuzz_core_vorbis core/vorbis
  core_opus tests/fuzz/quaverly_fuzz_core_opus core/opus
  core_flac tests/fuzz/quaverly_fuzz_core_flac core/flac
  core_wav tests/fuzz/quaverly_fuzz_core_wav core/wav
  core_mp3 tests/fuzz/quaverly_fuzz_core_mp3 core/mp3
  playlist tests/fuzz/quaverly_fuzz_playlist core/playlist
  tags tests/fuzz/quaverly_fuzz_tags core/tags
  midi tests/midi/quaverly_fuzz_midi midi/midi
  sf2 tests/midi/quaverly_fuzz_sf2 midi/sf2
  dls tests/midi/quaverly_fuzz_dls midi/dls
)

runOne() {
  local name=$1 binary=$2 seed=$3
  mkdir -p "$work/corpus/$name" "$work/crashes/$name"
  cp -r "$seed/." "$work/corpus/$name/" 2>/dev/null
  LSAN_OPTIONS=suppressions=$root/tests/fuzz/lsan.supp \
    timeout $((seconds + 300)) "$binary" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/crashes/$name/" \
    "$work/corpus/$name" >"$work/$name.log" 2>&1
}

set -- "${targets[@]}"
while [ $# -ge 3 ]; do
  if [ -x "$build/$2" ] && { [ "$only" = "  " ] || [[ $only == *" $1 "* ]]; }; then
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
    echo "running $1"
    runOne "$1" "$build/$2" "$seeds/$3" &
  fi
  shift 3
done
wait

printf '\n%-12s %8s %8s %8s %8s %8s\n' target cov ft corpus exec/s crashes
set -- "${targets[@]}"
while [ $# -ge 3 ]; do
  log=$work/$1.log
  if [ ! -x "$build/$2" ]; then
    printf '%-12s %8s\n' "$1" "(not in this build)"
  elif [ ! -f "$log" ]; then
    printf '%-12s %8s\n' "$1" "(not run)"
  else
    status=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -n 1)
    field() { sed -n "s/.*$1: \\([0-9]*\\).*/\\1/p" <<<"$status"; }
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    [ -n "$rate" ] || rate=$(field exec/s)
    crashes=$(find "$work/crashes/$1" -type f | wc -l)
    printf '%-12s %8s %8s %8s %8s %8s\n' "$1" "$(field cov)" "$(field ft)" \
      "$(field corp)" "$rate" "$crashes"
  fi
  shift 3
done
echo "command: ${FUZZ_TARGETS:+FUZZ_TARGETS=\"$FUZZ_TARGETS\" }scripts/fuzz-long.sh $seconds $build"

#!/usr/bin/env bash
# CPU share of playing 60-second test files for N seconds (default 30) on the null sink:
# our libraries under Wine (qvplay.exe), beside openmpt123 for the modules and paplay of the
# decoded WAV for the streams, playing the same to the same sink. Prints figures only.
#
#   bench/cpu_share.sh [SECONDS]      (after scripts/test.sh, or the Windows build and media)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
media=$PWD/build/media
qvplay=$PWD/build/windows/bench/player/qvplay.exe
[ -x "$qvplay" ] || cmake --build --preset windows --target qvplay >/dev/null
[ -f "$media/manifest.tsv" ] || scripts/gen-media.sh "$media" >/dev/null

exec scripts/with-testenv.sh bash -c '
seconds=$1 media=$2 qvplay=$3
# CPU seconds (user + system) of a process and its children, from /proc.
cpu_of() { awk "{ print (\$14 + \$15 + \$16 + \$17) / $(getconf CLK_TCK) }" /proc/$1/stat; }
share() { # command... : runs it for $seconds, prints its CPU share of one core
    "$@" </dev/null >/dev/null 2>&1 &
    local pid=$!
    sleep 1
    local start; start=$(cpu_of $pid)
    sleep "$seconds"
    local end; end=$(cpu_of $pid)
    kill $pid 2>/dev/null; wait $pid 2>/dev/null || true
    awk -v a="$start" -v b="$end" -v s="$seconds" "BEGIN { printf \"%.2f %%\", 100 * (b - a) / s }"
}
printf "%-22s %-28s %s\n" file "ours (qvplay under Wine)" reference
for f in mod_550_60s.mod mod32_550_60s.mod it_1100_60s.it; do
    ours=$(timeout $((seconds + 30)) wine "$qvplay" "Z:$media/$f" "$seconds" 2>/dev/null | tr -d "\r")
    ref=$(share openmpt123 --batch --quiet "$media/$f")
    printf "%-22s %-28s openmpt123: %s\n" "$f" "${ours#*: }" "$ref"
done
for pair in ogg_440_60s.ogg:tone440_s16_stereo_44k_60s.wav mp3_660_60s.mp3:tone660_s16_stereo_44k_60s.wav \
            flac_1000_60s.flac:tone1000_s16_stereo_44k_60s.wav; do
    f=${pair%%:*} wav=${pair#*:}
    ours=$(timeout $((seconds + 30)) wine "$qvplay" "Z:$media/$f" "$seconds" 2>/dev/null | tr -d "\r")
    ref=$(share paplay "$media/$wav")
    printf "%-22s %-28s paplay (WAV): %s\n" "$f" "${ours#*: }" "$ref"
done
' bench "$seconds" "$media" "$qvplay"

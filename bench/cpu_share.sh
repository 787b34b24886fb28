#!/usr/bin/env bash
# CPU share of playing 60-second test files for N seconds (default 30) on the null sink:
# our libraries under Wine (qvplay.exe), beside openmpt123 for the modules and paplay of the
# decoded WAV for the streams, playing the same to the same sink. Prints figures only.
#
# For our process it also gives the part spent in Wine's own audio threads (winepulse_*),
# and two rows of silence through our output stream alone (woken by the device's event, and
# by a timer as under Wine): what an open output costs before anything is decoded. The last
# rows are the whole player (quaverly.exe, driven through its open dialog and Play button).
#
#   bench/cpu_share.sh [SECONDS]      (after scripts/test.sh, or the Windows build and media)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
media=$PWD/build/media
qvplay=$PWD/build/windows/bench/player/qvplay.exe
driver=$PWD/build/windows/bench/player/drive_player.exe
player=$PWD/build/windows/app/quaverly.exe
cmake --build --preset windows --target qvplay drive_player >/dev/null
[ -f "$media/manifest.tsv" ] || scripts/gen-media.sh "$media" >/dev/null

exec scripts/with-testenv.sh bash -c '
seconds=$1 media=$2 qvplay=$3 driver=$4 player=$5
tck=$(getconf CLK_TCK)
# CPU seconds (user + system) of a process and its children, from /proc.
cpu_of() { awk "{ print (\$14 + \$15 + \$16 + \$17) / $tck }" /proc/$1/stat; }
# CPU seconds of the threads of a process whose names start with winepulse.
wine_audio_of() {
    local t sum=0
    for t in /proc/$1/task/*; do
        case $(cat "$t/comm" 2>/dev/null) in
        winepulse*) sum=$((sum + $(awk "{ print \$14 + \$15 }" "$t/stat" 2>/dev/null || echo 0))) ;;
        esac
    done
    awk -v s=$sum -v t=$tck "BEGIN { print s / t }"
}
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
measured() { # NAME SETTLE : the share of the newest process NAME over $seconds - SETTLE seconds
    # from SETTLE on, and the part in Wine audio threads (the process was started just before)
    local pid="" i
    for ((i = 0; i < 300; i++)); do
        pid=$(pgrep -nx "$1" || true)
        [ -z "$pid" ] || break
        sleep 0.1
    done
    sleep "$2"
    pid=$(pgrep -nx "$1" || true)
    [ -n "$pid" ] || { printf "did not start"; return; }
    local a wa b wb
    a=$(cpu_of "$pid") wa=$(wine_audio_of "$pid")
    sleep $((seconds - $2))
    b=$(cpu_of "$pid") wb=$(wine_audio_of "$pid")
    awk -v a="$a" -v b="$b" -v wa="$wa" -v wb="$wb" -v s="$((seconds - $2))" \
        "BEGIN { printf \"%.2f %% (Wine audio %.2f %%)\", 100 * (b - a) / s, 100 * (wb - wa) / s }"
}
ours() { # qvplay arguments...
    timeout $((seconds + 30)) wine "$qvplay" "$@" "$seconds" >/dev/null 2>&1 &
    measured qvplay.exe 2
    wait $! || true
}
whole() { # file : quaverly.exe playing it
    timeout $((seconds + 60)) wine "$driver" "$player" "Z:$media/$1" "$seconds" >/dev/null 2>&1 &
    measured quaverly.exe 8 # the open dialog, Play, and the 2 s the driver waits
    wait $! || true
}
printf "%-22s %-32s %s\n" file "ours (qvplay under Wine)" reference
for wake in event timer; do
    printf "%-22s %-32s\n" "silence, $wake" "$(ours --silence $wake)"
done
for f in mod_550_60s.mod mod32_550_60s.mod it_1100_60s.it; do
    mine=$(ours "Z:$media/$f")
    ref=$(share openmpt123 --batch --quiet "$media/$f")
    printf "%-22s %-32s openmpt123: %s\n" "$f" "$mine" "$ref"
done
for pair in ogg_440_60s.ogg:tone440_s16_stereo_44k_60s.wav mp3_660_60s.mp3:tone660_s16_stereo_44k_60s.wav \
            flac_1000_60s.flac:tone1000_s16_stereo_44k_60s.wav; do
    f=${pair%%:*} wav=${pair#*:}
    mine=$(ours "Z:$media/$f")
    ref=$(share paplay "$media/$wav")
    printf "%-22s %-32s paplay (WAV): %s\n" "$f" "$mine" "$ref"
done
for f in ogg_440_60s.ogg mod_550_60s.mod; do
    printf "%-22s %-32s\n" "player: $f" "$(whole "$f")"
done
' bench "$seconds" "$media" "$qvplay" "$driver" "$player"

#!/bin/bash
# Usage: scripts/gen-media.sh OUTDIR [BUILDDIR]
# Makes the test media set in OUTDIR: qvgen's WAVs, modules and broken files, then the streams
# encoded from its WAVs (oggenc, lame, flac, opusenc) and their broken variants. Every file is
# listed in OUTDIR/manifest.tsv (name, kind, format, frequency, seconds, rate, channels, orders,
# note). qvgen is built in BUILDDIR (default build/native, native preset) unless $QVGEN names a
# built one. Running it again redoes only what changed.
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    echo "usage: $0 OUTDIR [BUILDDIR]" >&2
    exit 2
fi

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=$1
build=${2:-$root/build/native}

for tool in oggenc lame flac opusenc ffmpeg; do
    if ! command -v "$tool" >/dev/null; then
        echo "$0: $tool is missing (Debian: vorbis-tools, lame, flac, opus-tools, ffmpeg)" >&2
        exit 1
    fi
done

qvgen=${QVGEN:-}
if [ -z "$qvgen" ]; then
    if [ ! -f "$build/CMakeCache.txt" ]; then
        cmake --preset native -S "$root" -B "$build" >/dev/null
    fi
    cmake --build "$build" --target qvgen -j2 >/dev/null
    qvgen=$build/tests/gen/qvgen
fi

qvgen=$(cd "$(dirname "$qvgen")" && pwd)/$(basename "$qvgen")
mkdir -p "$out"
out=$(cd "$out" && pwd)
"$qvgen" "$out"

# Encodes $2 into $1 with the rest of the command line, unless $1 is newer than $2.
encode() {
    local target=$1 source=$2
    shift 2
    if [ ! "$out/$target" -nt "$out/$source" ]; then
        "$@"
    fi
}

manifest() { # name format frequency seconds rate channels note
    printf '%s\tstream\t%s\t%.3f\t%.3f\t%d\t%d\t0\t%s\n' "$@" >>"$out/manifest.tsv"
    printf '%-44s %9d bytes  stream  %-8s %9.3f Hz %8.3f s\n' "$1" "$(stat -c %s "$out/$1")" \
        "$2" "$3" "$4"
}

cd "$out"
# Fixed serial numbers keep the Ogg and Opus output the same from run to run.
encode ogg_440.ogg tone440_s16_stereo_44k.wav \
    oggenc -Q -s 1 -q 4 -o ogg_440.ogg tone440_s16_stereo_44k.wav
encode ogg_440_60s.ogg tone440_s16_stereo_44k_60s.wav \
    oggenc -Q -s 1 -q 4 -o ogg_440_60s.ogg tone440_s16_stereo_44k_60s.wav
# lame adds no tag unless asked; its Info frame carries the encoder delay and padding.
encode mp3_660.mp3 tone660_s16_stereo_44k.wav \
    lame --quiet -b 128 tone660_s16_stereo_44k.wav mp3_660.mp3
encode mp3_660_id3v2.mp3 tone660_s16_stereo_44k.wav \
    lame --quiet -b 128 --id3v2-only --tt "Quaverly 660 Hz" --ta "Quaverly tests" \
    tone660_s16_stereo_44k.wav mp3_660_id3v2.mp3
encode mp3_660_60s.mp3 tone660_s16_stereo_44k_60s.wav \
    lame --quiet -b 128 tone660_s16_stereo_44k_60s.wav mp3_660_60s.mp3
encode flac_1000.flac tone1000_s16_stereo_44k.wav \
    flac -s -f -o flac_1000.flac tone1000_s16_stereo_44k.wav
encode flac_1000_60s.flac tone1000_s16_stereo_44k_60s.wav \
    flac -s -f -o flac_1000_60s.flac tone1000_s16_stereo_44k_60s.wav
encode opus_880.opus tone880_s16_stereo_48k.wav \
    opusenc --quiet --serial 1 tone880_s16_stereo_48k.wav opus_880.opus
# The formats only the system decodes. Bit-exact output, so that a rerun writes the same bytes.
ffmpeg_to() {
    local target=$1 source=$2
    shift 2
    encode "$target" "$source" ffmpeg -nostdin -loglevel error -y -i "$source" -map_metadata -1 \
        -fflags +bitexact -flags:a +bitexact "$@" "$target"
}
encode tone440_s16_stereo_44k_6s.wav tone440_s16_stereo_44k.wav \
    sox -n -r 44100 -c 2 -b 16 tone440_s16_stereo_44k_6s.wav synth 6.3 sine 440 gain -6
ffmpeg_to aac_440.m4a tone440_s16_stereo_44k_6s.wav -c:a aac -b:a 128k
ffmpeg_to aac_440_60s.m4a tone440_s16_stereo_44k_60s.wav -c:a aac -b:a 128k
ffmpeg_to alac_660.m4a tone660_s16_stereo_44k.wav -c:a alac
ffmpeg_to aac_1000.aac tone1000_s16_stereo_44k.wav -c:a aac -b:a 128k -f adts
ffmpeg_to wma_440.wma tone440_s16_stereo_44k.wav -c:a wmav2 -b:a 128k
# 5.1 AAC with its tone on the centre channel alone, as a film's dialogue is.
encode aac51_centre_550.m4a tone440_s16_stereo_44k.wav \
    ffmpeg -nostdin -loglevel error -y -f lavfi -i "sine=frequency=550:sample_rate=44100:duration=3" \
    -filter_complex "[0]volume=4,pan=5.1|FC=c0[a]" -map "[a]" -map_metadata -1 \
    -fflags +bitexact -flags:a +bitexact -c:a aac -b:a 256k aac51_centre_550.m4a
# A download cut short: its index (in front) says 60 s, its data stops after about 20 s.
ffmpeg_to aac_1000_60s_faststart.m4a tone1000_s16_stereo_44k_60s.wav -c:a aac -b:a 128k \
    -movflags +faststart
if [ ! aac_1000_cut20s.m4a -nt aac_1000_60s_faststart.m4a ]; then
    head -c $(($(stat -c %s aac_1000_60s_faststart.m4a) / 3)) aac_1000_60s_faststart.m4a \
        >aac_1000_cut20s.m4a
fi

# The PCM containers and codecs libsndfile reads, each at a pitch and length of its own.
once() { # target command...: made when missing
    local target=$1
    shift
    if [ ! -s "$target" ]; then
        "$@"
    fi
}
pcm_flavour() { # target rate channels seconds frequency sox-output-options...
    local target=$1 rate=$2 channels=$3 seconds=$4 frequency=$5
    shift 5
    once "$target" sox -n -r "$rate" -c "$channels" "$@" "$target" synth "$seconds" sine \
        "$frequency" gain -6
}
lavfi_flavour() { # target rate seconds frequency ffmpeg-output-options...
    local target=$1 rate=$2 seconds=$3 frequency=$4
    shift 4
    once "$target" ffmpeg -nostdin -loglevel error -y -f lavfi \
        -i "sine=frequency=$frequency:sample_rate=$rate:duration=$seconds" -ac 2 \
        -map_metadata -1 -fflags +bitexact -flags:a +bitexact "$@" "$target"
}
pcm_flavour pcm_f64_300.wav 44100 2 3 300 -e floating-point -b 64
pcm_flavour pcm_alaw_350.wav 8000 1 4 350 -e a-law
pcm_flavour pcm_ulaw_400.wav 8000 1 5 400 -e u-law
pcm_flavour pcm_ima_450.wav 22050 2 3 450 -e ima-adpcm
pcm_flavour pcm_msadpcm_500.wav 22050 2 4 500 -e ms-adpcm # its last block filled: 4.039 s
# WAVE_FORMAT_EXTENSIBLE 5.1 with the tone on the front pair.
once pcm_51_560.wav ffmpeg -nostdin -loglevel error -y -f lavfi \
    -i "sine=frequency=560:sample_rate=48000:duration=5" -filter_complex \
    "[0]volume=4,pan=5.1|FL=c0|FR=c0[a]" -map "[a]" -map_metadata -1 -fflags +bitexact \
    -flags:a +bitexact -c:a pcm_s24le pcm_51_560.wav
lavfi_flavour pcm_rf64_630.wav 48000 3 630 -rf64 always -c:a pcm_s16le -f wav
pcm_flavour pcm_700.aiff 44100 2 4 700
pcm_flavour pcm_float_780.aifc 44100 2 5 780 -e floating-point
pcm_flavour pcm_ulaw_870.au 8000 2 3 870 -e u-law
pcm_flavour pcm_24_960.w64 96000 2 4 960 -b 24
lavfi_flavour pcm_1070.caf 44100 5 1070 -c:a pcm_s16be -f caf
# 5.1 with a tone of its own on each channel: FL, FR, FC, LFE, BL, BR.
once pcm_51_tones.wav ffmpeg -nostdin -loglevel error -y \
    -f lavfi -i sine=frequency=400:sample_rate=48000:duration=4 \
    -f lavfi -i sine=frequency=500:sample_rate=48000:duration=4 \
    -f lavfi -i sine=frequency=630:sample_rate=48000:duration=4 \
    -f lavfi -i sine=frequency=60:sample_rate=48000:duration=4 \
    -f lavfi -i sine=frequency=800:sample_rate=48000:duration=4 \
    -f lavfi -i sine=frequency=1000:sample_rate=48000:duration=4 \
    -filter_complex "[0][1][2][3][4][5]amerge=inputs=6,volume=2,aformat=channel_layouts=5.1" \
    -map_metadata -1 -fflags +bitexact -flags:a +bitexact -c:a pcm_s16le pcm_51_tones.wav
for f in pcm_f64_300.wav:300:3:44100:2 pcm_alaw_350.wav:350:4:8000:1 \
    pcm_ulaw_400.wav:400:5:8000:1 pcm_ima_450.wav:450:3:22050:2 \
    pcm_msadpcm_500.wav:500:4.039:22050:2 pcm_51_560.wav:560:5:48000:6 \
    pcm_rf64_630.wav:630:3:48000:2 pcm_700.aiff:700:4:44100:2 pcm_float_780.aifc:780:5:44100:2 \
    pcm_ulaw_870.au:870:3:8000:2 pcm_24_960.w64:960:4:96000:2 pcm_1070.caf:1070:5:44100:2; do
    IFS=: read -r name hz seconds rate channels <<<"$f"
    manifest "$name" pcm "$hz" "$seconds" "$rate" "$channels" "read by libsndfile"
done
# Mixed to mono, the centre's 630 Hz (on both sides) is the strongest.
manifest pcm_51_tones.wav pcm 630 4 48000 6 "5.1: 400 500 630 60 800 1000 Hz on FL FR FC LFE BL BR"

# Seconds are the source's: the decoders' exact lengths are for the tests to find.
manifest ogg_440.ogg ogg 440 3 44100 2 "oggenc -q 4"
manifest ogg_440_60s.ogg ogg 440 60 44100 2 "oggenc -q 4"
manifest mp3_660.mp3 mp3 660 3 44100 2 "lame 128 kbit/s, no tag"
manifest mp3_660_id3v2.mp3 mp3 660 3 44100 2 "lame 128 kbit/s, ID3v2 tag"
manifest mp3_660_60s.mp3 mp3 660 60 44100 2 "lame 128 kbit/s, no tag"
manifest flac_1000.flac flac 1000 3 44100 2 "flac, 16-bit"
manifest flac_1000_60s.flac flac 1000 60 44100 2 "flac, 16-bit"
manifest opus_880.opus opus 880 3 48000 2 "opusenc defaults"
manifest aac_440.m4a aac 440 6.3 44100 2 "ffmpeg aac 128 kbit/s in MP4"
manifest aac_440_60s.m4a aac 440 60 44100 2 "ffmpeg aac 128 kbit/s in MP4"
manifest alac_660.m4a alac 660 3 44100 2 "ffmpeg alac in MP4"
manifest aac_1000.aac aac 1000 3.03 44100 2 "ffmpeg aac 128 kbit/s, raw ADTS"
manifest aac51_centre_550.m4a aac 550 3 44100 6 "ffmpeg aac 5.1, the tone on the centre alone"
printf '%s\tsystem\twma\t440\t3\t44100\t2\t0\t%s\n' wma_440.wma \
    "ffmpeg wmav2: decoded on Windows only (Wine has no ASF source)" >>"$out/manifest.tsv"

# Broken streams keep their first header: the Ogg identification page (27 + 1 + 30 bytes), the
# Opus one (27 + 1 + 19), "fLaC" and STREAMINFO (4 + 4 + 34), MP3's first (Info) frame.
"$qvgen" --broken ogg_440.ogg 58 .
"$qvgen" --broken opus_880.opus 47 .
"$qvgen" --broken flac_1000.flac 42 .
"$qvgen" --broken mp3_660.mp3 417 .
"$qvgen" --broken aac_440.m4a 32 . # the ftyp box

# Tagged tracks for the system's media display: "<format> title" by "<format> artist", and a
# red pixel as the cover where the format carries one. Not in the manifest: they are tones
# already listed.
printf '\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x01\0\0\0\x01\x08\x02\0\0\0\x90\x77\x53\xde\0\0\0\x0cIDAT\x78\x9c\x63\xf8\xcf\xc0\0\0\x03\x01\x01\0\xc9\xfe\x92\xef\0\0\0\0IEND\xae\x42\x60\x82' \
    >cover.png.tmp
cmp -s cover.png.tmp cover.png || mv cover.png.tmp cover.png
rm -f cover.png.tmp
encode tagged.ogg tone440_s16_stereo_44k.wav oggenc -Q -s 1 -q 0 -t "Ogg title" -a "Ogg artist" \
    -o tagged.ogg tone440_s16_stereo_44k.wav
encode tagged.mp3 tone660_s16_stereo_44k.wav lame --quiet -b 64 --id3v2-only --tt "MP3 title" \
    --ta "MP3 artist" --ti cover.png tone660_s16_stereo_44k.wav tagged.mp3
encode tagged.flac tone1000_s16_stereo_44k.wav flac -s -f -T "TITLE=FLAC title" \
    -T "ARTIST=FLAC artist" --picture=cover.png -o tagged.flac tone1000_s16_stereo_44k.wav
encode tagged.opus tone880_s16_stereo_48k.wav opusenc --quiet --serial 1 --title "Opus title" \
    --artist "Opus artist" tone880_s16_stereo_48k.wav tagged.opus
ffmpeg_to tagged.m4a tone440_s16_stereo_44k.wav -c:a aac -b:a 64k -metadata "title=M4A title" \
    -metadata "artist=M4A artist"
# An XM's song name is the 20 bytes at offset 17.
if [ ! tagged.xm -nt xm_770.xm ]; then
    cp xm_770.xm tagged.xm
    printf 'Module title\0\0\0\0\0\0\0\0' | dd of=tagged.xm bs=1 seek=17 conv=notrunc status=none
fi
# A MIDI file whose first track is named; one note.
printf 'MThd\0\0\0\x06\0\x01\0\x01\0\x60MTrk\0\0\0\x1a\0\xff\x03\x0aMIDI title\0\x90\x3c\x64\x60\x80\x3c\0\0\xff\x2f\0' \
    >tagged.mid

// MultiTracker MTM, version 1.0. Little-endian.
//   0 "MTM" 0x10 name[20] | 24 track count, last pattern, last order, comment length, sample
//   count, attributes, rows per track, channels | 34 pan[32] (0..15) | 66 sample headers
//   (37 bytes: name[22], length, loop start, loop end, finetune, volume, attributes)
//   | order table[128] | tracks (64 rows x 3 bytes; track 0 is the empty one and not stored)
//   | per pattern 32 track numbers | comment | sample data (unsigned 8-bit).
// A track row: note << 2 | sample >> 4, (sample & 15) << 4 | effect, parameter (MOD effects).
#include "tests/gen/detail.h"

namespace qvgen::detail {
namespace {

constexpr unsigned kNote = 24; // plays the sample at 8363 Hz (finetune 0)

// A track whose only event is on row 0.
void track(Writer& w, unsigned note, unsigned sample, unsigned effect, unsigned param) {
    w.u8((note << 2) | (sample >> 4));
    w.u8(((sample & 0x0f) << 4) | effect);
    w.u8(param);
    w.zeros(63 * 3);
}

} // namespace

Bytes writeMtm(const ModuleSpec& params) {
    const LoopedSine sine = sineFor(params);
    Writer w;
    w.text("MTM", 3);
    w.u8(0x10);
    w.text("quaverly tone", 20);
    w.u16(3); // tracks
    w.u8(0);  // last pattern
    w.u8(params.orders - 1);
    w.u16(0); // comment length
    w.u8(1);  // samples
    w.u8(0);
    w.u8(params.rows);
    w.u8(params.channels);
    for (int c = 0; c < 32; ++c)
        w.u8(c % 2 == 0 ? 0 : 15);

    // The loop's last sample is left out when played, so the data holds one more sample (a copy
    // of the first) and the loop ends past it.
    const auto length = static_cast<uint32_t>(sine.data.size() + 1);
    w.text("sine", 22);
    w.u32(length);
    w.u32(0);
    w.u32(length);
    w.u8(0);
    w.u8(voiceVolume(params.voices));
    w.u8(0); // 8-bit

    w.zeros(128); // every order plays pattern 0

    // MTM has no header speed or tempo: track 1 sets the speed, track 2 the tempo (Fxx below
    // 0x20 is speed, above it tempo); track 3 only strikes the note.
    const bool secondVoice = params.voices >= 2;
    track(w, kNote, 1, 0xf, params.speed);
    track(w, secondVoice ? kNote : 0, secondVoice ? 1 : 0, 0xf, params.tempo);
    track(w, kNote, 1, 0, 0);

    for (int c = 0; c < 32; ++c)
        w.u16(c >= params.channels ? 0 : c == 0 ? 1 : c == 1 ? 2 : c < params.voices ? 3 : 0);

    for (int8_t s : sine.data)
        w.u8(static_cast<uint8_t>(s) ^ 0x80);
    w.u8(static_cast<uint8_t>(sine.data[0]) ^ 0x80);
    return w.bytes;
}

} // namespace qvgen::detail

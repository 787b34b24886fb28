// FastTracker 2 XM, version 1.04. Little-endian.
//   0 "Extended Module: " name[20] 0x1A tracker[20] 0x0104 | 60 header size (276, counted from
//   60) | 64 song length, restart, channels, patterns, instruments, flags (1: linear periods),
//   speed, tempo | 80 order table[256] | patterns | instruments, each followed by its samples.
// A pattern: header size 9, packing 0, rows, data size, then per row and channel either a plain
// 5-byte cell or a byte with bit 7 set whose bits 0..4 say which of note, instrument, volume
// column, effect, parameter follow.
#include "tests/gen/detail.h"

namespace qvgen::detail {
namespace {

constexpr unsigned kNoteC4 = 49; // 1 is C-0; C-4 with relative note 0 plays at 8363 Hz
constexpr unsigned kSetPan = 8;  // effect 8xx: panning 0 (left) .. 255 (right)

} // namespace

Bytes writeXm(const ModuleSpec& params) {
    const LoopedSine sine = sineFor(params);
    Writer w;
    w.text("Extended Module: ", 17);
    w.text("quaverly tone", 20);
    w.u8(0x1a);
    w.text("quaverly tests/gen", 20);
    w.u16(0x0104);
    w.u32(276);
    w.u16(params.orders);
    w.u16(0);
    w.u16(params.channels);
    w.u16(1); // patterns
    w.u16(1); // instruments
    w.u16(1);
    w.u16(params.speed);
    w.u16(params.tempo);
    w.zeros(256); // every order plays pattern 0

    w.u32(9);
    w.u8(0);
    w.u16(params.rows);
    const size_t packedSize = w.pos();
    w.u16(0);
    const size_t data = w.pos();
    for (int row = 0; row < params.rows; ++row) {
        for (int c = 0; c < params.channels; ++c) {
            if (row == 0 && c < params.voices) {
                w.u8(0x80 | 1 | 2 | 8 | 16);
                w.u8(kNoteC4);
                w.u8(1);
                w.u8(kSetPan);
                w.u8(c % 2 == 0 ? 0 : 255);
            } else {
                w.u8(0x80);
            }
        }
    }
    w.put16(packedSize, static_cast<unsigned>(w.pos() - data));

    w.u32(263); // instrument header size, with the sample map and envelopes
    w.text("sine", 22);
    w.u8(0);
    w.u16(1); // samples
    w.u32(40);
    w.zeros(96); // every note plays sample 1
    w.zeros(96); // envelopes (off)
    w.zeros(2 + 6 + 2 + 4);
    w.u16(0); // fadeout
    w.zeros(22);

    w.u32(static_cast<uint32_t>(sine.data.size()));
    w.u32(0);
    w.u32(static_cast<uint32_t>(sine.data.size()));
    w.u8(voiceVolume(params.voices));
    w.u8(0);   // finetune
    w.u8(1);   // forward loop, 8-bit
    w.u8(128); // panning (row 0 sets it)
    w.u8(0);   // relative note
    w.u8(0);
    w.text("sine", 22);
    int8_t previous = 0; // samples are stored as deltas
    for (int8_t s : sine.data) {
        w.u8(static_cast<uint8_t>(s - previous));
        previous = s;
    }
    return w.bytes;
}

} // namespace qvgen::detail

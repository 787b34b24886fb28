// Scream Tracker 3 S3M. Little-endian; "parapointers" are offsets / 16.
//   0 title[28] 0x1A 16 | 32 order count, sample count, pattern count, flags, tracker, 2 (samples
//   unsigned) | 44 "SCRM" | 48 global volume, speed, tempo, master volume, 16, 252 (pan table
//   follows) | 64 channel settings[32] | 96 orders | sample and pattern parapointers | pan table
//   then, each on a 16-byte boundary: the sample header ("SCRS"), the pattern, the sample data.
// A pattern is a 16-bit length, then 64 rows of events (channel | 32: note and sample,
// | 128: command and value), each row ended by 0.
#include "tests/gen/detail.h"

namespace qvgen::detail {
namespace {

constexpr unsigned kNoteC4 = 0x40; // octave 4, C: plays at the sample's C2Spd
constexpr unsigned kC2Spd = 8363;
constexpr unsigned kPatternBreak = 3; // 'C'

unsigned para(size_t offset) {
    return static_cast<unsigned>(offset / 16);
}

} // namespace

Bytes writeS3m(const ModuleSpec& params) {
    const LoopedSine sine = sineFor(params);
    Writer w;
    w.text("quaverly tone", 28);
    w.u8(0x1a);
    w.u8(16);
    w.zeros(2);
    w.u16(params.orders);
    w.u16(1); // samples
    w.u16(1); // patterns
    w.u16(0);
    w.u16(0x1320);
    w.u16(2);
    w.text("SCRM", 4);
    w.u8(64);
    w.u8(params.speed);
    w.u8(params.tempo);
    w.u8(0x80 | 48); // stereo
    w.u8(16);
    w.u8(252);
    w.zeros(8);
    w.u16(0);
    // Channels alternate between the left (0..7) and right (8..15) groups; 255 is unused.
    for (int c = 0; c < 32; ++c)
        w.u8(c < params.channels ? (c % 2 == 0 ? c / 2 : 8 + c / 2) : 255);
    w.zeros(static_cast<size_t>(params.orders)); // every order plays pattern 0
    const size_t samplePointer = w.pos();
    w.u16(0);
    const size_t patternPointer = w.pos();
    w.u16(0);
    // Pan table: bit 5 says the value (0 left .. 15 right) is given.
    for (int c = 0; c < 32; ++c)
        w.u8(c < params.channels ? 0x20 | (c % 2 == 0 ? 0 : 15) : 0);

    w.align(16);
    w.put16(samplePointer, para(w.pos()));
    w.u8(1); // a sample
    w.text("sine.raw", 12);
    const size_t memseg = w.pos();
    w.zeros(3);
    w.u32(static_cast<uint32_t>(sine.data.size()));
    w.u32(0);
    w.u32(static_cast<uint32_t>(sine.data.size()));
    w.u8(voiceVolume(params.voices));
    w.u8(0);
    w.u8(0);
    w.u8(1); // looped
    w.u32(kC2Spd);
    w.zeros(12);
    w.text("sine", 28);
    w.text("SCRS", 4);

    w.align(16);
    w.put16(patternPointer, para(w.pos()));
    const size_t pattern = w.pos();
    w.u16(0);
    for (int row = 0; row < 64; ++row) {
        if (row == 0) {
            for (int c = 0; c < params.voices; ++c) {
                const bool breakHere = c == 0 && params.rows == 1;
                w.u8(c | 32 | (breakHere ? 128 : 0));
                w.u8(kNoteC4);
                w.u8(1);
                if (breakHere) {
                    w.u8(kPatternBreak);
                    w.u8(0);
                }
            }
        } else if (row == params.rows - 1) {
            w.u8(0 | 128);
            w.u8(kPatternBreak);
            w.u8(0);
        }
        w.u8(0);
    }
    w.put16(pattern, static_cast<unsigned>(w.pos() - pattern));

    w.align(16);
    const unsigned data = para(w.pos());
    w.bytes[memseg] = static_cast<uint8_t>(data >> 16);
    w.put16(memseg + 1, data & 0xffff);
    for (int8_t s : sine.data)
        w.u8(static_cast<uint8_t>(s) ^ 0x80);
    return w.bytes;
}

} // namespace qvgen::detail

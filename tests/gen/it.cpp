// Impulse Tracker IT (format 2.14), sample mode (no instruments). Little-endian.
//   0 "IMPM" name[26] highlight | 32 order, instrument, sample, pattern counts, version 0x0214,
//   compatible 0x0214, flags (1 stereo, 8 linear slides), special | 48 global volume, mix
//   volume, speed, tempo, separation, 0, message length and offset, reserved | 64 channel pan[64]
//   | 128 channel volume[64] | 192 orders (255 ends the list) | sample offsets | pattern offsets
//   | sample header ("IMPS") | pattern | sample data (signed 8-bit).
// A pattern: data length, rows, 4 reserved bytes, then per row events (channel + 1 | 128, a mask:
// 1 note, 2 sample, 4 volume, 8 effect, then those fields), each row ended by 0.
#include "tests/gen/detail.h"

namespace qvgen::detail {
namespace {

constexpr unsigned kNoteC5 = 60; // plays the sample at its C5Speed
constexpr unsigned kC5Speed = 8363;

} // namespace

Bytes writeIt(const ModuleSpec& params) {
    const LoopedSine sine = sineFor(params);
    Writer w;
    w.text("IMPM", 4);
    w.text("quaverly tone", 26);
    w.u16(0x1004);
    w.u16(params.orders + 1);
    w.u16(0); // instruments
    w.u16(1); // samples
    w.u16(1); // patterns
    w.u16(0x0214);
    w.u16(0x0214);
    w.u16(1 | 8);
    w.u16(0);
    w.u8(128);
    w.u8(48);
    w.u8(params.speed);
    w.u8(params.tempo);
    w.u8(128);
    w.u8(0);
    w.u16(0);
    w.u32(0);
    w.u32(0);
    // Pan 0 is left, 64 right; 128 and up disables a channel.
    for (int c = 0; c < 64; ++c)
        w.u8(c < params.channels ? (c % 2 == 0 ? 0 : 64) : 128 | 32);
    for (int c = 0; c < 64; ++c)
        w.u8(64);
    w.zeros(static_cast<size_t>(params.orders)); // every order plays pattern 0
    w.u8(255);
    const size_t sampleOffset = w.pos();
    w.u32(0);
    const size_t patternOffset = w.pos();
    w.u32(0);

    w.put32(sampleOffset, static_cast<uint32_t>(w.pos()));
    w.text("IMPS", 4);
    w.text("sine.raw", 12);
    w.u8(0);
    w.u8(64);
    w.u8(1 | 16); // sample present, looped
    w.u8(voiceVolume(params.voices));
    w.text("sine", 26);
    w.u8(1);  // signed
    w.u8(32); // default pan, not used
    w.u32(static_cast<uint32_t>(sine.data.size()));
    w.u32(0);
    w.u32(static_cast<uint32_t>(sine.data.size()));
    w.u32(kC5Speed);
    w.u32(0);
    w.u32(0);
    const size_t dataPointer = w.pos();
    w.u32(0);
    w.zeros(4); // vibrato

    w.put32(patternOffset, static_cast<uint32_t>(w.pos()));
    const size_t length = w.pos();
    w.u16(0);
    w.u16(params.rows);
    w.zeros(4);
    const size_t data = w.pos();
    for (int c = 0; c < params.voices; ++c) {
        w.u8((c + 1) | 128);
        w.u8(1 | 2);
        w.u8(kNoteC5);
        w.u8(1);
    }
    for (int row = 0; row < params.rows; ++row)
        w.u8(0);
    w.put16(length, static_cast<unsigned>(w.pos() - data));

    w.put32(dataPointer, static_cast<uint32_t>(w.pos()));
    w.raw(sine.data.data(), sine.data.size());
    return w.bytes;
}

} // namespace qvgen::detail

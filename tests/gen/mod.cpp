// ProTracker MOD: "M.K." for 4 channels, "xCHN" / "xxCH" for more. Big-endian words.
//   0 title[20] | 20 31 x sample header (30 bytes) | 950 song length | 951 restart
//   952 order table[128] | 1080 signature | 1084 patterns (64 rows x channels x 4 bytes)
//   | sample data (signed 8-bit)
// Channels are panned left, right, right, left, and so on.
#include "tests/gen/detail.h"

#include <cstdio>

namespace qvgen::detail {
namespace {

constexpr unsigned kPeriodC3 = 428; // plays a sample at 3546895 / 428 = 8287.1 Hz

void cell(Writer& w, size_t at, unsigned sample, unsigned period, unsigned effect, unsigned param) {
    w.bytes[at] = static_cast<uint8_t>((sample & 0xf0) | ((period >> 8) & 0x0f));
    w.bytes[at + 1] = static_cast<uint8_t>(period & 0xff);
    w.bytes[at + 2] = static_cast<uint8_t>(((sample & 0x0f) << 4) | (effect & 0x0f));
    w.bytes[at + 3] = static_cast<uint8_t>(param);
}

// Sets only the effect of a cell, keeping its note.
void effect(Writer& w, size_t at, unsigned effect, unsigned param) {
    w.bytes[at + 2] = static_cast<uint8_t>((w.bytes[at + 2] & 0xf0) | (effect & 0x0f));
    w.bytes[at + 3] = static_cast<uint8_t>(param);
}

std::string signature(int channels) {
    if (channels == 4)
        return "M.K.";
    char s[8];
    std::snprintf(s, sizeof s, channels < 10 ? "%dCHN" : "%dCH", channels);
    return s;
}

} // namespace

Bytes writeMod(const ModuleSpec& params) {
    const LoopedSine sine = sineFor(params);
    Writer w;
    w.text("quaverly tone", 20);

    w.text("sine", 22);
    w.u16be(static_cast<unsigned>(sine.data.size() / 2)); // length in words
    w.u8(0);                                              // finetune
    w.u8(voiceVolume(params.voices));
    w.u16be(0);                                           // loop start (words)
    w.u16be(static_cast<unsigned>(sine.data.size() / 2)); // loop length (words)
    for (int i = 1; i < 31; ++i) {
        w.zeros(28);
        w.u16be(1); // an unused sample's loop length is one word
    }

    w.u8(params.orders);
    w.u8(127);
    w.zeros(128); // every order plays pattern 0
    w.text(signature(params.channels), 4);

    const size_t pattern = w.pos();
    const size_t rowBytes = 4 * static_cast<size_t>(params.channels);
    w.zeros(64 * rowBytes);
    for (int c = 0; c < params.channels; ++c) {
        const bool voice = c < params.voices;
        // MOD has no header speed or tempo: Fxx below 0x20 sets the speed, above the tempo.
        const unsigned effect = c < 2 ? 0xf : 0;
        const unsigned param = c == 0 ? params.speed : c == 1 ? params.tempo : 0;
        cell(w, pattern + 4 * c, voice ? 1 : 0, voice ? kPeriodC3 : 0, effect, param);
    }
    if (params.rows < 64) // break to the next order's first row (channel 3 is free of Fxx)
        effect(w, pattern + (params.rows - 1) * rowBytes + 4 * 3, 0xd, 0);

    w.raw(sine.data.data(), sine.data.size());
    return w.bytes;
}

} // namespace qvgen::detail

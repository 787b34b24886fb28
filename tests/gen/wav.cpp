// RIFF/WAVE tones. Little-endian chunks: "RIFF" size "WAVE", then "fmt " (format tag 1 PCM or
// 3 IEEE float, or 0xFFFE extensible with the real format in its sub-format GUID), "fact" (frame
// count; required for anything but PCM), "data" (interleaved frames, padded to an even size).
#include "tests/gen/detail.h"

#include <cmath>
#include <numbers>

namespace qvgen {
namespace {

constexpr unsigned kPcm = 1, kFloat = 3, kExtensible = 0xfffe;

int bitsOf(SampleFormat f) {
    switch (f) {
    case SampleFormat::U8: return 8;
    case SampleFormat::S16: return 16;
    case SampleFormat::S24: return 24;
    case SampleFormat::S32: return 32;
    case SampleFormat::F32: return 32;
    }
    return 0;
}

// One sample of value v (-1..1) in the given format.
void putSample(detail::Writer& w, SampleFormat f, double v) {
    switch (f) {
    case SampleFormat::U8: w.u8(static_cast<unsigned>(std::lround(128.0 + 127.0 * v))); break;
    case SampleFormat::S16: w.u16(static_cast<uint16_t>(std::lround(32767.0 * v))); break;
    case SampleFormat::S24: {
        const auto s = static_cast<uint32_t>(std::lround(8388607.0 * v));
        w.u16(s & 0xffff);
        w.u8((s >> 16) & 0xff);
        break;
    }
    case SampleFormat::S32: w.u32(static_cast<uint32_t>(std::llround(2147483647.0 * v))); break;
    case SampleFormat::F32: {
        const float x = static_cast<float>(v);
        uint32_t bits;
        std::memcpy(&bits, &x, sizeof bits);
        w.u32(bits);
        break;
    }
    }
}

} // namespace

Bytes rf64Header(int rate, int channels, uint64_t frames) {
    const uint64_t data = frames * 2 * static_cast<uint64_t>(channels);
    detail::Writer w;
    auto u64 = [&w](uint64_t v) {
        w.u32(static_cast<uint32_t>(v));
        w.u32(static_cast<uint32_t>(v >> 32));
    };
    w.text("RF64", 4);
    w.u32(0xFFFFFFFFu);
    w.text("WAVE", 4);
    w.text("ds64", 4);
    w.u32(28);
    u64(4 + 36 + 24 + 8 + data); // the RIFF size: all after its own field
    u64(data);
    u64(frames);
    w.u32(0); // no table of other chunks' sizes
    w.text("fmt ", 4);
    w.u32(16);
    w.u16(kPcm);
    w.u16(channels);
    w.u32(rate);
    w.u32(rate * 2 * channels);
    w.u16(2 * channels);
    w.u16(16);
    w.text("data", 4);
    w.u32(0xFFFFFFFFu);
    return w.bytes;
}

Bytes wavTone(const WavSpec& params) {
    detail::require(params.channels == 1 || params.channels == 2, "channels must be 1 or 2");
    detail::require(params.rate >= 1000 && params.rate <= 384000, "rate out of 1000..384000");
    detail::require(params.seconds >= 0.0 && params.amplitude >= 0.0 && params.amplitude <= 1.0,
                    "seconds or amplitude out of range");
    const bool isFloat = params.format == SampleFormat::F32;
    const unsigned bits = bitsOf(params.format);
    const unsigned blockAlign = params.channels * bits / 8;
    const auto frames = static_cast<uint32_t>(std::llround(params.seconds * params.rate));
    const uint32_t dataBytes = frames * blockAlign;

    detail::Writer w;
    w.text("RIFF", 4);
    w.u32(0);
    w.text("WAVE", 4);

    w.text("fmt ", 4);
    w.u32(params.extensible ? 40 : isFloat ? 18 : 16);
    w.u16(params.extensible ? kExtensible : isFloat ? kFloat : kPcm);
    w.u16(params.channels);
    w.u32(params.rate);
    w.u32(params.rate * blockAlign);
    w.u16(blockAlign);
    w.u16(bits);
    if (params.extensible) {
        w.u16(22);
        w.u16(bits);                             // valid bits
        w.u32(params.channels == 1 ? 0x4 : 0x3); // front centre, or front left and right
        w.u32(isFloat ? kFloat : kPcm);          // sub-format GUID: the tag, then a fixed tail
        const uint8_t tail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                  0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71};
        w.raw(tail, sizeof tail);
    } else if (isFloat) {
        w.u16(0);
    }
    if (isFloat) {
        w.text("fact", 4);
        w.u32(4);
        w.u32(frames);
    }

    w.text("data", 4);
    w.u32(dataBytes);
    w.bytes.reserve(w.pos() + dataBytes + 1);
    const double step = 2.0 * std::numbers::pi * params.frequency / params.rate;
    for (uint32_t i = 0; i < frames; ++i) {
        const double v = params.amplitude * std::sin(step * i);
        for (int c = 0; c < params.channels; ++c)
            putSample(w, params.format, v);
    }
    if (dataBytes % 2 != 0)
        w.u8(0);
    w.put32(4, static_cast<uint32_t>(w.pos() - 8));
    return w.bytes;
}

size_t wavChunkOffset(const Bytes& wav, std::string_view id) {
    size_t at = 12;
    while (at + 8 <= wav.size()) {
        if (std::memcmp(&wav[at], id.data(), 4) == 0)
            return at;
        const uint32_t size = wav[at + 4] | wav[at + 5] << 8 | wav[at + 6] << 16 |
                              static_cast<uint32_t>(wav[at + 7]) << 24;
        at += 8 + static_cast<size_t>(size) + (size & 1);
    }
    return static_cast<size_t>(-1);
}

} // namespace qvgen

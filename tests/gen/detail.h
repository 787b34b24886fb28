// Shared by the writers in tests/gen: a byte builder and the looped tone sample.
#pragma once

#include "tests/gen/gen.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace qvgen::detail {

// Appends little- or big-endian fields; offsets let a writer fill in a pointer later.
class Writer {
public:
    Bytes bytes;

    size_t pos() const { return bytes.size(); }
    void u8(unsigned v) { bytes.push_back(static_cast<uint8_t>(v)); }
    void u16(unsigned v) {
        u8(v & 0xff);
        u8((v >> 8) & 0xff);
    }
    void u32(uint32_t v) {
        u16(v & 0xffff);
        u16(v >> 16);
    }
    void u16be(unsigned v) {
        u8((v >> 8) & 0xff);
        u8(v & 0xff);
    }
    void zeros(size_t n) { bytes.insert(bytes.end(), n, 0); }
    // A fixed-width text field, cut or padded with zeros.
    void text(std::string_view s, size_t width) {
        for (size_t i = 0; i < width; ++i)
            u8(i < s.size() ? static_cast<uint8_t>(s[i]) : 0);
    }
    void raw(const void* p, size_t n) {
        const auto* b = static_cast<const uint8_t*>(p);
        bytes.insert(bytes.end(), b, b + n);
    }
    void align(size_t n) {
        while (bytes.size() % n != 0)
            u8(0);
    }
    void put16(size_t at, unsigned v) {
        bytes.at(at) = v & 0xff;
        bytes.at(at + 1) = (v >> 8) & 0xff;
    }
    void put32(size_t at, uint32_t v) {
        put16(at, v & 0xffff);
        put16(at + 2, v >> 16);
    }
};

inline void require(bool ok, const char* what) {
    if (!ok)
        throw std::invalid_argument(std::string("qvgen: ") + what);
}

// A looped sine: `cycles` whole periods in `data.size()` signed 8-bit samples, so that at a
// playback rate of `rate` samples per second it sounds at rate * cycles / size.
struct LoopedSine {
    std::vector<int8_t> data;
    int cycles = 0;
    double frequency(double rate) const { return rate * cycles / static_cast<double>(data.size()); }
};

// The shortest loop (a multiple of `step` samples, at most 4096) whose pitch at `rate` is within
// 0.001 % of `frequency`, else the closest one.
LoopedSine loopedSine(double rate, double frequency, size_t step = 1);

// Volume (of 64) for each of `voices` channels struck at once: full for a left/right pair, less
// for more, so that the channels of one side add up to about full scale.
int voiceVolume(int voices);

// The playback rate of the note each writer uses (see the writers for which note that is).
double playbackRate(ModuleFormat format);

// The sample a params's module loops (MOD stores lengths in words, so its loop is even).
LoopedSine sineFor(const ModuleSpec& params);

void validate(const ModuleSpec& params);

Bytes writeMod(const ModuleSpec& params);
Bytes writeS3m(const ModuleSpec& params);
Bytes writeXm(const ModuleSpec& params);
Bytes writeIt(const ModuleSpec& params);
Bytes writeMtm(const ModuleSpec& params);

} // namespace qvgen::detail

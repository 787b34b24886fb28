// What every module writer shares: the params's limits, the looped sine and its pitch.
#include "tests/gen/detail.h"

#include <cmath>
#include <numbers>

namespace qvgen {
namespace detail {

LoopedSine loopedSine(double rate, double frequency, size_t step) {
    constexpr size_t kMaxLength = 4096;
    size_t bestLength = 0;
    int bestCycles = 0;
    double bestError = 1e9;
    for (size_t n = step * ((16 + step - 1) / step); n <= kMaxLength; n += step) {
        const int cycles = static_cast<int>(std::lround(frequency * n / rate));
        if (cycles < 1 || 2 * static_cast<size_t>(cycles) >= n)
            continue;
        const double error = std::abs(rate * cycles / n - frequency) / frequency;
        if (error < bestError) {
            bestError = error;
            bestLength = n;
            bestCycles = cycles;
        }
        if (error < 1e-5)
            break;
    }
    require(bestLength != 0, "no loop fits that frequency");
    LoopedSine sine;
    sine.cycles = bestCycles;
    sine.data.resize(bestLength);
    for (size_t i = 0; i < bestLength; ++i) {
        const double phase = 2.0 * std::numbers::pi * bestCycles * static_cast<double>(i) /
                             static_cast<double>(bestLength);
        sine.data[i] = static_cast<int8_t>(std::lround(127.0 * std::sin(phase)));
    }
    return sine;
}

int voiceVolume(int voices) {
    if (voices <= 2)
        return 64;
    return std::max(1, 128 / voices);
}

double playbackRate(ModuleFormat format) {
    // MOD's period 428 is timed by the Amiga's (PAL) clock, 3546895 Hz / period. The others
    // play the note at which their sample runs at 8363 Hz: S3M C-4 with C2Spd 8363, XM C-4 with
    // no relative note, IT C-5 with C5Speed 8363, MTM note 24.
    return format == ModuleFormat::Mod ? 3546895.0 / 428.0 : 8363.0;
}

LoopedSine sineFor(const ModuleSpec& params) {
    return loopedSine(playbackRate(params.format), params.frequency,
                      params.format == ModuleFormat::Mod ? 2 : 1);
}

void validate(const ModuleSpec& s) {
    require(s.frequency >= 50.0 && s.frequency <= 2000.0, "frequency out of 50..2000 Hz");
    require(s.orders >= 1 && s.orders <= 128, "orders out of 1..128");
    require(s.speed >= 1 && s.speed <= 31, "speed out of 1..31");
    require(s.tempo >= 32 && s.tempo <= 255, "tempo out of 32..255");
    require(s.voices >= 1 && s.voices <= s.channels, "voices out of 1..channels");
    switch (s.format) {
    case ModuleFormat::Mod:
        require(s.channels == 4 || (s.channels % 2 == 0 && s.channels >= 6 && s.channels <= 32),
                "MOD channels: 4 or an even 6..32");
        require(s.rows >= 1 && s.rows <= 64, "MOD rows out of 1..64");
        break;
    case ModuleFormat::S3m:
        require(s.channels >= 1 && s.channels <= 16, "S3M channels out of 1..16");
        require(s.rows >= 1 && s.rows <= 64, "S3M rows out of 1..64");
        break;
    case ModuleFormat::Xm:
        require(s.channels >= 1 && s.channels <= 32, "XM channels out of 1..32");
        require(s.rows >= 1 && s.rows <= 256, "XM rows out of 1..256");
        break;
    case ModuleFormat::It:
        require(s.channels >= 1 && s.channels <= 64, "IT channels out of 1..64");
        require(s.rows >= 1 && s.rows <= 200, "IT rows out of 1..200");
        break;
    case ModuleFormat::Mtm:
        // Two channels at least: MTM has no header speed and tempo, so row 0 sets both.
        require(s.channels >= 2 && s.channels <= 32, "MTM channels out of 2..32");
        require(s.rows >= 1 && s.rows <= 64, "MTM rows out of 1..64");
        break;
    }
}

} // namespace detail

Bytes module(const ModuleSpec& params) {
    detail::validate(params);
    switch (params.format) {
    case ModuleFormat::Mod: return detail::writeMod(params);
    case ModuleFormat::S3m: return detail::writeS3m(params);
    case ModuleFormat::Xm: return detail::writeXm(params);
    case ModuleFormat::It: return detail::writeIt(params);
    case ModuleFormat::Mtm: return detail::writeMtm(params);
    }
    return {};
}

double moduleSeconds(const ModuleSpec& s) {
    return s.orders * s.rows * s.speed * 2.5 / s.tempo;
}

double moduleFrequency(const ModuleSpec& params) {
    detail::validate(params);
    return detail::sineFor(params).frequency(detail::playbackRate(params.format));
}

std::string_view moduleTypeName(ModuleFormat format) {
    switch (format) {
    case ModuleFormat::Mod: return "mod";
    case ModuleFormat::S3m: return "s3m";
    case ModuleFormat::Xm: return "xm";
    case ModuleFormat::It: return "it";
    case ModuleFormat::Mtm: return "mtm";
    }
    return "";
}

size_t moduleHeaderSize(ModuleFormat format) {
    switch (format) {
    case ModuleFormat::Mod: return 1084; // title, 31 samples, orders, signature
    case ModuleFormat::S3m: return 96;
    case ModuleFormat::Xm: return 60 + 276;
    case ModuleFormat::It: return 192;
    case ModuleFormat::Mtm: return 66;
    }
    return 0;
}

} // namespace qvgen

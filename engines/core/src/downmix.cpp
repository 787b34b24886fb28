#include "qvcore/downmix.h"

#include <cmath>

namespace qvcore {
namespace {

constexpr float minus3dB = 0.70710678f;
constexpr float minus6dB = 0.5f;
constexpr float knee = 0.9f;

struct Gains {
    std::uint32_t speaker;
    float left, right;
};

// Front left and right of centre are panned by the constant-power law, halfway to the centre.
constexpr Gains gains[] = {
    {FrontLeft, 1.0f, 0.0f},
    {FrontRight, 0.0f, 1.0f},
    {FrontCenter, minus3dB, minus3dB},
    {LowFrequency, minus6dB, minus6dB},
    {BackLeft, minus3dB, 0.0f},
    {BackRight, 0.0f, minus3dB},
    {FrontLeftOfCenter, 0.92387953f, 0.38268343f},
    {FrontRightOfCenter, 0.38268343f, 0.92387953f},
    {BackCenter, minus6dB, minus6dB},
    {SideLeft, minus3dB, 0.0f},
    {SideRight, 0.0f, minus3dB},
    {TopCenter, minus6dB, minus6dB},
    {TopFrontLeft, minus3dB, 0.0f},
    {TopFrontCenter, minus6dB, minus6dB},
    {TopFrontRight, 0.0f, minus3dB},
    {TopBackLeft, minus3dB, 0.0f},
    {TopBackCenter, minus6dB, minus6dB},
    {TopBackRight, 0.0f, minus3dB},
};

unsigned bitCount(std::uint32_t v) {
    unsigned n = 0;
    for (; v; v &= v - 1)
        ++n;
    return n;
}

} // namespace

std::uint32_t defaultChannelMask(unsigned channels) {
    constexpr std::uint32_t stereo = FrontLeft | FrontRight;
    constexpr std::uint32_t surround51 = stereo | FrontCenter | LowFrequency | BackLeft | BackRight;
    switch (channels) {
    case 1: return FrontCenter;
    case 2: return stereo;
    case 3: return stereo | FrontCenter;
    case 4: return stereo | BackLeft | BackRight;
    case 5: return stereo | FrontCenter | BackLeft | BackRight;
    case 6: return surround51;
    case 7: return surround51 | BackCenter;
    case 8: return surround51 | SideLeft | SideRight;
    default: return 0;
    }
}

Downmix::Downmix(unsigned channels, std::uint32_t mask) : channels_(channels) {
    if (channels_ <= 2)
        return;
    if (bitCount(mask) < channels_)
        mask = defaultChannelMask(channels_ < 8 ? channels_ : 8);
    for (const Gains& g : gains) {
        if (!(mask & g.speaker) || used_ >= channels_ || used_ >= maxChannels)
            continue;
        left_[used_] = g.left;
        right_[used_] = g.right;
        ++used_;
    }
}

float Downmix::softLimit(float v) {
    const float a = std::fabs(v);
    if (!(a > knee)) // NaN passes through as it came; the callers' conversions remove it
        return v;
    const float room = 1.0f - knee;
    const float bent = knee + room * std::tanh((a - knee) / room);
    return v < 0 ? -bent : bent;
}

} // namespace qvcore

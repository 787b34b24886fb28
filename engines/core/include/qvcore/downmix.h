// Many channels to stereo by their speaker positions, for every path that meets surround
// audio (a decoder's output, a surround device's loopback).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qvcore {

// Speaker positions as the bits of a wave format's channel mask; the channels of a frame come
// in the order of their bits.
enum Speaker : std::uint32_t {
    FrontLeft = 0x1,
    FrontRight = 0x2,
    FrontCenter = 0x4,
    LowFrequency = 0x8,
    BackLeft = 0x10,
    BackRight = 0x20,
    FrontLeftOfCenter = 0x40,
    FrontRightOfCenter = 0x80,
    BackCenter = 0x100,
    SideLeft = 0x200,
    SideRight = 0x400,
    TopCenter = 0x800,
    TopFrontLeft = 0x1000,
    TopFrontCenter = 0x2000,
    TopFrontRight = 0x4000,
    TopBackLeft = 0x8000,
    TopBackCenter = 0x10000,
    TopBackRight = 0x20000,
};

// The usual layout for a channel count given without a mask: mono, stereo, 3.0, quad, 5.0,
// 5.1, 6.1, 7.1; 0 for counts beyond.
std::uint32_t defaultChannelMask(unsigned channels);

// Centre and surrounds go to both or their own side at -3 dB, the LFE at -6 dB. A sum that
// would pass full scale is limited softly, sample by sample, rather than the whole mix being
// turned down. Mono goes to both sides and stereo passes as it is.
class Downmix {
public:
    static constexpr unsigned maxChannels = 32;

    // A mask of 0 (or one with fewer positions than channels) takes the usual layout (7.1 for
    // the first eight of more); channels without a position are left out.
    explicit Downmix(unsigned channels = 2, std::uint32_t mask = 0);

    unsigned channels() const { return channels_; }
    float leftGain(unsigned channel) const { return channel < used_ ? left_[channel] : 0.0f; }
    float rightGain(unsigned channel) const { return channel < used_ ? right_[channel] : 0.0f; }

    // Below the knee a sample is kept as it is; above it the curve bends towards full scale,
    // which it never passes.
    static float softLimit(float v);

    // `frames` interleaved frames of channels() samples, each made float by `convert`, to
    // stereo frames.
    template <class Sample, class Convert>
    void toStereo(const Sample* in, std::size_t frames, float* stereo, Convert convert) const {
        if (channels_ <= 2) {
            const std::size_t right = channels_ == 2 ? 1 : 0;
            for (std::size_t i = 0; i < frames; ++i, in += channels_) {
                stereo[2 * i] = convert(in[0]);
                stereo[2 * i + 1] = convert(in[right]);
            }
            return;
        }
        for (std::size_t i = 0; i < frames; ++i, in += channels_) {
            float l = 0.0f, r = 0.0f;
            for (unsigned c = 0; c < used_; ++c) {
                const float v = convert(in[c]);
                l += v * left_[c];
                r += v * right_[c];
            }
            stereo[2 * i] = softLimit(l);
            stereo[2 * i + 1] = softLimit(r);
        }
    }

private:
    unsigned channels_;
    unsigned used_ = 0; // channels with a position
    std::array<float, maxChannels> left_{}, right_{};
};

} // namespace qvcore

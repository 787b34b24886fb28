#include "qvcore/convert.h"

#include <cmath>

#include <soxr.h>

namespace qvcore {

std::int16_t floatToInt16(float v) {
    if (!(v == v))
        return 0; // NaN
    const float s = v * 32768.0f;
    if (s >= 32767.0f)
        return 32767;
    if (s <= -32768.0f)
        return -32768;
    return static_cast<std::int16_t>(std::lrintf(s));
}

void floatToInt16(const float* in, std::int16_t* out, std::size_t samples) {
    for (std::size_t i = 0; i < samples; ++i)
        out[i] = floatToInt16(in[i]);
}

StreamResampler::StreamResampler(std::uint32_t inRate, std::uint32_t outRate, unsigned channels)
    : inRate_(inRate), outRate_(outRate), channels_(channels) {
    if (inRate == 0 || outRate == 0 || channels == 0)
        return;
    if (inRate == outRate) {
        ok_ = true;
        return;
    }
    soxr_error_t err = nullptr;
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_ = soxr_create(inRate, outRate, channels, &err, nullptr, &quality, nullptr);
    if (err) {
        soxr_delete(static_cast<soxr_t>(soxr_));
        soxr_ = nullptr;
        return;
    }
    ok_ = true;
}

StreamResampler::~StreamResampler() {
    if (soxr_)
        soxr_delete(static_cast<soxr_t>(soxr_));
}

std::size_t StreamResampler::maxOutput(std::size_t inFrames) const {
    if (!ok_)
        return 0;
    // Room for the rounding and for what the filter released from earlier input.
    return static_cast<std::size_t>(static_cast<std::uint64_t>(inFrames) * outRate_ / inRate_) + 64;
}

std::size_t StreamResampler::process(const float* in, std::size_t inFrames, float* out,
                                     std::size_t outCapacity) {
    if (!ok_)
        return 0;
    if (!soxr_) {
        const std::size_t n = inFrames < outCapacity ? inFrames : outCapacity;
        for (std::size_t i = 0; i < n * channels_; ++i)
            out[i] = in[i];
        totalIn_ += inFrames;
        totalOut_ += n;
        return n;
    }
    std::size_t used = 0, written = 0;
    // soxr may take the input in parts; go on while it makes progress.
    for (int round = 0; round < 64 && (used < inFrames || round == 0); ++round) {
        std::size_t idone = 0, odone = 0;
        soxr_process(static_cast<soxr_t>(soxr_), in + used * channels_, inFrames - used, &idone,
                     out + written * channels_, outCapacity - written, &odone);
        used += idone;
        written += odone;
        if (idone == 0 && odone == 0)
            break;
    }
    totalIn_ += used;
    totalOut_ += written;
    return written;
}

std::size_t StreamResampler::drain(float* out, std::size_t outCapacity) {
    if (!soxr_)
        return 0;
    // Stop at the exact length the input implies, so that the tail adds no extra frames.
    const std::uint64_t expected = (totalIn_ * outRate_ + inRate_ / 2) / inRate_;
    if (totalOut_ >= expected)
        return 0;
    std::size_t want = static_cast<std::size_t>(expected - totalOut_);
    if (want > outCapacity)
        want = outCapacity;
    std::size_t idone = 0, odone = 0;
    soxr_process(static_cast<soxr_t>(soxr_), nullptr, 0, &idone, out, want, &odone);
    totalOut_ += odone;
    return odone;
}

} // namespace qvcore

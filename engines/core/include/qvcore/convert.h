// Sample conversion and a streaming resampler for the recording side.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qvcore {

// Float (full scale +-1.0) to 16-bit: clamps, never wraps; NaN gives 0.
std::int16_t floatToInt16(float v);
void floatToInt16(const float* in, std::int16_t* out, std::size_t samples);

// Streaming resampler (libsoxr, interleaved float) for a fixed pair of rates. Over a whole run,
// followed by drain(), the output count is round(totalIn * outRate / inRate) to within one frame.
class StreamResampler {
public:
    StreamResampler(std::uint32_t inRate, std::uint32_t outRate, unsigned channels);
    ~StreamResampler();
    StreamResampler(const StreamResampler&) = delete;
    StreamResampler& operator=(const StreamResampler&) = delete;

    bool ok() const { return ok_; }
    // Frames that process() may write at most for `inFrames` input frames.
    std::size_t maxOutput(std::size_t inFrames) const;
    // Consumes all `inFrames` and writes up to `outCapacity` frames; returns the frames written.
    // Pass outCapacity >= maxOutput(inFrames) so that nothing is held back.
    std::size_t process(const float* in, std::size_t inFrames, float* out, std::size_t outCapacity);
    // Writes what is still held inside (the filter's tail) at the end of a run.
    std::size_t drain(float* out, std::size_t outCapacity);

    std::uint64_t totalIn() const { return totalIn_; }
    std::uint64_t totalOut() const { return totalOut_; }

private:
    void* soxr_ = nullptr;
    bool ok_ = false;
    std::uint32_t inRate_;
    std::uint32_t outRate_;
    unsigned channels_;
    std::uint64_t totalIn_ = 0;
    std::uint64_t totalOut_ = 0;
};

} // namespace qvcore

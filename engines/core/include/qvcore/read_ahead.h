// A decoder for sources that may block (a system codec, a slow disk): a thread of its own reads
// the source ahead into a buffer, and render only copies from that buffer.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "qvcore/decoder.h"

namespace qvcore {

// Used only on the read-ahead thread, from its opening to its destruction.
class PcmSource {
public:
    virtual ~PcmSource() = default;
    // Up to `frames` stereo frames; fewer only at the end (or on an error that ends the source).
    virtual std::size_t read(float* out, std::size_t frames) = 0;
    // The next read starts exactly at `frame`. False on failure.
    virtual bool seek(std::uint64_t frame) = 0;
};

struct PcmSourceInfo {
    std::uint32_t rate = 0;
    std::uint64_t lengthFrames = 0; // 0 if unknown
    Kind kind = Kind::System;       // what the decoder says it plays
};

// Runs on the read-ahead thread; fills `info` and returns the source, or null on failure.
using PcmSourceOpener = std::function<std::unique_ptr<PcmSource>(PcmSourceInfo& info)>;

// Starts the thread, opens the source there and returns once it is open and the first part is
// read. Null when the opener fails or takes longer than `openWait` (the opener then runs to
// its end on the thread, so it must own what it uses). Render never waits: when the thread
// falls behind, it gives silence without moving the position, and a source that gives nothing
// for ten seconds of play ends the stream. A source that ends early ends the stream there, and
// the length becomes what it gave. Seeks are served by the thread, their caller waiting at
// most a second; a seek that fails or times out leaves playback as it was. Closing waits at
// most half a second; a thread still stuck in its source is left to finish on its own.
std::unique_ptr<Decoder>
openReadAhead(PcmSourceOpener opener, double bufferSeconds = 2.0,
              std::chrono::milliseconds openWait = std::chrono::seconds(3));

} // namespace qvcore

// Decoders: each renders interleaved float stereo at the source's own rate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "qvcore/file_data.h"
#include "qvcore/probe.h"

namespace qvcore {

// What a module does when its song ends.
enum class ModuleEnd {
    Loop, // plays on from the start, forever
    Stop, // render returns fewer frames than asked, then 0
};

// Not thread-safe: one thread at a time (the mixer serialises access per channel).
class Decoder {
public:
    virtual ~Decoder() = default;

    virtual Kind kind() const = 0;
    virtual std::uint32_t sampleRate() const = 0;
    // Sources without a rate of their own (modules) render at any rate asked: true if taken.
    // Resets nothing else; call it before rendering.
    virtual bool setRenderRate(std::uint32_t /*rate*/) { return false; }

    // Writes up to `frames` stereo frames (2 floats each) to `out`; fewer only at the end of the
    // source, then 0. After the end, seeking makes it render again.
    virtual std::size_t render(float* out, std::size_t frames) = 0;

    // Length in frames of what render produces from position 0 to the end (0 if unknown).
    // For looping modules: the length of one pass of the song.
    virtual std::uint64_t lengthFrames() const = 0;
    // Position in frames of the next frame render gives.
    virtual std::uint64_t positionFrames() const = 0;
    // Seeks to a frame; a frame past the end positions at the end (a looping module wraps
    // round). False on failure.
    virtual bool seekFrames(std::uint64_t frame) = 0;

    std::uint64_t lengthMs() const { return framesToMs(lengthFrames()); }
    std::uint64_t positionMs() const { return framesToMs(positionFrames()); }
    bool seekMs(std::uint64_t ms) {
        constexpr std::uint64_t kMaxMs = 1ull << 40; // about 35 years: no overflow below
        return seekFrames((ms < kMaxMs ? ms : kMaxMs) * sampleRate() / 1000);
    }
    std::uint64_t framesToMs(std::uint64_t frames) const {
        return sampleRate() ? frames * 1000 / sampleRate() : 0;
    }

    // Modules only (others: 0 orders, order/row 0, setOrderRow fails).
    virtual int numOrders() const { return 0; }
    virtual int currentOrder() const { return 0; }
    virtual int currentRow() const { return 0; }
    virtual bool setOrderRow(int /*order*/, int /*row*/) { return false; }
    virtual std::string moduleType() const { return {}; }

    // What the file's own comments or a module's header name the song and its artist, as
    // given (empty where the format or the file has none).
    virtual std::string title() const { return {}; }
    virtual std::string artist() const { return {}; }
};

// Opens a module of any type libopenmpt loads; null if it is not one.
std::unique_ptr<Decoder> openModule(std::shared_ptr<const FileData> file, ModuleEnd end);
// Opens an Ogg Vorbis, Ogg Opus, FLAC, PCM container or MP3 stream; null for anything else.
std::unique_ptr<Decoder> openStream(std::shared_ptr<const FileData> file);
// Opens a decoder for what the probe said (module end behaviour only for modules).
std::unique_ptr<Decoder> openDecoder(std::shared_ptr<const FileData> file, const ProbeResult& what,
                                     ModuleEnd end = ModuleEnd::Stop);

} // namespace qvcore

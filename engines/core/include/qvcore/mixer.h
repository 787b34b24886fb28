// Channels and the mixer that renders them, resampled, into one float stereo stream.
//
// Threading contract:
// - Control calls (everything but render) come from any thread other than the render thread,
//   usually the UI thread; they are serialised among themselves by one mutex that the render
//   thread never takes.
// - render() runs on the render thread. It takes no lock that a control call holds for long and
//   allocates nothing itself: buffers are sized when a channel is added. (libsoxr and libvorbis
//   grow their own buffers during a channel's first second or so; after that, none allocate.)
// - Volume, pause, stop and master settings are atomics: they never wait. Calls that move a
//   decoder (play with restart, seek, order) take that channel's spinlock, which render holds only
//   while it decodes one block of that channel (well under a millisecond); render only tries the
//   lock and leaves the channel silent for that block when a control call holds it.
// - Positions are published by render for the audio it has produced, so queries return what is
//   being rendered, not what the decoder has read ahead. An ended channel's position is at
//   least its length, even when its source stopped short of the length it announced.
// - remove() waits at most for the render pass in progress to finish.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "qvcore/decoder.h"

namespace qvcore {

class Channel;

enum class ChannelState {
    Invalid, // unknown or removed id
    Stopped, // added and not played yet, or stopped
    Playing,
    Paused,
    Ended, // a source that stops at its end has been rendered to its end
};

class Mixer {
public:
    using ChannelId = std::uint32_t; // 0 is never a valid id

    // outputRate: the device's rate. maxBlockFrames: the largest block render works in (larger
    // requests are split). maxChannels: at most this many channels at once.
    explicit Mixer(std::uint32_t outputRate, std::size_t maxBlockFrames = 2048,
                   unsigned maxChannels = 64);
    ~Mixer();
    Mixer(const Mixer&) = delete;
    Mixer& operator=(const Mixer&) = delete;

    std::uint32_t outputRate() const { return outputRate_.load(); }
    // The device changed: rebuilds every channel's resampler for the new rate (control call).
    void setOutputRate(std::uint32_t rate);

    // Takes the decoder; the channel starts stopped, volume 255, not paused. 0 when full or null.
    ChannelId add(std::unique_ptr<Decoder> decoder);
    void remove(ChannelId id);

    // Starts or resumes; with restart (or after the end) from the start. Clears pause.
    bool play(ChannelId id, bool restart);
    // Stops rendering; play(id, false) resumes from the same place.
    bool stop(ChannelId id);
    bool setPaused(ChannelId id, bool paused);
    bool setVolume(ChannelId id, int volume); // clamped to 0..255, gain volume/255
    int volume(ChannelId id) const;           // -1 for an invalid id
    ChannelState state(ChannelId id) const;
    bool isActive(ChannelId id) const; // playing or paused

    // Seeks; an ended channel plays on from there.
    bool seekMs(ChannelId id, std::uint64_t ms);
    std::uint64_t positionMs(ChannelId id) const;
    std::uint64_t lengthMs(ChannelId id) const;

    // Modules: jump to an order's row; an ended channel plays on from there.
    bool setOrderRow(ChannelId id, int order, int row = 0);
    int numOrders(ChannelId id) const;
    int order(ChannelId id) const; // -1 for an invalid id
    int row(ChannelId id) const;

    void setMasterVolume(int volume); // clamped to 0..255
    int masterVolume() const { return masterVolume_.load(); }
    // Master pause: render gives silence and no channel advances.
    void setMasterPaused(bool paused) { masterPaused_.store(paused); }
    bool masterPaused() const { return masterPaused_.load(); }

    // Render thread: writes `frames` interleaved stereo frames at outputRate().
    void render(float* out, std::size_t frames);

private:
    Channel* find(ChannelId id) const;
    // Under the control lock: `body` on the channel, or `missing` when the id names none.
    template <class Result, class Body>
    Result onChannel(ChannelId id, Result missing, Body body) const;

    struct Slot {
        std::atomic<Channel*> channel{nullptr};
        std::uint32_t generation = 0;
    };

    std::atomic<std::uint32_t> outputRate_;
    std::size_t maxBlock_;
    std::vector<Slot> slots_;
    mutable std::mutex control_;
    std::atomic<std::uint64_t> renderPasses_{0}; // odd while a render pass runs
    std::atomic<int> masterVolume_{255};
    std::atomic<bool> masterPaused_{false};
};

} // namespace qvcore

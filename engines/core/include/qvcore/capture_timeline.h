// Where captured packets go in a recording: by the source's own clock. The recording holds
// zeros only for time in which the source delivered nothing, never between two packets that
// follow each other, so a device clock that drifts against the performance counter and a
// loopback that falls silent both leave the sound whole.
#pragma once

#include <cstdint>

namespace qvcore {

struct CapturePacket {
    std::uint64_t position = 0; // the device's frame position of the packet's first frame
    double time = -1.0;         // seconds on the shared clock when it was captured; < 0 unknown
    std::uint32_t frames = 0;
    bool discontinuity = false; // the device says something was lost before it
};

class CaptureTimeline {
public:
    // The recording starts at `start` (seconds on the shared clock).
    explicit CaptureTimeline(double start) : covered_(start) {}

    // A source starts (the first one, or one after a switch or a loss): its first packet is
    // placed by its time.
    void newSource(std::uint32_t rate);

    // Zero frames, at the source's rate, to put in front of the packet.
    std::uint64_t place(const CapturePacket& packet);
    // Zero frames for time up to `until` in which nothing was delivered.
    std::uint64_t fillTo(double until);
    // The frames of `packet` captured before `until`.
    std::uint32_t framesBefore(const CapturePacket& packet, double until) const;

    // Time up to which the recording accounts for the source.
    double covered() const { return covered_; }

private:
    std::uint32_t rate_ = 0;
    double covered_;
    bool following_ = false;   // a packet of this source has been placed
    bool filledSince_ = false; // zeros were put after that packet
    std::uint64_t nextPosition_ = 0;
    double ahead_ = 0; // how far zeros for a late delivery put the recording ahead of the source
    // Time stamps of packets that follow each other wander (under Wine by a tenth of a second
    // when its audio thread is held up); a larger jump that the positions do not show is a
    // stretch the device skipped without saying.
    static constexpr double maxWanderSeconds = 0.5;
};

} // namespace qvcore

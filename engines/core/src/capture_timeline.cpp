#include "qvcore/capture_timeline.h"

#include <algorithm>
#include <cmath>

namespace qvcore {

void CaptureTimeline::newSource(std::uint32_t rate) {
    rate_ = rate;
    following_ = false;
}

std::uint64_t CaptureTimeline::place(const CapturePacket& p) {
    if (rate_ == 0)
        return 0;
    const double length = static_cast<double>(p.frames) / rate_;
    const bool stamped = p.time >= 0;
    // A packet follows on when the device says so and its time agrees: a jump in time with
    // positions that do not show it is a stretch the device skipped without saying.
    const bool contiguous = following_ && !p.discontinuity && p.position == nextPosition_ &&
                            (!stamped || p.time - covered_ < maxWanderSeconds);
    double time = p.time;
    if (!stamped) {
        // No time stamp: a jump in the positions is what was lost.
        time = covered_;
        if (following_ && p.position > nextPosition_)
            time += static_cast<double>(p.position - nextPosition_) / rate_;
    }
    std::uint64_t zeros = 0;
    if (!contiguous && time > covered_) {
        zeros = static_cast<std::uint64_t>(std::llround((time - covered_) * rate_));
        covered_ = time;
    }
    if (stamped) {
        // Packets that follow on go where their time stamps say, so that a device clock that
        // drifts moves nothing; by however far zeros given for a wait that turned out to be
        // only a late delivery put the recording ahead.
        if (!contiguous || filledSince_)
            ahead_ = std::max(0.0, covered_ - time);
        covered_ = time + ahead_ + length;
    } else {
        covered_ = std::max(covered_, time) + length;
    }
    following_ = true;
    filledSince_ = false;
    nextPosition_ = p.position + p.frames;
    return zeros;
}

std::uint64_t CaptureTimeline::fillTo(double until) {
    if (rate_ == 0 || until <= covered_)
        return 0;
    const auto zeros = static_cast<std::uint64_t>(std::llround((until - covered_) * rate_));
    covered_ += static_cast<double>(zeros) / rate_;
    filledSince_ = filledSince_ || zeros > 0;
    return zeros;
}

std::uint32_t CaptureTimeline::framesBefore(const CapturePacket& p, double until) const {
    if (p.time < 0 || rate_ == 0)
        return p.frames;
    if (p.time >= until)
        return 0;
    const double frames = std::ceil((until - p.time) * rate_ - 1e-6); // frames starting before
    return frames >= p.frames ? p.frames : static_cast<std::uint32_t>(frames);
}

} // namespace qvcore

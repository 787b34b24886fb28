// Placing captured packets by the source's own clock: zeros only for time in which nothing was
// delivered, never between packets that follow each other. Rate 1000, so frames read as ms.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "qvcore/capture_timeline.h"

namespace {

// A packet (frames > 0) and the zeros put before it, or a wait with nothing delivered up to
// `time` (frames == 0) and the zeros it gives.
struct Step {
    double time;
    uint64_t position;
    uint32_t frames;
    bool discontinuity;
    uint64_t zeros;
};

struct Case {
    const char* name;
    std::vector<Step> steps;
};

class CaptureTimelineTest : public ::testing::TestWithParam<Case> {};

TEST_P(CaptureTimelineTest, PlacesZerosOnlyWhereNothingWasDelivered) {
    qvcore::CaptureTimeline line(100.0);
    line.newSource(1000);
    for (size_t i = 0; i < GetParam().steps.size(); ++i) {
        const Step& s = GetParam().steps[i];
        const uint64_t zeros = s.frames
                                   ? line.place({s.position, s.time, s.frames, s.discontinuity})
                                   : line.fillTo(s.time);
        EXPECT_EQ(zeros, s.zeros) << GetParam().name << ", step " << i;
    }
}

// A packet of 10 frames at `position`, and the zeros put before it.
Step packet(double time, uint64_t position, uint64_t zeros = 0, bool discontinuity = false) {
    return {time, position, 10, discontinuity, zeros};
}
// A wait with nothing delivered up to `time`, and the zeros it gives.
Step wait(double time, uint64_t zeros) {
    return {time, 0, 0, false, zeros};
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CaptureTimelineTest,
    ::testing::Values(
        // A device clock 10 % slow and one 10 % fast: packets that follow on get nothing.
        Case{"SlowClock",
             {packet(100.0, 0), packet(100.011, 10), packet(100.022, 20), packet(100.033, 30)}},
        Case{"FastClock", {packet(100.0, 0), packet(100.009, 10), packet(100.018, 20)}},
        // A late first packet, then a loopback silent for two seconds.
        Case{"LateStartAndPause",
             {packet(100.5, 0, 500), packet(100.51, 10), packet(102.52, 2020, 2000)}},
        // Zeros given while waiting count towards the pause; the rest comes with the packet.
        Case{"PauseFilledWhileWaiting",
             {packet(100.0, 0), wait(101.01, 1000), packet(102.01, 2010, 1000, true),
              packet(102.02, 2020)}},
        // Packets that were only late after zeros were given follow those zeros directly.
        Case{"LateButContiguous",
             {packet(100.0, 0), wait(100.3, 290), packet(100.01, 10), packet(100.02, 20)}},
        // Positions that go on across a silence the device did not flag: its time tells.
        Case{"PauseWithoutPositionJump",
             {packet(100.0, 0), packet(102.01, 10, 2000), packet(102.02, 20)}},
        // No time stamps: a jump in the positions is the time lost.
        Case{"NoTimeStamps", {packet(-1, 0), packet(-1, 10), packet(-1, 520, 500)}}),
    [](const auto& info) { return info.param.name; });

TEST(CaptureTimeline, KeepsOnlyWhatWasCapturedBeforeTheStop) {
    qvcore::CaptureTimeline line(0.0);
    line.newSource(1000);
    for (const auto& [stop, kept] : {std::pair{1.004, 4u}, {1.5, 10u}, {1.0, 0u}})
        EXPECT_EQ(line.framesBefore({0, 1.0, 10, false}, stop), kept) << "stop at " << stop;
}

} // namespace

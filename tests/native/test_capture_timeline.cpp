// Placing captured packets by the source's own clock: zeros only for time in which nothing was
// delivered, never between packets that follow each other. Rate 1000, so frames read as ms.
#include <gtest/gtest.h>

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

INSTANTIATE_TEST_SUITE_P(
    Cases, CaptureTimelineTest,
    ::testing::Values(
        // A device clock 10 % slow and one 10 % fast: packets that follow on get nothing.
        Case{"SlowClock",
             {{100.0, 0, 10, false, 0},
              {100.011, 10, 10, false, 0},
              {100.022, 20, 10, false, 0},
              {100.033, 30, 10, false, 0}}},
        Case{"FastClock",
             {{100.0, 0, 10, false, 0}, {100.009, 10, 10, false, 0}, {100.018, 20, 10, false, 0}}},
        // A late first packet, then a loopback silent for two seconds.
        Case{"LateStartAndPause",
             {{100.5, 0, 10, false, 500},
              {100.51, 10, 10, false, 0},
              {102.52, 2020, 10, false, 2000}}},
        // Zeros given while waiting count towards the pause; the rest comes with the packet.
        Case{"PauseFilledWhileWaiting",
             {{100.0, 0, 10, false, 0},
              {101.01, 0, 0, false, 1000},
              {102.01, 2010, 10, true, 1000},
              {102.02, 2020, 10, false, 0}}},
        // Packets that were only late after zeros were given follow those zeros directly.
        Case{"LateButContiguous",
             {{100.0, 0, 10, false, 0},
              {100.3, 0, 0, false, 290},
              {100.01, 10, 10, false, 0},
              {100.02, 20, 10, false, 0}}},
        // Positions that go on across a silence the device did not flag: its time tells.
        Case{"PauseWithoutPositionJump",
             {{100.0, 0, 10, false, 0}, {102.01, 10, 10, false, 2000}, {102.02, 20, 10, false, 0}}},
        // No time stamps: a jump in the positions is the time lost.
        Case{"NoTimeStamps",
             {{-1, 0, 10, false, 0}, {-1, 10, 10, false, 0}, {-1, 520, 10, false, 500}}}),
    [](const auto& info) { return info.param.name; });

TEST(CaptureTimeline, KeepsOnlyWhatWasCapturedBeforeTheStop) {
    qvcore::CaptureTimeline line(0.0);
    line.newSource(1000);
    EXPECT_EQ(line.framesBefore({0, 1.0, 10, false}, 1.004), 4u);
    EXPECT_EQ(line.framesBefore({0, 1.0, 10, false}, 1.5), 10u);
    EXPECT_EQ(line.framesBefore({0, 1.0, 10, false}, 1.0), 0u);
}

} // namespace

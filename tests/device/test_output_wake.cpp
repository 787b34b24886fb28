// The output stream on its own, woken by the device's event and by a timer (the way it runs
// under Wine): both keep the device fed without a gap, and neither calls back after close().
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <vector>

#include "qvdevice/output.h"
#include "tests/device/device_fixture.h"

namespace {

using namespace qvtest;
using qvdevice::Wake;

constexpr double toneHz = 440.0;
constexpr double amplitude = 0.5;
constexpr double twoPi = 6.283185307179586;

struct Tone {
    std::atomic<uint32_t> rate{0};
    std::atomic<bool> closed{false};
    std::atomic<int> callsAfterClose{0};
    double phase = 0;
};

void renderTone(void* user, float* stereo, uint32_t frames) {
    auto* tone = static_cast<Tone*>(user);
    if (tone->closed.load())
        tone->callsAfterClose.fetch_add(1);
    const uint32_t rate = tone->rate.load();
    const double step = rate ? twoPi * toneHz / rate : 0.0;
    for (uint32_t i = 0; i < frames; ++i) {
        const float s = rate ? static_cast<float>(amplitude * std::sin(tone->phase)) : 0.0f;
        stereo[2 * i] = stereo[2 * i + 1] = s;
        tone->phase = std::fmod(tone->phase + step, twoPi);
    }
}

// Gaps in a recorded 440 Hz sine: runs of more than four left-channel samples near zero (the
// sine at this level passes zero within two), leaving out 100 ms at either end (the device's
// latency at the start; at the stop the recording is made up to the wall clock with zeros).
int gaps(const std::vector<float>& stereo) {
    const size_t margin = 2 * (recordRate / 10);
    int count = 0;
    size_t run = 0;
    for (size_t i = margin; i + margin < stereo.size(); i += 2) {
        run = std::fabs(stereo[i]) < 0.01f ? run + 1 : 0;
        count += run == 5;
    }
    return count;
}

class OutputWake : public ::testing::TestWithParam<Wake> {};

TEST_P(OutputWake, KeepsTheDeviceFedAndStopsCallingAtClose) {
    Tone tone;
    qvdevice::OutputStream out;
    ASSERT_EQ(out.open(renderTone, &tone, GetParam()), S_OK);
    ASSERT_GT(out.rate(), 0u);
    tone.rate = out.rate();
    ASSERT_TRUE(waitUntilHeard(toneHz));

    const Heard h = listen(1.0, toneHz);
    EXPECT_NEAR(h.frequency, toneHz, 0.03 * toneHz);
    EXPECT_NEAR(h.toneDb, 20.0 * std::log10(amplitude) - 3.0103, 3.0);
    // Wine's own path to PulseAudio drops out now and then, whatever the buffer (a bare WASAPI
    // program does the same); a render thread that falls behind drops out every few periods.
    EXPECT_LE(gaps(record(2.0)), 8);

    out.close();
    tone.closed = true;
    sleepMs(200);
    EXPECT_EQ(tone.callsAfterClose.load(), 0);
    EXPECT_TRUE(waitUntilSilent(toneHz));
}

INSTANTIATE_TEST_SUITE_P(Wakes, OutputWake, ::testing::Values(Wake::Event, Wake::Timer),
                         [](const ::testing::TestParamInfo<Wake>& info) {
                             return info.param == Wake::Event ? "Event" : "Timer";
                         });

} // namespace

// A track playing through the output while its device fails, changes or goes away, against
// simulated endpoints: the stream reopens on the default by itself, in the new device's mix
// format, and the track's position goes on throughout (in silence while there is no device).
#include <windows.h>
#include <audioclient.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "qvcore/qvcore.h"
#include "qvdevice/mixed_output.h"
#include "tests/device/device_fixture.h"
#include "tests/device/simulated_output.h"

namespace {

using qvdevice::SampleKind;
using qvtest::Call;
using qvtest::SimEndpoint;
using qvtest::simFormat;

// Seconds after the test starts (the output opens and the track starts before then), and
// how long it runs after.
constexpr double changeAt = 1.0;
constexpr double runAfter = 2.0;
constexpr const wchar_t* first = L"speakers";
constexpr const wchar_t* second = L"headphones";

enum class Event { FailingCall, EventsStop, NewDefault, Unplugged, BackInAnotherFormat };

struct Case {
    const char* name;
    Event event;
    qvdevice::DeviceFormat after; // the format of what plays after the change
    Call call = Call::None;       // FailingCall: which, and its answer
    HRESULT failWith = S_OK;
    double failFor = 1e9; // then the same device works again
    double absentFor = 0; // Unplugged: no device at all for this long
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

const Case cases[] = {
    {"InvalidatedInGetBuffer", Event::FailingCall, simFormat(SampleKind::Float32, 2, 44100),
     Call::GetBuffer, AUDCLNT_E_DEVICE_INVALIDATED},
    {"InvalidatedInPadding", Event::FailingCall, simFormat(SampleKind::Int32, 6, 44100),
     Call::Padding, AUDCLNT_E_RESOURCES_INVALIDATED},
    {"ExclusiveModeTaken", Event::FailingCall, simFormat(SampleKind::Float32, 2, 48000),
     Call::Padding, AUDCLNT_E_DEVICE_IN_USE, 1.0},
    {"BackIn16Bit", Event::BackInAnotherFormat, simFormat(SampleKind::Int16, 2, 48000)},
    {"EventsStop", Event::EventsStop, simFormat(SampleKind::Float32, 2, 48000)},
    {"NewDefault", Event::NewDefault, simFormat(SampleKind::Int24, 6, 48000)},
    {"NewDefaultNeverSeen", Event::NewDefault, simFormat(SampleKind::Int32, 8, 192000)},
    {"NoDeviceThenOne", Event::Unplugged, simFormat(SampleKind::Int16, 2, 44100), Call::None, S_OK,
     1e9, 1.2},
};

// Seconds after the change until a working device is there to take the sound.
double readyAfter(const Case& c) {
    if (c.event == Event::Unplugged)
        return c.absentFor;
    return c.event == Event::FailingCall && c.failFor < 1e9 ? c.failFor : 0.0;
}

// What happens at changeAt (a failing call or events that stop were set up front: they start
// inside the call made at that moment).
void change(qvtest::SimulatedOutput& sys, const Case& c, SimEndpoint& speakers) {
    switch (c.event) {
    case Event::FailingCall:
        if (c.failFor >= 1e9)
            sys.setDefault(second); // the failing one is gone for good
        break;
    case Event::EventsStop: break;
    case Event::NewDefault:
        sys.add(SimEndpoint{second, c.after});
        sys.setDefault(second);
        break;
    case Event::BackInAnotherFormat:
        sys.remove(first);
        speakers.format = c.after;
        sys.add(speakers);
        break;
    case Event::Unplugged:
        sys.remove(first);
        sys.setDefault(L"");
        break;
    }
}

class OutputRouting : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        // Windows' own wake-up, also under Wine.
        _putenv_s("QUAVERLY_OUTPUT_WAKE", "event");
        qvdevice::useOutputSystem(&sys);
    }
    void TearDown() override {
        qvdevice::useOutputSystem(nullptr);
        _putenv_s("QUAVERLY_OUTPUT_WAKE", "");
    }
    qvtest::SimulatedOutput sys;
};

TEST_P(OutputRouting, ReopensOnTheDefaultAndTheTrackGoesOn) {
    const Case& c = GetParam();
    SimEndpoint speakers{first, simFormat(SampleKind::Float32, 2, 48000)};
    if (c.event == Event::FailingCall) {
        speakers.failCall = c.call;
        speakers.failWith = c.failWith;
        speakers.failFrom = changeAt;
        speakers.failUntil = speakers.failFrom + c.failFor;
    }
    if (c.event == Event::EventsStop)
        speakers.eventsStopAt = changeAt;
    sys.add(speakers);
    if (c.event == Event::FailingCall && c.failFor >= 1e9)
        sys.add(SimEndpoint{second, c.after});
    sys.setDefault(first);

    qvdevice::MixedOutput<qvcore::Mixer> out;
    ASSERT_EQ(out.open(4), S_OK);
    qvgen::WavSpec wav;
    wav.seconds = 10;
    const qvgen::Bytes bytes = qvgen::wavTone(wav);
    const auto channel = out.mixer()->add(
        qvcore::openStream(qvcore::FileData::fromBytes(bytes.data(), bytes.size())));
    ASSERT_NE(channel, 0u);
    out.setActive(true);
    ASSERT_TRUE(out.mixer()->play(channel, true));
    const double started = sys.now();

    // Positions every 20 ms; the change happens at changeAt.
    const double ready = readyAfter(c);
    double changedAt = -1, stalledFrom = started, longestStall = 0;
    ASSERT_LT(started, changeAt);
    bool back = false;
    uint64_t last = 0;
    while (sys.now() < changeAt + runAfter) {
        const double now = sys.now();
        if (changedAt < 0 && now >= changeAt) {
            changedAt = changeAt;
            change(sys, c, speakers);
        }
        if (c.event == Event::Unplugged && !back && changedAt >= 0 && now >= changedAt + ready) {
            back = true;
            sys.add(SimEndpoint{second, c.after});
            sys.setDefault(second);
        }
        const uint64_t position = out.mixer()->positionMs(channel);
        if (position != last) {
            last = position;
            stalledFrom = now;
        }
        longestStall = std::max(longestStall, now - stalledFrom);
        qvtest::sleepMs(20);
    }
    const double played = sys.now() - started;
    const uint64_t position = out.mixer()->positionMs(channel);
    const uint32_t rate = out.output().rate();
    const uint32_t latency = out.output().latencyFrames();
    out.close();

    // The first stream that wrote sound once a device was there again.
    const auto written = sys.written();
    double reopenMs = -1;
    const qvtest::SimulatedOutput::Written* after = nullptr;
    for (const auto& w : written) {
        if (w.firstAt >= changedAt + ready && (!after || w.firstAt < after->firstAt)) {
            after = &w;
            reopenMs = 1000.0 * (w.firstAt - changedAt - ready);
        }
    }
    std::printf("  %s: reopened in %.0f ms, longest stall %.0f ms, position %llu ms after "
                "%.0f ms, %zu streams\n",
                c.name, reopenMs, 1000 * longestStall, static_cast<unsigned long long>(position),
                1000 * played, written.size());

    ASSERT_NE(after, nullptr) << "nothing heard after the change";
    EXPECT_LT(reopenMs, 1000.0);
    EXPECT_LT(longestStall, 1.0);
    EXPECT_NEAR(static_cast<double>(position), 1000 * played, 1000.0);
    EXPECT_EQ(rate, c.after.rate);
    EXPECT_LE(latency, c.after.rate); // at most a second, in the new device's frames
    // Our stereo on front left and right; the other channels silent.
    EXPECT_GT(after->frontPeak, 0.25f);
    EXPECT_EQ(after->othersPeak, 0.0f);
}

INSTANTIATE_TEST_SUITE_P(Cases, OutputRouting, ::testing::ValuesIn(cases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.name);
                         });

} // namespace

// The output follows the default sink of the test environment's PulseAudio server while a
// track plays, heard through the sinks' monitors on the host: a new default, the playing sink
// unloaded, a pause across the change, no sink at all, a 5.1 sink.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>

#include "fmod3.h"
#include "tests/device/device_fixture.h"

namespace {

using namespace qvtest;

std::string environmentSink() {
    const char* sink = std::getenv("QUAVERLY_SINK");
    return sink ? sink : "";
}

FSOUND_STREAM* playTone(const std::string& name, double seconds, double frequency = 440.0) {
    qvgen::WavSpec wav;
    wav.seconds = seconds;
    wav.frequency = frequency;
    return playStream(writeTemp(name, qvgen::wavTone(wav)));
}

enum class Move { NewDefault, PlayingSinkUnloaded, PausedAcrossNewDefault };

struct MoveCase {
    const char* name;
    Move move;
};

void PrintTo(const MoveCase& c, std::ostream* out) {
    *out << c.name;
}

class FollowsTheDefault : public ::testing::TestWithParam<MoveCase> {};

TEST_P(FollowsTheDefault, SoundGoesOnOnTheNewSinkFromWhereItWas) {
    if (!underTestEnvironment())
        GTEST_SKIP() << "needs the test environment's PulseAudio server";
    const MoveCase& c = GetParam();
    HostSink spare("quaverly_spare", "Quaverly_Spare");
    ASSERT_TRUE(spare.ok());
    const bool unload = c.move == Move::PlayingSinkUnloaded;
    const std::string from = unload ? spare.name() : environmentSink();
    const std::string to = unload ? environmentSink() : spare.name();
    if (unload) {
        // The output opens on the spare sink, the default at that moment.
        host("pactl set-default-sink " + spare.name());
        FSOUND_Close();
        ASSERT_TRUE(FSOUND_Init(44000, 32, 0));
    }
    FSOUND_STREAM* s = playTone("follow.wav", 30);
    sleepMs(500);

    SinkRecording heard({from, to}, 5.0);
    sleepMs(1000);
    const DWORD t0 = GetTickCount();
    const int p0 = FSOUND_Stream_GetTime(s);
    DWORD paused = 0;
    switch (c.move) {
    case Move::NewDefault: host("pactl set-default-sink " + to); break;
    case Move::PlayingSinkUnloaded: spare.unload(); break;
    case Move::PausedAcrossNewDefault:
        FSOUND_SetPaused(FSOUND_ALL, TRUE);
        host("pactl set-default-sink " + to);
        sleepMs(500);
        FSOUND_SetPaused(FSOUND_ALL, FALSE);
        paused = GetTickCount() - t0;
        break;
    }
    sleepMs(1800);
    const int drift = static_cast<int>(FSOUND_Stream_GetTime(s) - p0) -
                      static_cast<int>(GetTickCount() - t0 - paused);
    const std::vector<float> before = heard.samples(0);
    const std::vector<float> after = heard.samples(1);
    closeStream(s);

    // The longest silence in what both sinks played. (A recording of an unloaded sink's
    // monitor goes on with the default source: it then hears the new sink.)
    const double silence = longestSilence({&before, &after}, 2) - paused / 1000.0;
    const double firstAfter = firstSound(after, 2, 0);
    std::printf("  %s: heard on %s from %.2f s; longest silence %.0f ms (less %lu ms paused); "
                "position drift %d ms\n",
                c.name, to.c_str(), firstAfter, 1000 * silence, static_cast<unsigned long>(paused),
                drift);
    ASSERT_GE(firstAfter, 0) << "never heard on the new sink";
    EXPECT_LT(silence, 1.0);
    EXPECT_LT(std::abs(drift), 500);
}

INSTANTIATE_TEST_SUITE_P(
    Moves, FollowsTheDefault,
    ::testing::Values(MoveCase{"NewDefault", Move::NewDefault},
                      MoveCase{"PlayingSinkUnloaded", Move::PlayingSinkUnloaded},
                      MoveCase{"PausedAcrossNewDefault", Move::PausedAcrossNewDefault}),
    [](const ::testing::TestParamInfo<MoveCase>& info) { return std::string(info.param.name); });

// Writes a shell script for the host; the command that runs it.
std::string hostScript(const char* name, const std::string& body) {
    FILE* f = std::fopen((std::string("Z:\\tmp\\") + name).c_str(), "wb");
    if (f) {
        std::fputs(body.c_str(), f);
        std::fclose(f);
    }
    return std::string("sh /tmp/") + name;
}

// Takes the environment's sink away; brings it back as it was, with its keepalive, at the
// latest when it goes.
class SinkAway {
public:
    SinkAway() : sink_(environmentSink()) {
        host(hostScript("quaverly-sink-gone.sh",
                        "pactl unload-module $(pactl list short modules | awk '/sink_name=" +
                            sink_ + " / { print $1 }')\n"));
    }
    ~SinkAway() {
        if (!back_)
            host(backCommand());
    }
    SinkAway(const SinkAway&) = delete;
    SinkAway& operator=(const SinkAway&) = delete;

    // Brings it back now, and records its monitor from that moment.
    SinkRecording comeBack(double seconds) {
        back_ = true;
        return SinkRecording({sink_}, seconds, 2, backCommand());
    }

private:
    std::string backCommand() const {
        // The description as the module's arguments take it: quoted, spaces escaped.
        std::string description;
        for (const char* p = std::getenv("QUAVERLY_SINK_DESCRIPTION"); p && *p; ++p)
            description += *p == ' ' ? std::string("\\ ") : std::string(1, *p);
        return hostScript("quaverly-sink-back.sh",
                          "pactl load-module module-null-sink sink_name=" + sink_ +
                              " 'sink_properties=device.description=\"" + description +
                              "\"' > /dev/null\npactl set-default-sink " + sink_ +
                              "\npactl set-default-source " + sink_ +
                              ".monitor\npacat --playback --device=" + sink_ +
                              " --raw --format=s16le --rate=44100 --channels=2 --latency-msec=20 "
                              "--client-name=quaverly-keepalive < /dev/zero > /dev/null 2>&1 &\n");
    }

    std::string sink_;
    bool back_ = false;
};

TEST(NoSinkAtAll, TimeGoesOnTheTrackEndsAndTheNextIsHeardWhenASinkComesBack) {
    if (!underTestEnvironment())
        GTEST_SKIP() << "needs the test environment's PulseAudio server";
    FSOUND_STREAM* first = playTone("first.wav", 3.0);
    sleepMs(300);
    SinkAway away;
    // With no device the track still ends, and the next one starts.
    const DWORD t0 = GetTickCount();
    while (FSOUND_Stream_GetTime(first) < FSOUND_Stream_GetLengthMs(first) &&
           GetTickCount() - t0 < 6000)
        sleepMs(50);
    const int reached = FSOUND_Stream_GetTime(first);
    const int length = FSOUND_Stream_GetLengthMs(first);
    closeStream(first);
    FSOUND_STREAM* next = playTone("next.wav", 30, 660.0);
    sleepMs(500);
    const int nextAt = FSOUND_Stream_GetTime(next);

    SinkRecording heard = away.comeBack(3.0);
    const std::vector<float> samples = heard.samples(0);
    const double heardAfter = firstSound(samples, 2, 0);
    closeStream(next);
    std::printf("  first track at %d of %d ms after %lu ms without a sink; next at %d ms; "
                "heard again %.2f s after the sink came back\n",
                reached, length, static_cast<unsigned long>(GetTickCount() - t0), nextAt,
                heardAfter);
    EXPECT_GE(reached, length - 100);
    EXPECT_GT(nextAt, 200);
    ASSERT_GE(heardAfter, 0) << "not heard after the sink came back";
    EXPECT_LT(heardAfter, 2.0);
}

// Wine gives a process the mix format a device had when the process first looked at it:
// the tone plays from a process of its own, started once the 5.1 sink is the default.
TEST(SurroundSink, PlaysAToneInAProcessOfItsOwn) {
    if (!std::getenv("QUAVERLY_SURROUND_CHILD"))
        GTEST_SKIP() << "started by SurroundSink.StereoIsHeardOnFrontLeftAndRightOnly";
    FSOUND_STREAM* s = playTone("surround.wav", 30);
    sleepMs(3000);
    closeStream(s);
}

TEST(SurroundSink, StereoIsHeardOnFrontLeftAndRightOnly) {
    if (!underTestEnvironment())
        GTEST_SKIP() << "needs the test environment's PulseAudio server";
    HostSink surround("quaverly_surround", "Quaverly_Surround", 6);
    ASSERT_TRUE(surround.ok());
    host("pactl set-default-sink " + surround.name());
    SinkRecording heard({surround.name()}, 8.0, 6);
    EXPECT_EQ(
        runTestInChild("SurroundSink.PlaysAToneInAProcessOfItsOwn", "QUAVERLY_SURROUND_CHILD"), 0u);
    const std::vector<float> samples = heard.samples(0);
    static const char* const names[] = {"front left", "front right", "centre",
                                        "LFE",        "rear left",   "rear right"};
    for (int c = 0; c < 6; ++c) {
        const double db = peakDb(samples, 6, c);
        std::printf("  %s: %.1f dBFS\n", names[c], db);
        if (c < 2)
            EXPECT_GT(db, -15.0) << names[c];
        else
            EXPECT_LT(db, -60.0) << names[c];
    }
}

} // namespace

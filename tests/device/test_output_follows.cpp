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
    FSOUND_STREAM* s =
        FSOUND_Stream_Open(writeTemp(name, qvgen::wavTone(wav)).c_str(), FSOUND_NORMAL, 0, 0);
    EXPECT_NE(s, nullptr);
    EXPECT_GE(FSOUND_Stream_Play(FSOUND_FREE, s), 0);
    FSOUND_SetVolume(FSOUND_ALL, 255);
    return s;
}

void closeStream(FSOUND_STREAM* s) {
    FSOUND_Stream_Stop(s);
    FSOUND_Stream_Close(s);
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

    SinkRecording heard({from, to}, 6.0);
    sleepMs(800);
    const DWORD t0 = GetTickCount();
    const int p0 = FSOUND_Stream_GetTime(s);
    DWORD paused = 0;
    switch (c.move) {
    case Move::NewDefault: host("pactl set-default-sink " + to); break;
    case Move::PlayingSinkUnloaded: spare.unload(); break;
    case Move::PausedAcrossNewDefault: {
        FSOUND_SetPaused(FSOUND_ALL, TRUE);
        const DWORD pausedAt = GetTickCount();
        host("pactl set-default-sink " + to);
        sleepMs(500);
        FSOUND_SetPaused(FSOUND_ALL, FALSE);
        paused = GetTickCount() - pausedAt;
        break;
    }
    }
    sleepMs(1800);
    const int drift = static_cast<int>(FSOUND_Stream_GetTime(s) - p0) -
                      static_cast<int>(GetTickCount() - t0 - paused);
    const std::vector<float> before = heard.samples(0);
    const std::vector<float> after = heard.samples(1);
    closeStream(s);

    const double lastBefore = lastSound(before, 2, 0);
    const double firstAfter = firstSound(after, 2, 0);
    const double gap = firstAfter - lastBefore - paused / 1000.0;
    std::printf("  %s: last heard on %s at %.2f s, first on %s at %.2f s: gap %.0f ms (less "
                "%lu ms paused); position drift %d ms\n",
                c.name, from.c_str(), lastBefore, to.c_str(), firstAfter, 1000 * gap,
                static_cast<unsigned long>(paused), drift);
    ASSERT_GE(lastBefore, 0) << "never heard before the change";
    ASSERT_GE(firstAfter, 0) << "never heard on the new sink";
    EXPECT_LT(gap, 1.0);
    EXPECT_GT(firstAfter, lastBefore - 0.1) << "heard on both";
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

TEST(NoSinkAtAll, TimeGoesOnTheTrackEndsAndTheNextIsHeardWhenASinkComesBack) {
    if (!underTestEnvironment())
        GTEST_SKIP() << "needs the test environment's PulseAudio server";
    const std::string sink = environmentSink();
    FSOUND_STREAM* first = playTone("first.wav", 3.0);
    sleepMs(300);
    host(hostScript("quaverly-sink-gone.sh", "pactl unload-module $(pactl list short modules | "
                                             "awk '/sink_name=" +
                                                 sink + "/ { print $1 }')\n"));
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

    // The environment's sink comes back as it was, with its keepalive; its monitor is
    // recorded from that moment.
    const char* description = std::getenv("QUAVERLY_SINK_DESCRIPTION");
    const std::string back =
        hostScript("quaverly-sink-back.sh",
                   "pactl load-module module-null-sink sink_name=" + sink +
                       " 'sink_properties=device.description=\"" +
                       (description ? description : "Quaverly Null Output") +
                       "\"' > /dev/null\n"
                       "pactl set-default-sink " +
                       sink + "\npactl set-default-source " + sink +
                       ".monitor\n"
                       "pacat --playback --device=" +
                       sink +
                       " --raw --format=s16le --rate=44100 --channels=2 --latency-msec=20 "
                       "--client-name=quaverly-keepalive < /dev/zero > /dev/null 2>&1 &\n");
    SinkRecording heard({sink}, 3.0, 2, back);
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

TEST(SurroundSink, StereoIsHeardOnFrontLeftAndRightOnly) {
    if (!underTestEnvironment())
        GTEST_SKIP() << "needs the test environment's PulseAudio server";
    HostSink surround("quaverly_surround", "Quaverly_Surround", 6);
    ASSERT_TRUE(surround.ok());
    host("pactl set-default-sink " + surround.name());
    FSOUND_STREAM* s = playTone("surround.wav", 30);
    sleepMs(1000);
    SinkRecording heard({surround.name()}, 2.0, 6);
    const std::vector<float> samples = heard.samples(0);
    closeStream(s);
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

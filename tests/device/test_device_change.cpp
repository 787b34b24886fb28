// The device the output plays on goes away while a track plays: nothing hangs, calls answer at
// once, and the next play is heard on the default output. Needs the test environment's
// PulseAudio server, driven through pactl from inside Wine.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bass23.h"
#include "fmod3.h"
#include "tests/device/device_fixture.h"

namespace {

using namespace qvtest;

TEST(DefaultOutput, PlaysOnTheDefaultAgainAfterItsDeviceWentAway) {
    if (!underTestEnvironment())
        GTEST_SKIP() << "needs the test environment's PulseAudio server";
    qvgen::WavSpec wav;
    wav.seconds = 30;
    const std::string tone = writeTemp("change.wav", qvgen::wavTone(wav));

    // FMOD's output opens on a second sink, the default at that moment.
    HostSink spare("quaverly_spare", "Quaverly_Spare");
    ASSERT_TRUE(spare.ok());
    host("pactl set-default-sink " + spare.name());
    FSOUND_Close();
    ASSERT_TRUE(FSOUND_Init(44000, 32, 0));
    FSOUND_STREAM* first = playStream(tone);
    sleepMs(300);
    EXPECT_LT(listen(0.5, wav.frequency).rmsDb, -60.0) << "heard on the first sink";

    // That sink goes away while the stream plays; the first one is the default again.
    host(std::string("pactl set-default-sink ") + std::getenv("QUAVERLY_SINK"));
    spare.unload();
    sleepMs(300);
    // Calls still answer at once.
    const DWORD t0 = GetTickCount();
    for (int i = 0; i < 20; ++i)
        FSOUND_Stream_GetTime(first);
    closeStream(first);
    EXPECT_LT(GetTickCount() - t0, 200u);

    // The next play opens the default output again.
    FSOUND_STREAM* second = playStream(tone);
    sleepMs(300);
    const Heard h = listen(0.6, wav.frequency);
    EXPECT_NEAR(h.frequency, wav.frequency, 0.03 * wav.frequency);
    EXPECT_GT(h.toneDb, -15.0);
    closeStream(second);
}

// Level in dBFS of one side of a stereo recording.
double sideDb(const std::vector<float>& stereo, int side) {
    double sum = 0;
    for (size_t i = side; i < stereo.size(); i += 2)
        sum += double(stereo[i]) * stereo[i];
    return 10 * std::log10(std::max(sum / double(stereo.size() / 2), 1e-20));
}

// With 5.1 speakers as the default output, a tone that another program plays on the centre
// alone is in the recording on each side at -3 dB against the same tone on front left alone.
// Wine gives a process the format a device had when the process first looked at it, so the
// recording is made by a process of its own, started once the 5.1 sink is the default.
TEST(SurroundOutput, RecordsInAProcessOfItsOwn) {
    if (!std::getenv("QUAVERLY_SURROUND_CHILD"))
        GTEST_SKIP() << "started by SurroundOutput.TheRecordingKeepsTheCentre";
    // The 5.1 sink's monitor, by its name: the default input may not have followed yet.
    int input = -1;
    for (int i = 0; input < 0 && BASS_RecordGetInput(i) != 0xFFFFFFFF; ++i) {
        const char* name = BASS_RecordGetInputName(i);
        if (name && std::strstr(name, "Quaverly_Surround"))
            input = i;
    }
    ASSERT_GE(input, 0) << "no input for the 5.1 sink";
    ASSERT_TRUE(BASS_RecordSetInput(input, 0x60032));
    // Each remix keeps one of the six channels (front left, front right, centre, LFE, back).
    auto heardWith = [](const char* remix) {
        host(std::string("sox -n -r 48000 -b 16 -c 6 /tmp/quaverly_surround.wav synth 5 sine "
                         "1000 gain -12 remix ") +
             remix + " && paplay --device=quaverly_surround /tmp/quaverly_surround.wav");
        std::vector<float> got;
        for (int i = 0; i < 10; ++i) { // until the tone has started
            got = record(0.3);
            if (std::max(sideDb(got, 0), sideDb(got, 1)) > -60)
                break;
        }
        got = record(1.0);
        sleepMs(2000); // until it has played out
        return std::pair<double, double>(sideDb(got, 0), sideDb(got, 1));
    };
    const auto front = heardWith("1 0 0 0 0 0");
    const auto centre = heardWith("0 0 1 0 0 0");
    printf("front left alone: %.1f / %.1f dBFS, centre alone: %.1f / %.1f dBFS\n", front.first,
           front.second, centre.first, centre.second);
    ASSERT_GT(front.first, -40.0) << "the front left tone was not recorded";
    EXPECT_LT(front.second, front.first - 30.0) << "front left stays on the left";
    EXPECT_NEAR(centre.first, front.first - 3.0, 1.0) << "centre on the left at -3 dB";
    EXPECT_NEAR(centre.second, front.first - 3.0, 1.0) << "centre on the right at -3 dB";
}

TEST(SurroundOutput, TheRecordingKeepsTheCentre) {
    if (!underTestEnvironment())
        GTEST_SKIP() << "needs the test environment's PulseAudio server";
    HostSink surround("quaverly_surround", "Quaverly_Surround", 6);
    ASSERT_TRUE(surround.ok());
    host("pactl set-default-sink " + surround.name());
    host("pactl set-default-source " + surround.name() + ".monitor");
    const DWORD result =
        runTestInChild("SurroundOutput.RecordsInAProcessOfItsOwn", "QUAVERLY_SURROUND_CHILD");
    host(std::string("pactl set-default-source ") + std::getenv("QUAVERLY_SINK") + ".monitor");
    EXPECT_EQ(result, 0u) << "the recording in the child process (its output is above)";
}

} // namespace

// The device the output plays on goes away while a track plays: nothing hangs, calls answer at
// once, and the next play is heard on the default output. Needs the test environment's
// PulseAudio server, driven through pactl from inside Wine.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bass23.h"
#include "fmod3.h"
#include "tests/device/device_fixture.h"

namespace {

using namespace qvtest;

FSOUND_STREAM* playTone(const std::string& path) {
    FSOUND_STREAM* s = FSOUND_Stream_Open(path.c_str(), FSOUND_NORMAL, 0, 0);
    EXPECT_NE(s, nullptr);
    EXPECT_GE(FSOUND_Stream_Play(FSOUND_FREE, s), 0);
    FSOUND_SetVolume(FSOUND_ALL, 255);
    return s;
}

void closeStream(FSOUND_STREAM* s) {
    FSOUND_Stream_Stop(s);
    FSOUND_Stream_Close(s);
}

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
    FSOUND_STREAM* first = playTone(tone);
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
    FSOUND_STREAM* second = playTone(tone);
    sleepMs(300);
    const Heard h = listen(0.6, wav.frequency);
    EXPECT_NEAR(h.frequency, wav.frequency, 0.03 * wav.frequency);
    EXPECT_GT(h.toneDb, -15.0);
    closeStream(second);
}

} // namespace

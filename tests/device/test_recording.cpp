// The recording side: its inputs, blocks that follow the wall clock, and the end of a recording.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "audio/bass23.h"
#include "tests/device/device_fixture.h"

namespace {

using namespace qvtest;

TEST(RecordingInputs, TheSinkMonitorIsAWaveInputAndTheListEnds) {
    const int wave = waveInput();
    ASSERT_GE(wave, 0);
    const char* name = BASS_RecordGetInputName(wave);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(std::string(name).rfind("Monitor of ", 0), 0u) << name;

    int count = 0;
    while (BASS_RecordGetInput(count) != 0xFFFFFFFF) {
        EXPECT_NE(BASS_RecordGetInputName(count), nullptr);
        ++count;
    }
    EXPECT_GT(count, wave);
    EXPECT_EQ(BASS_RecordGetInputName(count), nullptr);
    EXPECT_EQ(BASS_RecordGetInput(-2), 0xFFFFFFFFu);
    // The selected input is on, at the level it was given.
    EXPECT_EQ(BASS_RecordGetInput(wave) & 0x1FFFF, 50u);
}

TEST(Recording, TenSecondsWithNothingPlayingGiveTenSecondsOfZeros) {
    const std::vector<float> all = record(10.0);
    const double seconds = static_cast<double>(all.size() / 2) / recordRate;
    EXPECT_NEAR(seconds, 10.0, 0.5);
    EXPECT_EQ(std::count(all.begin(), all.end(), 0.0f), static_cast<ptrdiff_t>(all.size()));
}

TEST(Recording, ASourceThatDeliversNothingStillFollowsTheWallClock) {
    if (!underTestEnvironment())
        GTEST_SKIP() << "needs the test environment's PulseAudio server";
    // A suspended sink renders nothing, so its monitor sends no packets at all, like a loopback
    // while nothing plays.
    struct Resume {
        ~Resume() {
            host(std::string("pactl suspend-sink ") + std::getenv("QUAVERLY_SINK") + " 0");
        }
    } resume;
    host(std::string("pactl suspend-sink ") + std::getenv("QUAVERLY_SINK") + " 1");
    const std::vector<float> all = record(4.0);
    const double seconds = static_cast<double>(all.size() / 2) / recordRate;
    EXPECT_NEAR(seconds, 4.0, 0.2);
    EXPECT_EQ(std::count(all.begin(), all.end(), 0.0f), static_cast<ptrdiff_t>(all.size()));
}

// Calls that still arrive once BASS_ChannelStop has returned.
std::atomic<bool> stopReturned{false};
std::atomic<int> lateCalls{0};
std::atomic<int> calls{0};

BOOL CALLBACK slowCounter(HRECORD, void*, DWORD length, DWORD) {
    if (stopReturned.load())
        ++lateCalls;
    ++calls;
    if (length % 3 == 0)
        Sleep(2); // now and then, be inside the callback when the stop comes
    return TRUE;
}

TEST(Recording, NoCallbackOnceStopHasReturnedHundredTimes) {
    srand(7);
    int recordingsWithBlocks = 0;
    for (int i = 0; i < 100; ++i) {
        stopReturned = false;
        calls = 0;
        const HRECORD r = BASS_RecordStart(recordRate, 2, 0, slowCounter, 0);
        ASSERT_NE(r, 0u) << "start " << i;
        EXPECT_EQ(BASS_ChannelIsActive(r), static_cast<DWORD>(BASS_ACTIVE_PLAYING));
        Sleep(static_cast<DWORD>(20 + rand() % 40)); // mostly while blocks flow
        ASSERT_TRUE(BASS_ChannelStop(r));
        stopReturned = true;
        recordingsWithBlocks += calls.load() > 0;
        EXPECT_EQ(BASS_ChannelIsActive(r), static_cast<DWORD>(BASS_ACTIVE_STOPPED));
    }
    Sleep(100);
    EXPECT_EQ(lateCalls.load(), 0);
    EXPECT_GT(recordingsWithBlocks, 50);
}

// A callback that sets a window's text waits for the thread that owns the window, which may
// at that moment be inside BASS_ChannelStop.
HWND label = nullptr;
std::atomic<int> labelled{0};

BOOL CALLBACK labelWriter(HRECORD, void*, DWORD length, DWORD) {
    char text[32];
    wsprintfA(text, "Recording.... %lu", static_cast<unsigned long>(length));
    SetWindowTextA(label, text);
    ++labelled;
    return TRUE;
}

TEST(Recording, StopDoesNotWaitForeverOnACallbackThatWaitsForTheCaller) {
    label = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(label, nullptr);
    // Should a stop hang, end the process with a clear message instead of at the time limit.
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 600 && !done; ++i)
            Sleep(100);
        if (!done) {
            fprintf(stderr, "BASS_ChannelStop hangs on a callback that waits for this thread\n");
            fflush(stderr);
            ExitProcess(3);
        }
    });
    for (int i = 0; i < 30; ++i) {
        const HRECORD r = BASS_RecordStart(recordRate, 2, 0, labelWriter, 0);
        ASSERT_NE(r, 0u);
        Sleep(30); // no messages handled: the callback blocks on this thread
        BASS_ChannelStop(r);
    }
    done = true;
    watchdog.join();
    EXPECT_GT(labelled.load(), 0);
    DestroyWindow(label);
}

std::atomic<int> untilFalse{0};

BOOL CALLBACK threeBlocks(HRECORD, void*, DWORD, DWORD) {
    return ++untilFalse < 3;
}

TEST(Recording, ACallbackReturningFalseEndsTheRecording) {
    const HRECORD r = BASS_RecordStart(recordRate, 2, 0, threeBlocks, 0);
    ASSERT_NE(r, 0u);
    for (int i = 0; i < 200 && BASS_ChannelIsActive(r) != BASS_ACTIVE_STOPPED; ++i)
        Sleep(20);
    EXPECT_EQ(BASS_ChannelIsActive(r), static_cast<DWORD>(BASS_ACTIVE_STOPPED));
    Sleep(200);
    EXPECT_EQ(untilFalse.load(), 3);
    BASS_ChannelStop(r);
    // The next recording starts as usual.
    const std::vector<float> after = record(0.5);
    EXPECT_GT(after.size(), 0u);
}

} // namespace

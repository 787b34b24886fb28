// The recording side: its inputs, blocks that follow the wall clock, and the end of a recording.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "bass23.h"
#include "qvdevice/capture.h"
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

TEST(RecordingInputs, AFailedLoopbackProbeIsTriedAgainAndAWorkingOneRemembered) {
    static int runs = 0;
    static bool works = false;
    auto probe = [] {
        ++runs;
        return works;
    };
    EXPECT_FALSE(qvdevice::rememberedProbe(L"busy output", probe));
    works = true;
    EXPECT_TRUE(qvdevice::rememberedProbe(L"busy output", probe));
    EXPECT_TRUE(qvdevice::rememberedProbe(L"busy output", probe));
    EXPECT_EQ(runs, 2);
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

// A stop reached again from a message handled while the first one waits (the session ending
// during Stop) waits for the same recording: once either returns, no call is running.
std::atomic<bool> released{false};
std::atomic<int> callsAfterRelease{0};
HRECORD nested = 0;

BOOL CALLBACK slowWriter(HRECORD, void*, DWORD, DWORD) {
    if (released.load())
        ++callsAfterRelease;
    Sleep(30);
    if (released.load())
        ++callsAfterRelease;
    return TRUE;
}

LRESULT CALLBACK stopAgain(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_APP)
        return DefWindowProcA(window, message, wParam, lParam);
    BASS_ChannelStop(nested);
    released = true; // the file would be closed here
    return 0;
}

TEST(RecordingStop, AStopInsideAStopWaitsForTheSameRecording) {
    WNDCLASSA c = {};
    c.lpfnWndProc = stopAgain;
    c.lpszClassName = "QuaverlyStopAgain";
    RegisterClassA(&c);
    HWND window = CreateWindowExA(0, c.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    for (int i = 0; i < 5; ++i) {
        released = false;
        nested = BASS_RecordStart(recordRate, 2, 0, slowWriter, 0);
        ASSERT_NE(nested, 0u);
        Sleep(300);
        std::atomic<bool> stopping{false};
        std::thread session([&] {
            while (!stopping.load())
                Sleep(1);
            Sleep(5);
            SendMessageA(window, WM_APP, 0, 0);
        });
        stopping = true;
        BASS_ChannelStop(nested);
        session.join();
    }
    Sleep(100);
    EXPECT_EQ(callsAfterRelease.load(), 0);
    DestroyWindow(window);
}

// A write that never returns (a drive that stopped answering) holds the callback: the stop still
// returns within a few seconds, and no further call starts.
std::atomic<int> hungCalls{0};
HANDLE driveAnswers = nullptr;

BOOL CALLBACK hungWriter(HRECORD, void*, DWORD, DWORD) {
    if (++hungCalls == 2)
        WaitForSingleObject(driveAnswers, INFINITE);
    return TRUE;
}

TEST(RecordingStop, ReturnsInBoundedTimeWhenAWriteHangs) {
    driveAnswers = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const HRECORD r = BASS_RecordStart(recordRate, 2, 0, hungWriter, 0);
    ASSERT_NE(r, 0u);
    for (int i = 0; i < 200 && hungCalls.load() < 2; ++i)
        Sleep(10);
    ASSERT_EQ(hungCalls.load(), 2);
    const ULONGLONG t0 = GetTickCount64();
    BASS_ChannelStop(r);
    const ULONGLONG took = GetTickCount64() - t0;
    printf("[ stop with a hung write ] returned after %llu ms\n",
           static_cast<unsigned long long>(took));
    EXPECT_LT(took, 10000u); // bounded: a few seconds, not for ever
    SetEvent(driveAnswers);
    Sleep(200);
    EXPECT_EQ(hungCalls.load(), 2) << "a call started after the stop";
    // The next recording works.
    EXPECT_GT(record(0.5).size(), 0u);
    CloseHandle(driveAnswers);
}

} // namespace

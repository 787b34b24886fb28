// A stream whose source stops answering (a file on a drive that went to sleep) is played on the
// output while a window's thread seeks, pauses and closes it, as the player's controls do: the
// window keeps answering.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <thread>

#include "qvcore/qvcore.h"
#include "qvcore/read_ahead.h"
#include "qvdevice/mixed_output.h"

namespace {

// A 440 Hz tone whose reads after its first two seconds (read ahead at once), and every seek,
// take five seconds.
class StuckSource final : public qvcore::PcmSource {
public:
    std::size_t read(float* out, std::size_t frames) override {
        if (frame_ > 2 * 44100)
            Sleep(5000);
        for (std::size_t i = 0; i < frames; ++i, ++frame_)
            out[2 * i] = out[2 * i + 1] = 0.25f * std::sin(frame_ * 2 * 3.14159265 * 440 / 44100);
        return frames;
    }
    bool seek(std::uint64_t frame) override {
        Sleep(5000);
        frame_ = frame;
        return true;
    }

private:
    std::uint64_t frame_ = 0;
};

TEST(StuckSource, TheWindowAnswersWhileTheSourceBlocks) {
    qvdevice::MixedOutput<qvcore::Mixer> out;
    ASSERT_EQ(out.open(4), S_OK);
    qvcore::Mixer& mixer = *out.mixer();
    const auto channel = mixer.add(qvcore::openReadAhead([](qvcore::PcmSourceInfo& info) {
        info.rate = 44100;
        return std::make_unique<StuckSource>();
    }));
    ASSERT_NE(channel, 0u);
    out.setActive(true);
    ASSERT_TRUE(mixer.play(channel, true));

    HWND window =
        CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    // Another thread asks the window to answer, as the system does to tell a hung window.
    std::atomic<bool> done{false};
    std::atomic<DWORD> longest{0};
    std::thread asker([&] {
        while (!done) {
            const DWORD asked = GetTickCount();
            DWORD_PTR result = 0;
            SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
            longest = std::max<DWORD>(longest, GetTickCount() - asked);
            Sleep(50);
        }
    });

    // The controls, on the window's thread between its messages: the source is stuck by then.
    const DWORD start = GetTickCount();
    int step = 0;
    while (GetTickCount() - start < 4000) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        const DWORD at = GetTickCount() - start;
        if (step == 0 && at > 1000) {
            mixer.seekMs(channel, 500);
            ++step;
        } else if (step == 1 && at > 2000) {
            mixer.setPaused(channel, true);
            mixer.setPaused(channel, false);
            mixer.seekMs(channel, 100);
            ++step;
        } else if (step == 2 && at > 3000) {
            mixer.remove(channel);
            ++step;
        }
    }
    done = true;
    asker.join();
    DestroyWindow(window);
    out.close();
    std::printf("  longest wait for the window: %lu ms\n", static_cast<unsigned long>(longest));
    EXPECT_EQ(step, 3);
    // A seek waits for the source at most a second, a close half a second.
    EXPECT_LT(longest.load(), 1500u);
}

} // namespace

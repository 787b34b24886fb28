// A shared-mode output stream on the default render endpoint, in the endpoint's own mix format.
// A render thread of its own pulls stereo float from a callback, woken by the device's event or,
// under Wine, by a timer (see Wake).
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <thread>

namespace qvdevice {

// Runs on the render thread: fill `frames` interleaved stereo frames at the stream's rate.
// It must not block, allocate or touch the file system.
using RenderProc = void (*)(void* user, float* stereo, uint32_t frames);

struct OutputState;

// How the render thread learns that the device wants more.
// - Event: the device signals an event each period (what Windows does best).
// - Timer: the thread sleeps one device period between fills. Under Wine every event costs a
//   round trip through wineserver in two threads, a third of the stream's CPU.
// - Automatic: Timer under Wine, Event elsewhere.
enum class Wake { Automatic, Event, Timer };

// For tests and benchmarks that watch the render path: called on every render thread as it
// starts (null: nothing).
void setRenderThreadObserver(void (*observer)());

class OutputStream {
public:
    OutputStream() = default;
    ~OutputStream() { close(); }
    OutputStream(const OutputStream&) = delete;
    OutputStream& operator=(const OutputStream&) = delete;

    // Opens the default output and starts rendering. A failure says why: no device, a format
    // the mixer cannot take, a render thread that did not start in time.
    HRESULT open(RenderProc proc, void* user, Wake wake = Wake::Automatic);
    // Stops the render thread; once it returns, proc never runs again.
    void close();

    bool isOpen() const { return state_ != nullptr; }
    // The device went away, failed, or is no longer the default output (asks the system, so
    // call it from a thread with COM, before a play).
    bool needsReopen() const;
    // Whether anything is to be heard. The stream starts active; while inactive the device is
    // stopped after a short tail of silence, and made to run again at once when active.
    void setActive(bool active);
    // Frames per second of the open stream (0 when closed).
    uint32_t rate() const;
    // Frames queued in the device but not yet heard (an estimate, for positions).
    uint32_t latencyFrames() const;

private:
    std::shared_ptr<OutputState> state_;
    // Beside the state, never inside it: the render thread may hold the state's last reference.
    std::thread thread_;
};

} // namespace qvdevice

// A shared-mode output stream that follows the default render endpoint, in whatever mix format
// it has. A render thread of its own pulls stereo float from a callback, woken by the device's
// event or, under Wine, by a timer (see Wake). A lost device, or a new default, is reopened on
// the render thread; with no device at all the callback is still run, in real time, and its
// output dropped, so that positions move on.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "qvdevice/format.h"

namespace qvdevice {

// Runs on the render thread: fill `frames` interleaved stereo frames at the stream's rate()
// (which changes only between two calls, when the stream moves to another device).
// It must not block, allocate or touch the file system.
using RenderProc = void (*)(void* user, float* stereo, uint32_t frames);

struct OutputState;

// How the render thread learns that the device wants more.
// - Event: the device signals an event each period (what Windows does best).
// - Timer: the thread sleeps one device period between fills. Under Wine every event costs a
//   round trip through wineserver in two threads, a third of the stream's CPU.
// - Automatic: Timer under Wine, Event elsewhere; QUAVERLY_OUTPUT_WAKE=event or =timer in the
//   environment chooses instead (tests run the event-driven path under Wine with it).
enum class Wake { Automatic, Event, Timer };

// For tests and benchmarks that watch the render path: called on every render thread as it
// starts (null: nothing).
void setRenderThreadObserver(void (*observer)());

// One initialised stream on one endpoint: the calls the render thread makes, so that a
// simulated device can stand in for the system's. Used on the render thread only.
class RenderClient {
public:
    virtual ~RenderClient() = default;
    // Shared mode in the endpoint's mix format, woken through `event` (null: timer-driven).
    // Gives the layout, the buffer's size in frames and the device period (100 ns units).
    virtual HRESULT initialize(HANDLE event, DeviceFormat& format, UINT32& bufferFrames,
                               LONGLONG& period) = 0;
    virtual HRESULT padding(UINT32& frames) = 0;
    virtual HRESULT getBuffer(UINT32 frames, BYTE*& data) = 0;
    virtual HRESULT releaseBuffer(UINT32 frames, bool silent) = 0;
    virtual HRESULT start() = 0;
    virtual void stop() = 0;
};

// The render endpoints of the system, as an output stream sees them.
class OutputSystem {
public:
    class Watch {
    public:
        virtual ~Watch() = default;
    };
    virtual ~OutputSystem() = default;
    // The default render endpoint for the console role; a failure when there is none. On a
    // thread with COM.
    virtual HRESULT defaultDevice(std::wstring& id) = 0;
    // A stream on that endpoint, not yet initialised. On the thread that will use it (COM).
    virtual HRESULT activate(const std::wstring& id, std::unique_ptr<RenderClient>& out) = 0;
    // Sets `event` (on any thread) whenever the default or an endpoint's state may have
    // changed, until the Watch goes. Null when the system cannot tell (it is then asked).
    virtual std::unique_ptr<Watch> watch(HANDLE event) = 0;
};

// The system's own, through WASAPI.
OutputSystem& wasapiOutput();
// What streams opened from now on use (null: the system's own). For tests.
void useOutputSystem(OutputSystem* system);

class OutputStream {
public:
    OutputStream() = default;
    ~OutputStream() { close(); }
    OutputStream(const OutputStream&) = delete;
    OutputStream& operator=(const OutputStream&) = delete;

    // Opens the default output and starts rendering. A failure says why: no device, a format
    // the stream cannot take, a render thread that did not start in time. Once open, the
    // stream follows the default output by itself.
    HRESULT open(RenderProc proc, void* user, Wake wake = Wake::Automatic);
    // Stops the render thread; once it returns, proc never runs again.
    void close();

    bool isOpen() const { return state_ != nullptr; }
    // Whether anything is to be heard. The stream starts active; while inactive the device is
    // stopped after a short tail of silence, and made to run again at once when active.
    void setActive(bool active);
    // Frames per second the stream renders at now (0 when closed).
    uint32_t rate() const;
    // Frames queued in the device but not yet heard (an estimate, for positions; 0 while no
    // device plays).
    uint32_t latencyFrames() const;
    // Whether a device plays now (false while there is none and time goes on in silence).
    bool hasDevice() const;

private:
    std::shared_ptr<OutputState> state_;
    // Beside the state, never inside it: the render thread may hold the state's last reference.
    std::thread thread_;
    std::thread watchThread_;
};

} // namespace qvdevice

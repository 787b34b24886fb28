#include "qvdevice/output.h"

#include <windows.h>
#include <audioclient.h>
#include <avrt.h>
#include <mmdeviceapi.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "qvdevice/com.h"
#include "qvwin32/handle.h"

namespace qvdevice {

namespace {

// A timer-driven stream's buffer, filled four times in its length: each wake costs calls into
// the system (dear under Wine, where this wake is used), and three quarters of it stay for late
// wake-ups.
constexpr REFERENCE_TIME timerBufferDuration = 800000; // 80 ms in 100 ns units
constexpr DWORD openTimeoutMs = 5000;
constexpr DWORD closeTimeoutMs = 2000;
// A running device signals every period (10 ms or so): one that has not for this long twice
// in a row has stopped, and the stream is reopened.
constexpr DWORD eventTimeoutMs = 200;
constexpr int lateEventsLost = 2;
// How often the default output is asked for, for systems that do not tell (Wine).
constexpr DWORD watchMs = 400;
// With no device, the callback runs this often, on the performance counter.
constexpr DWORD clockMs = 10;
// The most one catch-up of the clock renders (a thread that was not scheduled for long).
constexpr LONGLONG clockCatchUpMs = 2000;
constexpr size_t minScratchFrames = 2048;
// A stream's device is stopped after this long with nothing to be heard.
constexpr UINT32 idleTailSeconds = 5;

using qvwin32::Handle;
using qvwin32::makeEvent;

} // namespace

struct OutputState {
    OutputSystem* system = nullptr;
    RenderProc proc = nullptr;
    void* user = nullptr;
    Wake wake = Wake::Event;
    // Held by the render thread around each call of proc; close() clears procEnabled under it.
    std::mutex procLock;
    bool procEnabled = true;

    Handle stopEvent = makeEvent(true);
    Handle readyEvent = makeEvent(true);
    Handle doneEvent = makeEvent(true);
    Handle watchDoneEvent = makeEvent(true);
    Handle wakeEvent = makeEvent(false);
    // Set by the system when devices change, and by the render thread when it lost its own:
    // the watch asks for the default at once.
    Handle watchEvent = makeEvent(false);
    // stopEvent as a flag, for the timer-driven loop, which never waits on the event.
    std::atomic<bool> stopping{false};
    // Something is to be heard; while it is not, the device may be stopped.
    std::atomic<bool> active{true};

    // Written by the render thread before readyEvent, read after it.
    HRESULT initResult = E_FAIL;
    std::atomic<uint32_t> rate{0};
    std::atomic<uint32_t> queued{0};
    std::atomic<bool> hasDevice{false};
    // The watch found that the default output is not the one playing: reopen.
    std::atomic<bool> reroute{false};
    // The endpoint playing (empty while none). Taken briefly by the watch, and by the render
    // thread only as it opens a device.
    std::mutex idLock;
    std::wstring deviceId;
};

namespace {

LONGLONG counterFrequency() {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
}

LONGLONG counterNow() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

// Drives one device after another on the render thread: the default output while there is
// one, the performance counter while there is none.
class Router {
public:
    explicit Router(std::shared_ptr<OutputState> state) : state_(std::move(state)) {}
    Router(const Router&) = delete;
    Router& operator=(const Router&) = delete;

    HRESULT openFirst() {
        if (!audioEvent_)
            return E_OUTOFMEMORY;
        return openDefault();
    }
    void run();

private:
    enum class End { Stop, Lost, Moved, Idle };

    HRESULT openDefault();
    void closeDevice();
    HRESULT start(bool withSound);
    End play();
    bool silence();
    bool sleepUntilActive();
    void render(float* stereo, UINT32 frames);

    std::shared_ptr<OutputState> state_;
    std::unique_ptr<RenderClient> client_;
    Handle audioEvent_ = makeEvent(false);
    DeviceFormat format_;
    UINT32 bufferFrames_ = 0;
    DWORD timerMs_ = 10; // between fills when timer-driven
    std::vector<float> scratch_;
    LONGLONG silentSince_ = 0; // the no-device clock's last reading
};

HRESULT Router::openDefault() {
    closeDevice();
    std::wstring id;
    std::unique_ptr<RenderClient> client;
    HRESULT hr = state_->system->defaultDevice(id);
    if (SUCCEEDED(hr))
        hr = state_->system->activate(id, client);
    DeviceFormat format;
    UINT32 frames = 0;
    REFERENCE_TIME period = 0;
    const bool evented = state_->wake == Wake::Event;
    if (SUCCEEDED(hr)) {
        ResetEvent(audioEvent_.get());
        hr = client->initialize(evented ? audioEvent_.get() : nullptr, format, frames, period);
    }
    if (SUCCEEDED(hr) && (frames == 0 || format.rate == 0 || format.channels == 0))
        hr = AUDCLNT_E_BUFFER_SIZE_ERROR;
    if (SUCCEEDED(hr) && scratch_.size() < 2 * static_cast<size_t>(frames)) {
        try {
            scratch_.assign(2 * std::max<size_t>(frames, minScratchFrames), 0.0f);
        } catch (const std::bad_alloc&) {
            hr = E_OUTOFMEMORY;
        }
    }
    {
        std::lock_guard<std::mutex> lock(state_->idLock);
        if (SUCCEEDED(hr))
            state_->deviceId = std::move(id);
        else
            state_->deviceId.clear();
    }
    if (FAILED(hr))
        return hr;
    client_ = std::move(client);
    format_ = format;
    bufferFrames_ = frames;
    // A quarter of the buffer, or one device period where the buffer is short.
    if (period <= 0)
        period = 100000;
    const DWORD quarterMs = static_cast<DWORD>(1000ull * frames / format.rate / 4);
    timerMs_ = std::max<DWORD>(std::max<DWORD>(quarterMs, static_cast<DWORD>(period / 10000)), 1);
    state_->rate.store(format.rate);
    state_->hasDevice.store(true);
    return S_OK;
}

void Router::closeDevice() {
    if (client_)
        client_->stop();
    client_.reset();
    state_->queued.store(0, std::memory_order_relaxed);
    state_->hasDevice.store(false);
}

void Router::render(float* stereo, UINT32 frames) {
    std::lock_guard<std::mutex> lock(state_->procLock);
    if (state_->procEnabled)
        state_->proc(state_->user, stereo, frames);
    else
        std::fill(stereo, stereo + 2 * static_cast<size_t>(frames), 0.0f);
}

HRESULT Router::start(bool withSound) {
    // Start from a full buffer, so the first period does not underrun.
    UINT32 padding = 0;
    HRESULT hr = client_->padding(padding);
    if (FAILED(hr))
        return hr;
    if (padding > bufferFrames_)
        return AUDCLNT_E_BUFFER_SIZE_ERROR;
    const UINT32 space = bufferFrames_ - padding;
    if (space > 0) {
        BYTE* data = nullptr;
        hr = client_->getBuffer(space, data);
        if (FAILED(hr))
            return hr;
        if (withSound) {
            render(scratch_.data(), space);
            stereoToDevice(scratch_.data(), space, format_, data);
        }
        hr = client_->releaseBuffer(space, !withSound);
        if (FAILED(hr))
            return hr;
    }
    return client_->start();
}

// Feeds the device until the stream is closed, the device fails or stops signalling, the
// default moves elsewhere, or nothing has been heard for a while.
Router::End Router::play() {
    const UINT32 idleTail = format_.rate * idleTailSeconds;
    UINT32 idleFrames = 0;
    int late = 0;
    HANDLE waits[2] = {state_->stopEvent.get(), audioEvent_.get()};
    const bool evented = state_->wake == Wake::Event;
    for (;;) {
        if (evented) {
            const DWORD w = WaitForMultipleObjects(2, waits, FALSE, eventTimeoutMs);
            if (w == WAIT_OBJECT_0)
                return End::Stop;
            if (w == WAIT_TIMEOUT) {
                if (++late >= lateEventsLost)
                    return End::Lost;
            } else if (w != WAIT_OBJECT_0 + 1) {
                return End::Lost;
            } else {
                late = 0;
            }
        } else {
            Sleep(timerMs_);
            if (state_->stopping.load())
                return End::Stop;
        }
        if (state_->reroute.exchange(false))
            return End::Moved;
        UINT32 padding = 0;
        if (FAILED(client_->padding(padding)) || padding > bufferFrames_)
            return End::Lost;
        state_->queued.store(padding, std::memory_order_relaxed);
        const UINT32 space = bufferFrames_ - padding;
        if (space == 0)
            continue;
        BYTE* data = nullptr;
        if (FAILED(client_->getBuffer(space, data)))
            return End::Lost;
        render(scratch_.data(), space);
        stereoToDevice(scratch_.data(), space, format_, data);
        if (FAILED(client_->releaseBuffer(space, false)))
            return End::Lost;
        if (state_->active.load()) {
            idleFrames = 0;
        } else if ((idleFrames += space) >= idleTail) {
            return End::Idle;
        }
    }
}

// No device: runs the callback on the performance counter, in real time, and drops what it
// gives, until the watch finds a default output to try (true) or the stream is closed (false).
bool Router::silence() {
    const LONGLONG perSecond = counterFrequency();
    const uint32_t rate = std::max<uint32_t>(state_->rate.load(), 1);
    const size_t chunk = scratch_.size() / 2;
    // From when the last device stopped taking sound: the time spent trying to open one
    // is made up too.
    LONGLONG& last = silentSince_;
    HANDLE waits[2] = {state_->stopEvent.get(), state_->wakeEvent.get()};
    for (;;) {
        if (WaitForMultipleObjects(2, waits, FALSE, clockMs) == WAIT_OBJECT_0)
            return false;
        const LONGLONG now = counterNow();
        const LONGLONG catchUp = perSecond * clockCatchUpMs / 1000;
        if (now - last > catchUp)
            last = now - catchUp;
        uint64_t frames = static_cast<uint64_t>(now - last) * rate / perSecond;
        // What is less than a frame is kept for the next round.
        last += static_cast<LONGLONG>(frames * perSecond / rate);
        while (state_->active.load() && frames > 0) {
            const UINT32 n = static_cast<UINT32>(std::min<uint64_t>(frames, chunk));
            render(scratch_.data(), n);
            frames -= n;
        }
        if (state_->reroute.exchange(false))
            return true;
    }
}

// Waits, with no device open, until something is to be heard again (true) or the stream is
// closed (false).
bool Router::sleepUntilActive() {
    HANDLE waits[2] = {state_->stopEvent.get(), state_->wakeEvent.get()};
    for (;;) {
        if (state_->active.load())
            return true;
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1)
            return false;
    }
}

void Router::run() {
    DWORD taskIndex = 0;
    HANDLE mmcss = AvSetMmThreadCharacteristicsW(L"Pro Audio", &taskIndex);
    // After a while with nothing to be heard the device is closed: under Wine a stream costs
    // a few per cent of a core even when it is stopped. It reopens on the default output when
    // something is to be heard. A pause or the step to the next track keeps it open, as
    // reopening may take a moment to be heard.
    bool ok = SUCCEEDED(start(false));
    silentSince_ = counterNow();
    for (;;) {
        if (ok) {
            const End end = play();
            silentSince_ = counterNow();
            if (end == End::Stop)
                break;
            closeDevice();
            if (end == End::Idle) {
                if (!sleepUntilActive())
                    break;
                silentSince_ = counterNow();
            }
        } else {
            closeDevice();
            {
                // The watch's next look tries again when there is a default output, this
                // one too.
                std::lock_guard<std::mutex> lock(state_->idLock);
                state_->deviceId.clear();
            }
            if (!silence())
                break;
        }
        state_->reroute.store(false);
        ok = SUCCEEDED(openDefault()) && SUCCEEDED(start(true));
    }
    closeDevice();
    if (mmcss)
        AvRevertMmThreadCharacteristics(mmcss);
}

// Asks the system for the default output now and then, and whenever it says that devices
// changed; tells the render thread when it is not the one playing.
void watchThread(std::shared_ptr<OutputState> state) {
    {
        ThreadCom com;
        auto watch = state->system->watch(state->watchEvent.get());
        HANDLE waits[2] = {state->stopEvent.get(), state->watchEvent.get()};
        for (;;) {
            const DWORD w = WaitForMultipleObjects(2, waits, FALSE, watchMs);
            if (w != WAIT_OBJECT_0 + 1 && w != WAIT_TIMEOUT)
                break;
            std::wstring id;
            if (FAILED(state->system->defaultDevice(id)))
                continue; // none: the render thread goes on with what it has
            bool moved;
            {
                std::lock_guard<std::mutex> lock(state->idLock);
                moved = id != state->deviceId;
            }
            if (moved)
                state->reroute.store(true);
        }
    }
    SetEvent(state->watchDoneEvent.get());
}

std::atomic<void (*)()> renderThreadObserver{nullptr};

void renderThread(std::shared_ptr<OutputState> state) {
    if (auto observe = renderThreadObserver.load())
        observe();
    {
        ThreadCom com;
        Router router(state);
        HRESULT hr = router.openFirst();
        state->initResult = hr;
        SetEvent(state->readyEvent.get());
        if (SUCCEEDED(hr))
            router.run();
    }
    SetEvent(state->doneEvent.get());
}

// Joined when the thread finishes in time, otherwise left to finish alone (it owns its state).
void endThread(HANDLE done, std::thread& thread) {
    if (!thread.joinable())
        return;
    if (WaitForSingleObject(done, closeTimeoutMs) == WAIT_OBJECT_0)
        thread.join();
    else
        thread.detach();
}

void finish(OutputState& state, std::thread& render, std::thread& watch) {
    {
        std::lock_guard<std::mutex> lock(state.procLock);
        state.procEnabled = false;
    }
    state.stopping = true;
    SetEvent(state.stopEvent.get());
    endThread(state.doneEvent.get(), render);
    endThread(state.watchDoneEvent.get(), watch);
}

bool underWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

Wake chooseWake(Wake asked) {
    if (asked != Wake::Automatic)
        return asked;
    if (const char* forced = std::getenv("QUAVERLY_OUTPUT_WAKE")) {
        if (std::strcmp(forced, "event") == 0)
            return Wake::Event;
        if (std::strcmp(forced, "timer") == 0)
            return Wake::Timer;
    }
    return underWine() ? Wake::Timer : Wake::Event;
}

// ---------------------------------------------------------------------------------------------
// The system's endpoints through WASAPI.

class WasapiClient final : public RenderClient {
public:
    explicit WasapiClient(ComPtr<IAudioClient> client) : client_(std::move(client)) {}

    HRESULT initialize(HANDLE event, DeviceFormat& format, UINT32& bufferFrames,
                       REFERENCE_TIME& period) override {
        CoTaskMem<WAVEFORMATEX> mix;
        HRESULT hr = client_->GetMixFormat(mix.put());
        if (FAILED(hr))
            return hr;
        if (!describeFormat(mix.get(), format))
            return AUDCLNT_E_UNSUPPORTED_FORMAT;
        // An event-driven shared stream must ask for no buffer duration and no period: the
        // engine sizes the buffer from its own period.
        hr = client_->Initialize(AUDCLNT_SHAREMODE_SHARED,
                                 (event ? AUDCLNT_STREAMFLAGS_EVENTCALLBACK : 0) |
                                     AUDCLNT_STREAMFLAGS_NOPERSIST,
                                 event ? 0 : timerBufferDuration, 0, mix.get(), nullptr);
        if (FAILED(hr))
            return hr;
        if (event) {
            hr = client_->SetEventHandle(event);
            if (FAILED(hr))
                return hr;
        }
        hr = client_->GetBufferSize(&bufferFrames);
        if (FAILED(hr))
            return hr;
        if (FAILED(client_->GetDevicePeriod(&period, nullptr)))
            period = 0;
        return client_->GetService(__uuidof(IAudioRenderClient), render_.putVoid());
    }
    HRESULT padding(UINT32& frames) override { return client_->GetCurrentPadding(&frames); }
    HRESULT getBuffer(UINT32 frames, BYTE*& data) override {
        return render_->GetBuffer(frames, &data);
    }
    HRESULT releaseBuffer(UINT32 frames, bool silent) override {
        return render_->ReleaseBuffer(frames, silent ? AUDCLNT_BUFFERFLAGS_SILENT : 0);
    }
    HRESULT start() override { return client_->Start(); }
    void stop() override { client_->Stop(); }

private:
    ComPtr<IAudioClient> client_;
    ComPtr<IAudioRenderClient> render_;
};

// Sets an event whenever the system says that render endpoints changed.
class DeviceNotifier final : public IMMNotificationClient {
public:
    explicit DeviceNotifier(HANDLE event) : event_(event) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(iid, __uuidof(IUnknown)) ||
            IsEqualIID(iid, __uuidof(IMMNotificationClient))) {
            AddRef();
            *out = static_cast<IMMNotificationClient*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG n = InterlockedDecrement(&refs_);
        if (n == 0)
            delete this;
        return n;
    }

    HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR) override {
        if (flow == eRender && role == eConsole)
            SetEvent(event_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR, DWORD) override {
        SetEvent(event_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override {
        SetEvent(event_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override {
        SetEvent(event_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override {
        return S_OK;
    }

private:
    ~DeviceNotifier() = default;
    LONG refs_ = 1;
    HANDLE event_;
};

class WasapiWatch final : public OutputSystem::Watch {
public:
    WasapiWatch(ComPtr<IMMDeviceEnumerator> enumerator, DeviceNotifier* notifier)
        : enumerator_(std::move(enumerator)), notifier_(notifier) {}
    ~WasapiWatch() override {
        enumerator_->UnregisterEndpointNotificationCallback(notifier_);
        notifier_->Release();
    }
    WasapiWatch(const WasapiWatch&) = delete;
    WasapiWatch& operator=(const WasapiWatch&) = delete;

private:
    ComPtr<IMMDeviceEnumerator> enumerator_;
    DeviceNotifier* notifier_;
};

class WasapiOutput final : public OutputSystem {
public:
    HRESULT defaultDevice(std::wstring& id) override {
        ComPtr<IMMDeviceEnumerator> enumerator;
        ComPtr<IMMDevice> device;
        CoTaskMem<WCHAR> text;
        HRESULT hr = createDeviceEnumerator(enumerator);
        if (SUCCEEDED(hr))
            hr = enumerator->GetDefaultAudioEndpoint(eRender, eConsole, device.put());
        if (SUCCEEDED(hr))
            hr = device->GetId(text.put());
        if (SUCCEEDED(hr) && !text.get())
            hr = E_POINTER;
        if (SUCCEEDED(hr))
            id = text.get();
        return hr;
    }
    HRESULT activate(const std::wstring& id, std::unique_ptr<RenderClient>& out) override {
        ComPtr<IMMDeviceEnumerator> enumerator;
        ComPtr<IMMDevice> device;
        ComPtr<IAudioClient> client;
        HRESULT hr = createDeviceEnumerator(enumerator);
        if (SUCCEEDED(hr))
            hr = enumerator->GetDevice(id.c_str(), device.put());
        if (SUCCEEDED(hr))
            hr = device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, client.putVoid());
        if (FAILED(hr))
            return hr;
        try {
            out = std::make_unique<WasapiClient>(std::move(client));
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }
    std::unique_ptr<Watch> watch(HANDLE event) override {
        ComPtr<IMMDeviceEnumerator> enumerator;
        if (FAILED(createDeviceEnumerator(enumerator)))
            return nullptr;
        auto* notifier = new (std::nothrow) DeviceNotifier(event);
        if (!notifier)
            return nullptr;
        if (FAILED(enumerator->RegisterEndpointNotificationCallback(notifier))) {
            notifier->Release();
            return nullptr;
        }
        return std::make_unique<WasapiWatch>(std::move(enumerator), notifier);
    }
};

std::atomic<OutputSystem*> testSystem{nullptr};

} // namespace

OutputSystem& wasapiOutput() {
    static WasapiOutput system;
    return system;
}

void useOutputSystem(OutputSystem* system) {
    testSystem.store(system);
}

HRESULT OutputStream::open(RenderProc proc, void* user, Wake wake) {
    close();
    if (!proc)
        return E_INVALIDARG;
    auto state = std::make_shared<OutputState>();
    if (!state->stopEvent || !state->readyEvent || !state->doneEvent || !state->wakeEvent ||
        !state->watchEvent || !state->watchDoneEvent)
        return HRESULT_FROM_WIN32(GetLastError());
    OutputSystem* system = testSystem.load();
    state->system = system ? system : &wasapiOutput();
    state->proc = proc;
    state->user = user;
    state->wake = chooseWake(wake);
    std::thread thread;
    std::thread watch;
    try {
        thread = std::thread(renderThread, state);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    const DWORD w = WaitForSingleObject(state->readyEvent.get(), openTimeoutMs);
    HRESULT hr = w == WAIT_OBJECT_0 ? state->initResult : HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    if (SUCCEEDED(hr)) {
        try {
            watch = std::thread(watchThread, state);
        } catch (...) {
            hr = E_OUTOFMEMORY;
        }
    }
    if (FAILED(hr)) {
        finish(*state, thread, watch);
        return hr;
    }
    state_ = std::move(state);
    thread_ = std::move(thread);
    watchThread_ = std::move(watch);
    return S_OK;
}

void OutputStream::close() {
    if (!state_)
        return;
    finish(*state_, thread_, watchThread_);
    state_.reset();
}

void OutputStream::setActive(bool active) {
    if (!state_ || state_->active.exchange(active) == active)
        return;
    if (active)
        SetEvent(state_->wakeEvent.get());
}

uint32_t OutputStream::rate() const {
    return state_ ? state_->rate.load() : 0;
}

uint32_t OutputStream::latencyFrames() const {
    return state_ ? state_->queued.load(std::memory_order_relaxed) : 0;
}

bool OutputStream::hasDevice() const {
    return state_ && state_->hasDevice.load();
}

void setRenderThreadObserver(void (*observer)()) {
    renderThreadObserver.store(observer);
}

} // namespace qvdevice

#include "qvdevice/output.h"

#include <windows.h>
#include <audioclient.h>
#include <avrt.h>
#include <mmdeviceapi.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "qvdevice/com.h"
#include "qvdevice/format.h"
#include "qvwin32/handle.h"

namespace qvdevice {

namespace {

constexpr REFERENCE_TIME bufferDuration = 400000; // 40 ms in 100 ns units
constexpr DWORD openTimeoutMs = 5000;
constexpr DWORD closeTimeoutMs = 2000;
constexpr DWORD pollMs = 200; // wake up even if the device stops signalling

using qvwin32::Handle;
using qvwin32::makeEvent;

} // namespace

struct OutputState {
    RenderProc proc = nullptr;
    void* user = nullptr;
    Wake wake = Wake::Event;
    // Held by the render thread around each call of proc; close() clears procEnabled under it.
    std::mutex procLock;
    bool procEnabled = true;

    Handle stopEvent = makeEvent(true);
    Handle readyEvent = makeEvent(true);
    Handle doneEvent = makeEvent(true);
    Handle wakeEvent = makeEvent(false);
    // stopEvent as a flag, for the timer-driven loop, which never waits on the event.
    std::atomic<bool> stopping{false};
    // Something is to be heard; while it is not, the device may be stopped.
    std::atomic<bool> active{true};

    // Written by the render thread before readyEvent, read after it.
    HRESULT initResult = E_FAIL;
    uint32_t rate = 0;
    std::wstring deviceId;

    std::atomic<bool> lost{false};
    std::atomic<bool> defaultChanged{false};
    std::atomic<uint32_t> queued{0};
};

namespace {

// Tells the stream when the default output moves elsewhere or its own device goes.
class DeviceWatcher final : public IMMNotificationClient {
public:
    DeviceWatcher(std::shared_ptr<OutputState> state, std::wstring id)
        : state_(std::move(state)), id_(std::move(id)) {}

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
            state_->defaultChanged = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR id, DWORD newState) override {
        if (id && id_ == id && newState != DEVICE_STATE_ACTIVE)
            state_->lost = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR id) override {
        if (id && id_ == id)
            state_->lost = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override {
        return S_OK;
    }

private:
    ~DeviceWatcher() = default;
    LONG refs_ = 1;
    std::shared_ptr<OutputState> state_;
    std::wstring id_;
};

// Everything the render thread holds for one opened endpoint.
class RenderSession {
public:
    explicit RenderSession(std::shared_ptr<OutputState> state) : state_(std::move(state)) {}
    ~RenderSession() {
        if (watcher_) {
            enumerator_->UnregisterEndpointNotificationCallback(watcher_);
            watcher_->Release();
        }
    }
    RenderSession(const RenderSession&) = delete;
    RenderSession& operator=(const RenderSession&) = delete;

    HRESULT open();
    void run();

private:
    HRESULT activate();
    void deactivate();
    HRESULT start(bool withSound);
    bool sleep();
    void render(BYTE* data, UINT32 frames);

    std::shared_ptr<OutputState> state_;
    ComPtr<IMMDeviceEnumerator> enumerator_;
    ComPtr<IMMDevice> device_;
    ComPtr<IAudioClient> client_;
    ComPtr<IAudioRenderClient> renderClient_;
    DeviceWatcher* watcher_ = nullptr;
    Handle audioEvent_ = makeEvent(false);
    DeviceFormat format_;
    UINT32 bufferFrames_ = 0;
    DWORD timerMs_ = 10; // between fills when timer-driven
    std::vector<float> scratch_;
};

HRESULT RenderSession::open() {
    HRESULT hr = createDeviceEnumerator(enumerator_);
    if (FAILED(hr))
        return hr;
    hr = enumerator_->GetDefaultAudioEndpoint(eRender, eConsole, device_.put());
    if (FAILED(hr))
        return hr;
    if (!audioEvent_)
        return E_OUTOFMEMORY;
    hr = activate();
    if (FAILED(hr))
        return hr;
    // Room for a buffer somewhat larger than this one, should a later activation get one.
    scratch_.assign(static_cast<size_t>(bufferFrames_) * 4, 0.0f);

    CoTaskMem<WCHAR> id;
    if (SUCCEEDED(device_->GetId(id.put())) && id.get()) {
        state_->deviceId = id.get();
        watcher_ = new DeviceWatcher(state_, id.get());
        if (FAILED(enumerator_->RegisterEndpointNotificationCallback(watcher_))) {
            watcher_->Release();
            watcher_ = nullptr;
        }
    }
    state_->rate = format_.rate;
    return S_OK;
}

// A stream on the device in its mix format. After the first time the format must stay what it
// was: the mixer renders at that rate.
HRESULT RenderSession::activate() {
    HRESULT hr = device_->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, client_.putVoid());
    if (FAILED(hr))
        return hr;
    CoTaskMem<WAVEFORMATEX> mix;
    hr = client_->GetMixFormat(mix.put());
    if (FAILED(hr))
        return hr;
    DeviceFormat format;
    if (!describeFormat(mix.get(), format))
        return AUDCLNT_E_UNSUPPORTED_FORMAT;
    if (format_.rate && (format.rate != format_.rate || format.kind != format_.kind ||
                         format.channels != format_.channels))
        return AUDCLNT_E_UNSUPPORTED_FORMAT;
    format_ = format;
    const bool evented = state_->wake == Wake::Event;
    hr = client_->Initialize(AUDCLNT_SHAREMODE_SHARED,
                             (evented ? AUDCLNT_STREAMFLAGS_EVENTCALLBACK : 0) |
                                 AUDCLNT_STREAMFLAGS_NOPERSIST,
                             bufferDuration, 0, mix.get(), nullptr);
    if (FAILED(hr))
        return hr;
    if (evented) {
        hr = client_->SetEventHandle(audioEvent_.get());
        if (FAILED(hr))
            return hr;
    }
    hr = client_->GetBufferSize(&bufferFrames_);
    if (FAILED(hr))
        return hr;
    // One device period, but never so long that less than two thirds of the buffer is left.
    REFERENCE_TIME period = 0;
    if (FAILED(client_->GetDevicePeriod(&period, nullptr)) || period <= 0)
        period = 100000;
    const DWORD thirdMs = static_cast<DWORD>(1000ull * bufferFrames_ / format_.rate / 3);
    timerMs_ =
        std::clamp<DWORD>(static_cast<DWORD>(period / 10000), 1, std::max<DWORD>(thirdMs, 1));
    if (!scratch_.empty() && 2 * static_cast<size_t>(bufferFrames_) > scratch_.size())
        return AUDCLNT_E_BUFFER_SIZE_ERROR;
    return client_->GetService(__uuidof(IAudioRenderClient), renderClient_.putVoid());
}

void RenderSession::deactivate() {
    if (client_)
        client_->Stop();
    renderClient_.reset();
    client_.reset();
}

void RenderSession::render(BYTE* data, UINT32 frames) {
    bool filled = false;
    {
        std::lock_guard<std::mutex> lock(state_->procLock);
        if (state_->procEnabled) {
            state_->proc(state_->user, scratch_.data(), frames);
            filled = true;
        }
    }
    if (!filled)
        std::fill(scratch_.begin(), scratch_.begin() + 2 * frames, 0.0f);
    stereoToDevice(scratch_.data(), frames, format_, data);
}

HRESULT RenderSession::start(bool withSound) {
    // Start from a full buffer, so the first period does not underrun.
    BYTE* data = nullptr;
    UINT32 padding = 0;
    HRESULT hr = client_->GetCurrentPadding(&padding);
    if (FAILED(hr))
        return hr;
    if (padding > bufferFrames_)
        return AUDCLNT_E_BUFFER_SIZE_ERROR;
    const UINT32 space = bufferFrames_ - padding;
    if (space > 0) {
        hr = renderClient_->GetBuffer(space, &data);
        if (FAILED(hr))
            return hr;
        if (withSound)
            render(data, space);
        hr = renderClient_->ReleaseBuffer(space, withSound ? 0 : AUDCLNT_BUFFERFLAGS_SILENT);
        if (FAILED(hr))
            return hr;
    }
    return client_->Start();
}

// Waits, with the device stopped, until something is to be heard again (true) or the stream
// is closed (false).
bool RenderSession::sleep() {
    HANDLE waits[2] = {state_->stopEvent.get(), state_->wakeEvent.get()};
    for (;;) {
        DWORD w = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (w != WAIT_OBJECT_0 + 1)
            return false;
        if (state_->active.load())
            return true;
    }
}

void RenderSession::run() {
    DWORD taskIndex = 0;
    HANDLE mmcss = AvSetMmThreadCharacteristicsW(L"Pro Audio", &taskIndex);
    bool running = SUCCEEDED(start(false));
    if (!running)
        state_->lost = true;
    // After a while with nothing to be heard the stream is closed: under Wine a stream costs a
    // few per cent of a core even when it is stopped. It reopens on the same device. A pause or
    // the step to the next track keeps it open, as reopening may take a moment to be heard.
    const UINT32 idleTail = format_.rate * 5;
    UINT32 idleFrames = 0;

    HANDLE waits[2] = {state_->stopEvent.get(), audioEvent_.get()};
    const bool evented = state_->wake == Wake::Event;
    while (!state_->lost.load()) {
        if (!running) {
            state_->queued.store(0, std::memory_order_relaxed);
            deactivate();
            if (!sleep())
                break;
            if (FAILED(activate()) || FAILED(start(true))) {
                state_->lost = true;
                break;
            }
            running = true;
            idleFrames = 0;
        }
        if (evented) {
            DWORD w = WaitForMultipleObjects(2, waits, FALSE, pollMs);
            if (w == WAIT_OBJECT_0)
                break;
            if (w == WAIT_FAILED) {
                state_->lost = true;
                break;
            }
        } else {
            Sleep(timerMs_);
            if (state_->stopping.load())
                break;
        }
        UINT32 padding = 0;
        if (FAILED(client_->GetCurrentPadding(&padding))) {
            state_->lost = true;
            break;
        }
        UINT32 space = padding < bufferFrames_ ? bufferFrames_ - padding : 0;
        state_->queued.store(padding, std::memory_order_relaxed);
        if (space == 0)
            continue;
        BYTE* data = nullptr;
        if (FAILED(renderClient_->GetBuffer(space, &data))) {
            state_->lost = true;
            break;
        }
        render(data, space);
        if (FAILED(renderClient_->ReleaseBuffer(space, 0))) {
            state_->lost = true;
            break;
        }
        if (state_->active.load()) {
            idleFrames = 0;
        } else if ((idleFrames += space) >= idleTail) {
            running = false;
        }
    }
    deactivate();
    if (mmcss)
        AvRevertMmThreadCharacteristics(mmcss);
}

std::atomic<void (*)()> renderThreadObserver{nullptr};

void renderThread(std::shared_ptr<OutputState> state) {
    if (auto observe = renderThreadObserver.load())
        observe();
    {
        ThreadCom com;
        RenderSession session(state);
        HRESULT hr = session.open();
        state->initResult = hr;
        SetEvent(state->readyEvent.get());
        if (SUCCEEDED(hr))
            session.run();
    }
    SetEvent(state->doneEvent.get());
}

// Ends the render thread: joined when it finishes in time, otherwise left to finish alone
// (it owns its state, and proc is already disabled).
void finish(OutputState& state, std::thread& thread) {
    {
        std::lock_guard<std::mutex> lock(state.procLock);
        state.procEnabled = false;
    }
    state.stopping = true;
    SetEvent(state.stopEvent.get());
    if (WaitForSingleObject(state.doneEvent.get(), closeTimeoutMs) == WAIT_OBJECT_0)
        thread.join();
    else
        thread.detach();
}

bool underWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

} // namespace

HRESULT OutputStream::open(RenderProc proc, void* user, Wake wake) {
    close();
    if (!proc)
        return E_INVALIDARG;
    auto state = std::make_shared<OutputState>();
    if (!state->stopEvent || !state->readyEvent || !state->doneEvent || !state->wakeEvent)
        return HRESULT_FROM_WIN32(GetLastError());
    state->proc = proc;
    state->user = user;
    state->wake = wake != Wake::Automatic ? wake : underWine() ? Wake::Timer : Wake::Event;
    std::thread thread;
    try {
        thread = std::thread(renderThread, state);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    DWORD w = WaitForSingleObject(state->readyEvent.get(), openTimeoutMs);
    HRESULT hr = w == WAIT_OBJECT_0 ? state->initResult : HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    if (FAILED(hr)) {
        finish(*state, thread);
        return hr;
    }
    state_ = std::move(state);
    thread_ = std::move(thread);
    return S_OK;
}

void OutputStream::close() {
    if (!state_)
        return;
    finish(*state_, thread_);
    state_.reset();
}

bool OutputStream::needsReopen() const {
    if (!state_)
        return false;
    if (state_->lost.load() || state_->defaultChanged.load())
        return true;
    // Not every system tells: ask which endpoint is the default now.
    ComPtr<IMMDeviceEnumerator> enumerator;
    ComPtr<IMMDevice> device;
    CoTaskMem<WCHAR> id;
    if (FAILED(createDeviceEnumerator(enumerator)))
        return false; // cannot ask from this thread
    if (FAILED(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, device.put())) ||
        FAILED(device->GetId(id.put())) || !id.get())
        return true; // no default output any more: opening again will tell
    return state_->deviceId != id.get();
}

void OutputStream::setActive(bool active) {
    if (!state_ || state_->active.exchange(active) == active)
        return;
    if (active)
        SetEvent(state_->wakeEvent.get());
}

uint32_t OutputStream::rate() const {
    return state_ ? state_->rate : 0;
}

uint32_t OutputStream::latencyFrames() const {
    return state_ ? state_->queued.load(std::memory_order_relaxed) : 0;
}

void setRenderThreadObserver(void (*observer)()) {
    renderThreadObserver.store(observer);
}

} // namespace qvdevice

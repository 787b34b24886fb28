#include "qvdevice/capture.h"

#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>
#include <propidl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstring>
#include <set>
#include <mutex>

#include "qvdevice/output.h"

namespace qvdevice {

namespace {

// Our own copies of the two property keys, so that no GUID library is needed.
const PROPERTYKEY keyFriendlyName = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};
const PROPERTYKEY keyFormFactor = {
    {0x1da5d803, 0xd492, 0x4edd, {0x8c, 0x23, 0xe0, 0xc0, 0xff, 0xee, 0x7f, 0x0e}}, 0};
constexpr UINT formFactorLineLevel = 2;

constexpr REFERENCE_TIME captureBuffer = 2000000; // 200 ms: room for a slow reader

std::string toAnsi(const wchar_t* text) {
    if (!text || !*text)
        return {};
    int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1)
        return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

ComPtr<IMMDeviceEnumerator> makeEnumerator() {
    ComPtr<IMMDeviceEnumerator> e;
    createDeviceEnumerator(e);
    return e;
}

std::string friendlyName(IMMDevice* device) {
    ComPtr<IPropertyStore> props;
    if (FAILED(device->OpenPropertyStore(STGM_READ, props.put())))
        return {};
    PROPVARIANT v;
    PropVariantInit(&v);
    std::string name;
    if (SUCCEEDED(props->GetValue(keyFriendlyName, &v)) && v.vt == VT_LPWSTR)
        name = toAnsi(v.pwszVal);
    PropVariantClear(&v);
    return name;
}

bool isLineLevel(IMMDevice* device) {
    ComPtr<IPropertyStore> props;
    if (FAILED(device->OpenPropertyStore(STGM_READ, props.put())))
        return false;
    PROPVARIANT v;
    PropVariantInit(&v);
    bool line = false;
    if (SUCCEEDED(props->GetValue(keyFormFactor, &v)) && v.vt == VT_UI4)
        line = v.ulVal == formFactorLineLevel;
    PropVariantClear(&v);
    return line;
}

std::wstring deviceId(IMMDevice* device) {
    CoTaskMem<WCHAR> id;
    if (FAILED(device->GetId(id.put())) || !id.get())
        return {};
    return id.get();
}

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A faint tone, far below hearing at any sane volume, that the loopback probe looks for.
constexpr float probeAmplitude = 3e-4f;
constexpr float probeThreshold = 1e-4f;

void renderProbeTone(void* user, float* stereo, uint32_t frames) {
    auto* phase = static_cast<uint32_t*>(user);
    for (uint32_t i = 0; i < frames; ++i, ++*phase) {
        // About 1 kHz at any device rate: a square-ish wave of period 48 frames.
        float v = (*phase / 24) % 2 ? probeAmplitude : -probeAmplitude;
        stereo[2 * i] = v;
        stereo[2 * i + 1] = v;
    }
}

std::mutex probeLock;
std::set<std::wstring> probeWorks; // devices whose loopback was heard

bool runProbe() {
    uint32_t phase = 0;
    OutputStream tone;
    if (FAILED(tone.open(renderProbeTone, &phase)))
        return false;
    CaptureStream loopback;
    CaptureSource source;
    source.kind = SourceKind::Loopback;
    constexpr size_t chunk = 4800;
    std::vector<float> buffer(2 * chunk);
    bool heard = false;
    if (SUCCEEDED(loopback.open(source, chunk))) {
        for (int i = 0; i < 40 && !heard && !loopback.lost(); ++i) {
            Sleep(10);
            size_t n;
            while (!heard && (n = loopback.read(buffer.data(), chunk)) > 0) {
                heard = std::any_of(buffer.begin(), buffer.begin() + 2 * n,
                                    [](float v) { return std::fabs(v) > probeThreshold; });
            }
        }
    }
    loopback.close();
    tone.close();
    return heard;
}

// True for names that say the endpoint carries what the card plays.
bool isWaveName(const std::string& name) {
    static const char* const marks[] = {"stereo mix", "what u hear", "wave out mix", "loopback",
                                        "monitor of"};
    const std::string n = lower(name);
    return std::any_of(std::begin(marks), std::end(marks),
                       [&](const char* m) { return n.find(m) != std::string::npos; });
}

} // namespace

bool rememberedProbe(const std::wstring& device, bool (*probe)()) {
    std::lock_guard<std::mutex> lock(probeLock);
    if (probeWorks.count(device))
        return true;
    const bool works = probe();
    if (works)
        probeWorks.insert(device);
    return works;
}

namespace {

// True when the loopback of the default output delivers what plays: it renders a faint tone for
// a moment and looks for it. A device that works is remembered; one that failed is tried again
// at the next call (it may only have been busy).
bool probeLoopback() {
    auto enumerator = makeEnumerator();
    ComPtr<IMMDevice> output;
    if (!enumerator || FAILED(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, output.put())))
        return false;
    return rememberedProbe(deviceId(output.get()), runProbe);
}

// Loopback of the default output first (when probeLoopback says it works), then every active
// capture endpoint in the system's order. Call on a thread with COM.
std::vector<CaptureSource> listCaptureSources(bool withLoopback) {
    std::vector<CaptureSource> sources;
    auto enumerator = makeEnumerator();
    if (!enumerator)
        return sources;
    if (withLoopback && probeLoopback()) {
        ComPtr<IMMDevice> output;
        if (SUCCEEDED(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, output.put()))) {
            CaptureSource s;
            s.kind = SourceKind::Loopback;
            s.name = "Loopback: " + friendlyName(output.get());
            sources.push_back(std::move(s));
        }
    }
    ComPtr<IMMDeviceCollection> all;
    UINT count = 0;
    if (FAILED(enumerator->EnumAudioEndpoints(eCapture, DEVICE_STATE_ACTIVE, all.put())) ||
        FAILED(all->GetCount(&count)))
        return sources;
    for (UINT i = 0; i < count; ++i) {
        ComPtr<IMMDevice> device;
        if (FAILED(all->Item(i, device.put())))
            continue;
        CaptureSource s;
        s.id = deviceId(device.get());
        if (s.id.empty())
            continue;
        s.name = friendlyName(device.get());
        if (isWaveName(s.name))
            s.kind = SourceKind::Wave;
        else if (isLineLevel(device.get()) || lower(s.name).find("line") != std::string::npos)
            s.kind = SourceKind::Line;
        else
            s.kind = SourceKind::Microphone;
        sources.push_back(std::move(s));
    }
    return sources;
}

} // namespace

// Tells a loopback that the default output changed: what plays goes elsewhere from then on.
struct CaptureStream::Watch : IMMNotificationClient {
    ComPtr<IMMDeviceEnumerator> enumerator;
    std::wstring device; // the output the loopback hears
    std::atomic<bool> changed{false};

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IMMNotificationClient)) {
            *out = static_cast<IMMNotificationClient*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // Owned by its stream, which unregisters it before it goes.
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role,
                                                     LPCWSTR id) override {
        if (flow == eRender && role == eConsole && (!id || device != id))
            changed = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override {
        return S_OK;
    }
};

CaptureStream::CaptureStream() = default;
CaptureStream::~CaptureStream() {
    close();
}

HRESULT CaptureStream::open(const CaptureSource& source, size_t maxFrames) {
    close();
    ComPtr<IMMDeviceEnumerator> enumerator;
    HRESULT hr = createDeviceEnumerator(enumerator);
    if (FAILED(hr))
        return hr;
    ComPtr<IMMDevice> device;
    const bool loopback = source.kind == SourceKind::Loopback;
    hr = loopback ? enumerator->GetDefaultAudioEndpoint(eRender, eConsole, device.put())
                  : enumerator->GetDevice(source.id.c_str(), device.put());
    if (FAILED(hr))
        return hr;
    hr = device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, client_.putVoid());
    if (FAILED(hr))
        return hr;
    CoTaskMem<WAVEFORMATEX> mix;
    hr = client_->GetMixFormat(mix.put());
    if (SUCCEEDED(hr) && !describeFormat(mix.get(), format_))
        hr = AUDCLNT_E_UNSUPPORTED_FORMAT;
    DWORD flags = AUDCLNT_STREAMFLAGS_NOPERSIST | (loopback ? AUDCLNT_STREAMFLAGS_LOOPBACK : 0);
    UINT32 bufferFrames = 0;
    if (SUCCEEDED(hr))
        hr = client_->Initialize(AUDCLNT_SHAREMODE_SHARED, flags, captureBuffer, 0, mix.get(),
                                 nullptr);
    if (SUCCEEDED(hr))
        hr = client_->GetBufferSize(&bufferFrames);
    if (SUCCEEDED(hr))
        hr = client_->GetService(__uuidof(IAudioCaptureClient), capture_.putVoid());
    if (SUCCEEDED(hr))
        hr = client_->Start();
    if (FAILED(hr)) {
        close();
        return hr;
    }
    // One packet never exceeds the endpoint's buffer.
    pending_.assign(2 * std::max<size_t>(bufferFrames, maxFrames), 0.0f);
    pendingFrames_ = 0;
    lost_ = false;
    if (loopback) {
        auto watch = std::make_unique<Watch>();
        watch->device = deviceId(device.get());
        watch->enumerator = std::move(enumerator);
        if (SUCCEEDED(watch->enumerator->RegisterEndpointNotificationCallback(watch.get())))
            watch_ = std::move(watch);
    }
    return S_OK;
}

void CaptureStream::close() {
    if (watch_) {
        watch_->enumerator->UnregisterEndpointNotificationCallback(watch_.get());
        watch_.reset();
    }
    if (client_)
        client_->Stop();
    capture_.reset();
    client_.reset();
    pendingFrames_ = 0;
}

bool CaptureStream::moved() const {
    return watch_ && watch_->changed;
}

size_t CaptureStream::read(float* stereo, size_t capacity, PacketInfo& info) {
    if (!capture_ || lost_ || capacity == 0)
        return 0;
    if (pendingFrames_ == 0) {
        UINT32 packet = 0;
        if (FAILED(capture_->GetNextPacketSize(&packet))) {
            lost_ = true;
            return 0;
        }
        if (packet == 0)
            return 0;
        BYTE* data = nullptr;
        UINT32 frames = 0;
        DWORD flags = 0;
        UINT64 position = 0, qpc = 0;
        HRESULT hr = capture_->GetBuffer(&data, &frames, &flags, &position, &qpc);
        if (hr == AUDCLNT_S_BUFFER_EMPTY)
            return 0;
        if (FAILED(hr)) {
            lost_ = true;
            return 0;
        }
        const size_t take = std::min<size_t>(frames, pending_.size() / 2);
        if (flags & AUDCLNT_BUFFERFLAGS_SILENT)
            std::fill(pending_.begin(), pending_.begin() + 2 * take, 0.0f);
        else
            deviceToStereo(data, static_cast<uint32_t>(take), format_, pending_.data());
        if (FAILED(capture_->ReleaseBuffer(frames))) {
            lost_ = true;
            return 0;
        }
        pendingFrames_ = take;
        pendingOffset_ = 0;
        pendingInfo_.position = position;
        // 100-ns units of the performance counter; 0 when the device does not say.
        pendingInfo_.time = (flags & AUDCLNT_BUFFERFLAGS_TIMESTAMP_ERROR) || qpc == 0
                                ? -1.0
                                : static_cast<double>(qpc) * 1e-7;
        pendingInfo_.discontinuity = (flags & AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY) != 0;
    }
    const size_t n = std::min(pendingFrames_, capacity);
    std::memcpy(stereo, pending_.data() + 2 * pendingOffset_, sizeof(float) * 2 * n);
    info = pendingInfo_;
    pendingOffset_ += n;
    pendingFrames_ -= n;
    // What is left of the packet follows on from here.
    pendingInfo_.position += n;
    if (pendingInfo_.time >= 0)
        pendingInfo_.time += static_cast<double>(n) / format_.rate;
    pendingInfo_.discontinuity = false;
    return n;
}

namespace {

class WasapiCapture : public CaptureSystem {
public:
    std::vector<CaptureSource> sources(bool withLoopback) override {
        return listCaptureSources(withLoopback);
    }
    std::unique_ptr<CaptureReader> open(const CaptureSource& source) override {
        auto stream = std::make_unique<CaptureStream>();
        if (FAILED(stream->open(source, 0)))
            return nullptr;
        return stream;
    }
    double now() override {
        static const double perSecond = [] {
            LARGE_INTEGER f;
            QueryPerformanceFrequency(&f);
            return static_cast<double>(f.QuadPart);
        }();
        LARGE_INTEGER t;
        QueryPerformanceCounter(&t);
        return static_cast<double>(t.QuadPart) / perSecond;
    }
    bool wait(void* event, unsigned ms) override {
        return WaitForSingleObject(static_cast<HANDLE>(event), ms) == WAIT_OBJECT_0;
    }
};

} // namespace

CaptureSystem& wasapiCapture() {
    static WasapiCapture system;
    return system;
}

} // namespace qvdevice

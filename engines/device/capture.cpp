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
#include <map>
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
    CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                     __uuidof(IMMDeviceEnumerator), e.putVoid());
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
std::map<std::wstring, bool> probeAnswers;

bool runProbe() {
    uint32_t phase = 0;
    OutputStream tone;
    if (!tone.open(renderProbeTone, &phase))
        return false;
    CaptureStream loopback;
    CaptureSource source;
    source.kind = SourceKind::Loopback;
    constexpr size_t chunk = 4800;
    std::vector<float> buffer(2 * chunk);
    bool heard = false;
    if (loopback.open(source, chunk)) {
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

} // namespace

bool isWaveName(const std::string& name) {
    static const char* const marks[] = {"stereo mix", "what u hear", "wave out mix", "loopback",
                                        "monitor of"};
    const std::string n = lower(name);
    return std::any_of(std::begin(marks), std::end(marks),
                       [&](const char* m) { return n.find(m) != std::string::npos; });
}

bool probeLoopback() {
    auto enumerator = makeEnumerator();
    ComPtr<IMMDevice> output;
    if (!enumerator || FAILED(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, output.put())))
        return false;
    const std::wstring id = deviceId(output.get());
    std::lock_guard<std::mutex> lock(probeLock);
    auto it = probeAnswers.find(id);
    if (it != probeAnswers.end())
        return it->second;
    bool works = runProbe();
    probeAnswers[id] = works;
    return works;
}

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

CaptureStream::CaptureStream() = default;
CaptureStream::~CaptureStream() {
    close();
}

bool CaptureStream::open(const CaptureSource& source, size_t maxFrames) {
    close();
    auto enumerator = makeEnumerator();
    if (!enumerator)
        return false;
    ComPtr<IMMDevice> device;
    const bool loopback = source.kind == SourceKind::Loopback;
    HRESULT hr = loopback ? enumerator->GetDefaultAudioEndpoint(eRender, eConsole, device.put())
                          : enumerator->GetDevice(source.id.c_str(), device.put());
    if (FAILED(hr))
        return false;
    if (FAILED(device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, client_.putVoid())))
        return false;
    CoTaskMem<WAVEFORMATEX> mix;
    if (FAILED(client_->GetMixFormat(mix.put())) || !describeFormat(mix.get(), format_)) {
        close();
        return false;
    }
    DWORD flags = AUDCLNT_STREAMFLAGS_NOPERSIST | (loopback ? AUDCLNT_STREAMFLAGS_LOOPBACK : 0);
    UINT32 bufferFrames = 0;
    if (FAILED(client_->Initialize(AUDCLNT_SHAREMODE_SHARED, flags, captureBuffer, 0, mix.get(),
                                   nullptr)) ||
        FAILED(client_->GetBufferSize(&bufferFrames)) ||
        FAILED(client_->GetService(__uuidof(IAudioCaptureClient), capture_.putVoid())) ||
        FAILED(client_->Start())) {
        close();
        return false;
    }
    // One packet never exceeds the endpoint's buffer.
    pending_.assign(2 * std::max<size_t>(bufferFrames, maxFrames), 0.0f);
    pendingFrames_ = 0;
    lost_ = false;
    return true;
}

void CaptureStream::close() {
    if (client_)
        client_->Stop();
    capture_.reset();
    client_.reset();
    pendingFrames_ = 0;
}

size_t CaptureStream::read(float* stereo, size_t capacity) {
    if (!capture_ || lost_)
        return 0;
    size_t done = 0;
    if (pendingFrames_) {
        size_t n = std::min(pendingFrames_, capacity);
        std::memcpy(stereo, pending_.data(), sizeof(float) * 2 * n);
        std::memmove(pending_.data(), pending_.data() + 2 * n,
                     sizeof(float) * 2 * (pendingFrames_ - n));
        pendingFrames_ -= n;
        done = n;
    }
    while (done < capacity && pendingFrames_ == 0) {
        UINT32 packet = 0;
        if (FAILED(capture_->GetNextPacketSize(&packet))) {
            lost_ = true;
            break;
        }
        if (packet == 0)
            break;
        BYTE* data = nullptr;
        UINT32 frames = 0;
        DWORD flags = 0;
        HRESULT hr = capture_->GetBuffer(&data, &frames, &flags, nullptr, nullptr);
        if (hr == AUDCLNT_S_BUFFER_EMPTY)
            break;
        if (FAILED(hr)) {
            lost_ = true;
            break;
        }
        // Convert straight into the caller's buffer when the packet fits, else keep it.
        const bool fits = frames <= capacity - done;
        const size_t take = fits ? frames : std::min<size_t>(frames, pending_.size() / 2);
        float* to = fits ? stereo + 2 * done : pending_.data();
        if (flags & AUDCLNT_BUFFERFLAGS_SILENT)
            std::fill(to, to + 2 * take, 0.0f);
        else
            deviceToStereo(data, static_cast<uint32_t>(take), format_, to);
        if (FAILED(capture_->ReleaseBuffer(frames))) {
            lost_ = true;
            break;
        }
        if (fits) {
            done += take;
        } else {
            pendingFrames_ = take;
            size_t n = std::min(pendingFrames_, capacity - done);
            std::memcpy(stereo + 2 * done, pending_.data(), sizeof(float) * 2 * n);
            std::memmove(pending_.data(), pending_.data() + 2 * n,
                         sizeof(float) * 2 * (pendingFrames_ - n));
            pendingFrames_ -= n;
            done += n;
        }
    }
    return done;
}

} // namespace qvdevice

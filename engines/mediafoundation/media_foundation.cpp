#include "qvmf/media_foundation.h"

#include <mfapi.h>
#include <mfidl.h>
#include <propsys.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "qvcore/convert.h"
#include "qvcore/downmix.h"
#include "qvcore/read_ahead.h"
#include "qvwin32/text.h"

namespace qvmf {
namespace {

using qvdevice::ComPtr;

// The few entry points we use, from the system's own DLLs when it has them.
struct Api {
    decltype(&MFStartup) startup = nullptr;
    decltype(&MFShutdown) shutdown = nullptr;
    decltype(&MFCreateMediaType) createMediaType = nullptr;
    HRESULT(WINAPI* createOnStream)(IStream*, IMFByteStream**) = nullptr;
    decltype(&MFCreateSourceReaderFromByteStream) createReader = nullptr;

    bool loaded() const {
        return startup && shutdown && createMediaType && createOnStream && createReader;
    }
};

template <class Function> void bind(HMODULE dll, const char* name, Function& to) {
    to = dll ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(dll, name)))
             : nullptr;
}

// Loaded once and kept for the life of the process.
const Api& api() {
    static const Api loaded = [] {
        Api a;
        HMODULE plat = LoadLibraryExW(L"mfplat.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        HMODULE readwrite =
            LoadLibraryExW(L"mfreadwrite.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        bind(plat, "MFStartup", a.startup);
        bind(plat, "MFShutdown", a.shutdown);
        bind(plat, "MFCreateMediaType", a.createMediaType);
        bind(plat, "MFCreateMFByteStreamOnStream", a.createOnStream);
        bind(readwrite, "MFCreateSourceReaderFromByteStream", a.createReader);
        return a;
    }();
    return loaded;
}

// The file for the system's source, opened by us so that others may rename, delete or rewrite
// it while it plays (the system's own file stream does not share delete). A file that changes
// under us just ends early. Read on the read-ahead thread, never by render.
class FileStream final : public IStream {
public:
    explicit FileStream(HANDLE file) : file_(file) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_IStream) ||
            IsEqualIID(id, IID_ISequentialStream)) {
            *out = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE Read(void* into, ULONG most, ULONG* read) override {
        DWORD n = 0;
        const BOOL ok = ReadFile(file_, into, most, &n, nullptr);
        if (read)
            *read = n;
        if (!ok)
            return STG_E_READFAULT;
        return n == most ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override {
        return STG_E_ACCESSDENIED;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* now) override {
        static_assert(STREAM_SEEK_SET == FILE_BEGIN && STREAM_SEEK_CUR == FILE_CURRENT &&
                      STREAM_SEEK_END == FILE_END);
        if (origin > STREAM_SEEK_END)
            return STG_E_INVALIDFUNCTION;
        LARGE_INTEGER to;
        if (!SetFilePointerEx(file_, move, &to, origin))
            return STG_E_INVALIDFUNCTION;
        if (now)
            now->QuadPart = static_cast<ULONGLONG>(to.QuadPart);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
        if (!stat)
            return STG_E_INVALIDPOINTER;
        LARGE_INTEGER size;
        if (!GetFileSizeEx(file_, &size))
            return STG_E_ACCESSDENIED;
        *stat = STATSTG{};
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = static_cast<ULONGLONG>(size.QuadPart);
        stat->grfMode = STGM_READ;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*,
                                     ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

private:
    ~FileStream() { CloseHandle(file_); }

    std::atomic<ULONG> refs_{1};
    HANDLE file_;
};

// What the source resolver is told the content is: our probe decided, not the file's name.
void describeContent(IMFByteStream* stream, qvcore::SystemFormat format) {
    ComPtr<IMFAttributes> attributes;
    if (FAILED(stream->QueryInterface(IID_IMFAttributes, attributes.putVoid())))
        return;
    const wchar_t* type = L"audio/mp4";
    const wchar_t* name = L"stream.m4a";
    if (format == qvcore::SystemFormat::Adts) {
        type = L"audio/aac";
        name = L"stream.aac";
    } else if (format == qvcore::SystemFormat::Asf) {
        type = L"video/x-ms-asf";
        name = L"stream.wma";
    }
    attributes->SetString(MF_BYTESTREAM_CONTENT_TYPE, type);
    attributes->SetString(MF_BYTESTREAM_ORIGIN_NAME, name);
}

// Asks the reader for float, or else 16-bit PCM, from its first audio stream.
HRESULT chooseOutput(IMFSourceReader* reader) {
    const DWORD audio = static_cast<DWORD>(MF_SOURCE_READER_FIRST_AUDIO_STREAM);
    reader->SetStreamSelection(static_cast<DWORD>(MF_SOURCE_READER_ALL_STREAMS), FALSE);
    HRESULT hr = reader->SetStreamSelection(audio, TRUE);
    if (FAILED(hr))
        return hr;
    for (const GUID* subtype : {&MFAudioFormat_Float, &MFAudioFormat_PCM}) {
        ComPtr<IMFMediaType> type;
        hr = api().createMediaType(type.put());
        if (FAILED(hr))
            return hr;
        type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
        type->SetGUID(MF_MT_SUBTYPE, *subtype);
        if (*subtype == MFAudioFormat_PCM)
            type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, 16);
        hr = reader->SetCurrentMediaType(audio, nullptr, type.get());
        if (SUCCEEDED(hr))
            return hr;
    }
    return hr;
}

struct Format {
    bool isFloat = true;
    UINT32 channels = 0, rate = 0, bits = 0, mask = 0;
    UINT64 duration = 0; // 100 ns units
};

bool readFormat(IMFSourceReader* reader, Format& f) {
    ComPtr<IMFMediaType> type;
    if (FAILED(reader->GetCurrentMediaType(static_cast<DWORD>(MF_SOURCE_READER_FIRST_AUDIO_STREAM),
                                           type.put())))
        return false;
    GUID subtype{};
    type->GetGUID(MF_MT_SUBTYPE, &subtype);
    type->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &f.channels);
    type->GetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, &f.rate);
    type->GetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, &f.bits);
    if (FAILED(type->GetUINT32(MF_MT_AUDIO_CHANNEL_MASK, &f.mask)))
        f.mask = 0;
    f.isFloat = subtype == MFAudioFormat_Float;
    PROPVARIANT duration;
    PropVariantInit(&duration);
    if (SUCCEEDED(reader->GetPresentationAttribute(static_cast<DWORD>(MF_SOURCE_READER_MEDIASOURCE),
                                                   MF_PD_DURATION, &duration)) &&
        duration.vt == VT_UI8)
        f.duration = duration.uhVal.QuadPart;
    PropVariantClear(&duration);
    const bool pcmOk = f.isFloat ? f.bits == 32 : (subtype == MFAudioFormat_PCM && f.bits == 16);
    return pcmOk && f.channels >= 1 && f.channels <= 32 && f.rate >= 1000 && f.rate <= 768000;
}

constexpr std::uint64_t unitsPerSecond = 10'000'000;
// The system's sources open a local file in a tenth of a second. One on a drive that does not
// answer fails rather than hold the caller, and so does a damaged container that Wine's source
// resolver never answers for.
constexpr std::chrono::milliseconds openWait{1500};

// Read-ahead threads that hold Media Foundation objects: a thread left behind by an open or a
// close that took too long may still be inside the system's code, which must not be shut down
// under it.
std::atomic<int> liveThreads{0};

struct LiveThread {
    LiveThread() { ++liveThreads; }
    ~LiveThread() { --liveThreads; }
    LiveThread(const LiveThread&) = delete;
    LiveThread& operator=(const LiveThread&) = delete;
};

// Reads decoded samples into stereo float frames at the rate the stream opened with, on the
// read-ahead thread. A stream may change its format on the way (HE-AAC finds its doubled
// rate or its second channel only after the first samples): the new one is read then, and a
// new rate is resampled to the first.
class Source final : public qvcore::PcmSource {
public:
    Source(std::shared_ptr<LiveThread> live, ComPtr<IMFSourceReader> reader, const Format& format)
        : live_(std::move(live)), reader_(std::move(reader)), rate_(format.rate) {
        setFormat(format);
    }

    std::size_t read(float* out, std::size_t frames) override {
        std::size_t done = 0;
        int empty = 0;
        while (done < frames) {
            const std::size_t have = pending_.size() / 2 - at_;
            if (have) {
                const std::size_t n = std::min(have, frames - done);
                std::memcpy(out + 2 * done, &pending_[2 * at_], n * 2 * sizeof(float));
                at_ += n;
                done += n;
            } else if (ended_ || !nextSample(empty)) {
                break;
            }
        }
        return done;
    }

    bool seek(std::uint64_t frame) override {
        PROPVARIANT at;
        PropVariantInit(&at);
        at.vt = VT_I8;
        at.hVal.QuadPart = static_cast<LONGLONG>(frame * unitsPerSecond / rate_);
        if (FAILED(reader_->SetCurrentPosition(GUID_NULL, at)))
            return false;
        pending_.clear();
        at_ = 0;
        ended_ = false;
        landing_ = true;
        target_ = frame;
        setFormat(format_); // the resampler forgets what it held
        return true;
    }

    // False when the stream has ended (or gave nothing many times in a row).
    bool nextSample(int& empty) {
        DWORD flags = 0;
        LONGLONG time = 0;
        ComPtr<IMFSample> sample;
        const HRESULT hr =
            reader_->ReadSample(static_cast<DWORD>(MF_SOURCE_READER_FIRST_AUDIO_STREAM), 0, nullptr,
                                &flags, &time, sample.put());
        bool broken = false;
        if (SUCCEEDED(hr) && (flags & MF_SOURCE_READERF_CURRENTMEDIATYPECHANGED)) {
            Format now;
            broken = !readFormat(reader_.get(), now);
            if (!broken)
                setFormat(now);
        }
        const bool landing = landing_;
        if (SUCCEEDED(hr) && sample && !broken)
            append(sample.get(), time);
        // Samples that give nothing are passed over, but not forever (those a seek skips whole
        // do not count).
        const bool nothing = at_ == pending_.size() / 2 && !landing;
        if (FAILED(hr) || broken ||
            (flags & (MF_SOURCE_READERF_ENDOFSTREAM | MF_SOURCE_READERF_ERROR)) ||
            (nothing && ++empty > 64)) {
            ended_ = true;
            return at_ < pending_.size() / 2;
        }
        return true;
    }

private:
    void setFormat(const Format& f) {
        format_ = f;
        downmix_ = qvcore::Downmix(f.channels, f.mask);
        resampler_.reset();
        if (f.rate != rate_)
            resampler_ = std::make_unique<qvcore::StreamResampler>(f.rate, rate_, 2);
    }

    void append(IMFSample* sample, LONGLONG time) {
        ComPtr<IMFMediaBuffer> buffer;
        if (FAILED(sample->ConvertToContiguousBuffer(buffer.put())))
            return;
        BYTE* bytes = nullptr;
        DWORD length = 0;
        if (FAILED(buffer->Lock(&bytes, nullptr, &length)))
            return;
        std::size_t frames = length / (format_.channels * format_.bits / 8);
        std::vector<float>& stereo = resampler_ ? decoded_ : pending_;
        stereo.resize(2 * frames);
        if (format_.isFloat)
            downmix_.toStereo(reinterpret_cast<const float*>(bytes), frames, stereo.data(),
                              [](float v) {
                                  v = v == v ? v : 0.0f; // a damaged stream's NaN
                                  return std::clamp(v, -8.0f, 8.0f);
                              });
        else
            downmix_.toStereo(
                reinterpret_cast<const std::int16_t*>(bytes), frames, stereo.data(),
                [](std::int16_t v) { return static_cast<float>(v) * (1.0f / 32768.0f); });
        buffer->Unlock();
        if (resampler_) {
            if (!resampler_->ok()) {
                frames = 0;
            } else {
                pending_.resize(2 * resampler_->maxOutput(frames));
                frames = resampler_->process(decoded_.data(), frames, pending_.data(),
                                             pending_.size() / 2);
            }
            pending_.resize(2 * frames);
        }
        at_ = 0;
        if (landing_) {
            // A seek lands at or before the target: what comes before it is dropped.
            const std::uint64_t first =
                (static_cast<std::uint64_t>(std::max<LONGLONG>(time, 0)) * rate_ +
                 unitsPerSecond / 2) /
                unitsPerSecond;
            const std::uint64_t skip = target_ > first ? target_ - first : 0;
            at_ = static_cast<std::size_t>(std::min<std::uint64_t>(skip, frames));
            landing_ = skip >= frames;
        }
    }

    std::shared_ptr<LiveThread> live_;
    qvdevice::ThreadCom com_; // first in, last out: the reader is released before COM ends
    ComPtr<IMFSourceReader> reader_;
    std::uint32_t rate_; // what the stream opened with, and plays at
    Format format_;
    qvcore::Downmix downmix_;
    std::unique_ptr<qvcore::StreamResampler> resampler_; // while the stream runs at another rate
    std::vector<float> pending_, decoded_;
    std::size_t at_ = 0;
    bool ended_ = false, landing_ = false;
    std::uint64_t target_ = 0;
};

} // namespace

bool startup() {
    return api().loaded() && SUCCEEDED(api().startup(MF_VERSION, MFSTARTUP_LITE));
}

void shutdown() {
    for (int waited = 0; liveThreads.load() > 0 && waited < 5000; waited += 10)
        Sleep(10);
    if (api().loaded() && liveThreads.load() == 0)
        api().shutdown();
}

ComPtr<IMFSourceReader> openReader(const char* path, qvcore::SystemFormat format,
                                   OpenError& error) {
    error = OpenError::Refused;
    ComPtr<IMFSourceReader> reader;
    if (!api().loaded())
        return reader;
    const std::wstring wide = qvwin32::openablePath(path);
    const HANDLE file =
        wide.empty() ? INVALID_HANDLE_VALUE
                     : CreateFileW(wide.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = OpenError::Bad;
        return reader;
    }
    ComPtr<IMFByteStream> stream;
    {
        ComPtr<IStream> bytes;
        *bytes.put() = new FileStream(file);
        if (FAILED(api().createOnStream(bytes.get(), stream.put())))
            return reader;
    }
    describeContent(stream.get(), format);
    HRESULT hr = api().createReader(stream.get(), nullptr, reader.put());
    if (SUCCEEDED(hr))
        hr = chooseOutput(reader.get());
    if (FAILED(hr))
        reader.reset(); // the same failure for a missing source or decoder as for damage
    return reader;
}

std::unique_ptr<qvcore::Decoder> openStream(const char* path, qvcore::SystemFormat format,
                                            OpenError& error) {
    // The opener runs on the read-ahead thread, and may outlive this call when the open takes
    // too long: it owns what it uses, and says how it went through `outcome`.
    auto outcome = std::make_shared<std::atomic<OpenError>>(OpenError::Refused);
    auto decoder = qvcore::openReadAhead(
        [file = std::string(path), format, outcome, live = std::make_shared<LiveThread>()](
            qvcore::PcmSourceInfo& info) -> std::unique_ptr<qvcore::PcmSource> {
            qvdevice::ThreadCom com;
            OpenError error = OpenError::Refused;
            ComPtr<IMFSourceReader> reader = openReader(file.c_str(), format, error);
            outcome->store(error);
            Format f;
            if (!reader)
                return nullptr;
            if (!readFormat(reader.get(), f)) {
                outcome->store(OpenError::Refused);
                return nullptr;
            }
            info.rate = f.rate;
            info.lengthFrames = f.duration * f.rate / unitsPerSecond;
            auto source = std::make_unique<Source>(live, std::move(reader), f);
            // A file that opens but gives no sound at all is damaged.
            int empty = 0;
            if (!source->nextSample(empty)) {
                outcome->store(OpenError::Bad);
                return nullptr;
            }
            outcome->store(OpenError::None);
            return source;
        },
        2.0, openWait);
    error = decoder ? OpenError::None : outcome->load();
    if (!decoder && error == OpenError::None)
        error = OpenError::Bad; // it opened, but too slowly to play
    return decoder;
}

namespace {

// The shell's Title and Music.Artist properties.
const PROPERTYKEY titleKey = {
    {0xF29F85E0, 0x4FF9, 0x1068, {0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9}}, 2};
const PROPERTYKEY artistKey = {
    {0x56A3372E, 0xCE9C, 0x11D2, {0x9F, 0x0E, 0x00, 0x60, 0x97, 0xC6, 0x86, 0xF6}}, 2};

// A string property, or the first of a list of them.
std::string stringProperty(IPropertyStore* store, const PROPERTYKEY& key) {
    PROPVARIANT value;
    PropVariantInit(&value);
    std::string text;
    if (SUCCEEDED(store->GetValue(key, &value))) {
        const wchar_t* wide = nullptr;
        if (value.vt == VT_LPWSTR)
            wide = value.pwszVal;
        else if (value.vt == (VT_VECTOR | VT_LPWSTR) && value.calpwstr.cElems > 0)
            wide = value.calpwstr.pElems[0];
        int n = wide ? WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr) : 0;
        if (n > 1) {
            text.resize(static_cast<std::size_t>(n));
            WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), n, nullptr, nullptr);
            text.resize(static_cast<std::size_t>(n - 1));
        }
    }
    PropVariantClear(&value);
    return text;
}

} // namespace

void readTags(const char* path, qvcore::SystemFormat format, std::string& title,
              std::string& artist) {
    OpenError error;
    ComPtr<IMFSourceReader> reader = openReader(path, format, error);
    ComPtr<IPropertyStore> store;
    if (!reader || FAILED(reader->GetServiceForStream(MF_SOURCE_READER_MEDIASOURCE,
                                                      MF_PROPERTY_HANDLER_SERVICE,
                                                      IID_IPropertyStore, (void**)store.put())))
        return;
    title = stringProperty(store.get(), titleKey);
    artist = stringProperty(store.get(), artistKey);
}

} // namespace qvmf

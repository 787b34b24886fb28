#include "qvmf/media_foundation.h"

#include <mfapi.h>
#include <mfidl.h>

#include <algorithm>
#include <cstring>
#include <vector>

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
    decltype(&MFCreateFile) createFile = nullptr;
    decltype(&MFCreateSourceReaderFromByteStream) createReader = nullptr;

    bool loaded() const {
        return startup && shutdown && createMediaType && createFile && createReader;
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
        bind(plat, "MFCreateFile", a.createFile);
        bind(readwrite, "MFCreateSourceReaderFromByteStream", a.createReader);
        return a;
    }();
    return loaded;
}

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
    UINT32 channels = 0, rate = 0, bits = 0;
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

// Reads decoded samples into stereo float frames, on the read-ahead thread.
class Source final : public qvcore::PcmSource {
public:
    Source(ComPtr<IMFSourceReader> reader, const Format& format)
        : reader_(std::move(reader)), format_(format) {}

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
        at.hVal.QuadPart = static_cast<LONGLONG>(frame * unitsPerSecond / format_.rate);
        if (FAILED(reader_->SetCurrentPosition(GUID_NULL, at)))
            return false;
        pending_.clear();
        at_ = 0;
        ended_ = false;
        landing_ = true;
        target_ = frame;
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
        const bool landing = landing_;
        if (SUCCEEDED(hr) && sample)
            append(sample.get(), time);
        // Samples that give nothing are passed over, but not forever (those a seek skips whole
        // do not count).
        const bool nothing = at_ == pending_.size() / 2 && !landing;
        if (FAILED(hr) || (flags & (MF_SOURCE_READERF_ENDOFSTREAM | MF_SOURCE_READERF_ERROR)) ||
            (nothing && ++empty > 64)) {
            ended_ = true;
            return at_ < pending_.size() / 2;
        }
        return true;
    }

private:
    void append(IMFSample* sample, LONGLONG time) {
        ComPtr<IMFMediaBuffer> buffer;
        if (FAILED(sample->ConvertToContiguousBuffer(buffer.put())))
            return;
        BYTE* bytes = nullptr;
        DWORD length = 0;
        if (FAILED(buffer->Lock(&bytes, nullptr, &length)))
            return;
        const std::size_t frames = length / (format_.channels * format_.bits / 8);
        pending_.resize(2 * frames);
        at_ = 0;
        if (format_.isFloat)
            toStereo(reinterpret_cast<const float*>(bytes), frames, [](float v) {
                v = v == v ? v : 0.0f; // a damaged stream's NaN
                return std::clamp(v, -8.0f, 8.0f);
            });
        else
            toStereo(reinterpret_cast<const std::int16_t*>(bytes), frames,
                     [](std::int16_t v) { return static_cast<float>(v) * (1.0f / 32768.0f); });
        buffer->Unlock();
        if (landing_) {
            // A seek lands at or before the target: what comes before it is dropped.
            const std::uint64_t first =
                (static_cast<std::uint64_t>(std::max<LONGLONG>(time, 0)) * format_.rate +
                 unitsPerSecond / 2) /
                unitsPerSecond;
            const std::uint64_t skip = target_ > first ? target_ - first : 0;
            at_ = static_cast<std::size_t>(std::min<std::uint64_t>(skip, frames));
            landing_ = skip >= frames;
        }
    }

    // The first two channels (or the one, twice), each sample through `convert`.
    template <class Sample, class Convert>
    void toStereo(const Sample* in, std::size_t frames, Convert convert) {
        const std::size_t step = format_.channels, right = step > 1 ? 1 : 0;
        float* out = pending_.data();
        for (std::size_t i = 0; i < frames; ++i, in += step) {
            out[2 * i] = convert(in[0]);
            out[2 * i + 1] = convert(in[right]);
        }
    }

    qvdevice::ThreadCom com_; // first in, last out: the reader is released before COM ends
    ComPtr<IMFSourceReader> reader_;
    Format format_;
    std::vector<float> pending_;
    std::size_t at_ = 0;
    bool ended_ = false, landing_ = false;
    std::uint64_t target_ = 0;
};

} // namespace

bool startup() {
    return api().loaded() && SUCCEEDED(api().startup(MF_VERSION, MFSTARTUP_LITE));
}

void shutdown() {
    if (api().loaded())
        api().shutdown();
}

ComPtr<IMFSourceReader> openReader(const char* path, qvcore::SystemFormat format,
                                   OpenError& error) {
    error = OpenError::Refused;
    ComPtr<IMFSourceReader> reader;
    if (!api().loaded())
        return reader;
    const std::wstring wide = qvwin32::openablePath(path);
    ComPtr<IMFByteStream> stream;
    if (wide.empty() || FAILED(api().createFile(MF_ACCESSMODE_READ, MF_OPENMODE_FAIL_IF_NOT_EXIST,
                                                MF_FILEFLAGS_NONE, wide.c_str(), stream.put()))) {
        error = OpenError::Bad;
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
    // The opener runs on the read-ahead thread while this one waits for it.
    auto decoder = qvcore::openReadAhead(
        [&](qvcore::PcmSourceInfo& info) -> std::unique_ptr<qvcore::PcmSource> {
            qvdevice::ThreadCom com;
            ComPtr<IMFSourceReader> reader = openReader(path, format, error);
            Format f;
            if (!reader)
                return nullptr;
            if (!readFormat(reader.get(), f)) {
                error = OpenError::Refused;
                return nullptr;
            }
            info.rate = f.rate;
            info.lengthFrames = f.duration * f.rate / unitsPerSecond;
            auto source = std::make_unique<Source>(std::move(reader), f);
            // A file that opens but gives no sound at all is damaged.
            int empty = 0;
            if (!source->nextSample(empty)) {
                error = OpenError::Bad;
                return nullptr;
            }
            return source;
        });
    if (decoder)
        error = OpenError::None;
    return decoder;
}

} // namespace qvmf

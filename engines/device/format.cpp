#include "qvdevice/format.h"

#include <windows.h>
#include <mmreg.h>
#include <ks.h>
#include <ksmedia.h>

#include <cmath>
#include <cstring>

#include "qvcore/downmix.h"

namespace qvdevice {

namespace {

// Our own copies of the two sub-formats, so that no GUID library is needed.
const GUID subtypePcm = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
const GUID subtypeFloat = {
    0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

int32_t toInt(float v, float scale, int32_t lo, int32_t hi) {
    if (!(v == v))
        return 0;
    double s = std::nearbyint(static_cast<double>(v) * scale);
    if (s < lo)
        return lo;
    if (s > hi)
        return hi;
    return static_cast<int32_t>(s);
}

void putSample(uint8_t* p, SampleKind kind, float v) {
    switch (kind) {
    case SampleKind::Float32: std::memcpy(p, &v, 4); break;
    case SampleKind::Int16: {
        int16_t s = static_cast<int16_t>(toInt(v, 32768.0f, -32768, 32767));
        std::memcpy(p, &s, 2);
        break;
    }
    case SampleKind::Int24: {
        int32_t s = toInt(v, 8388608.0f, -8388608, 8388607);
        p[0] = static_cast<uint8_t>(s);
        p[1] = static_cast<uint8_t>(s >> 8);
        p[2] = static_cast<uint8_t>(s >> 16);
        break;
    }
    case SampleKind::Int32: {
        // Scaled in double: float cannot hold 2^31 - 1.
        double d = v == v ? std::nearbyint(static_cast<double>(v) * 2147483648.0) : 0.0;
        int32_t s = d <= -2147483648.0  ? INT32_MIN
                    : d >= 2147483647.0 ? INT32_MAX
                                        : static_cast<int32_t>(d);
        std::memcpy(p, &s, 4);
        break;
    }
    }
}

float getSample(const uint8_t* p, SampleKind kind) {
    switch (kind) {
    case SampleKind::Float32: {
        float v;
        std::memcpy(&v, p, 4);
        return v == v ? v : 0.0f;
    }
    case SampleKind::Int16: {
        int16_t s;
        std::memcpy(&s, p, 2);
        return static_cast<float>(s) / 32768.0f;
    }
    case SampleKind::Int24: {
        int32_t s = static_cast<int32_t>(static_cast<uint32_t>(p[0]) << 8 |
                                         static_cast<uint32_t>(p[1]) << 16 |
                                         static_cast<uint32_t>(p[2]) << 24) >>
                    8;
        return static_cast<float>(s) / 8388608.0f;
    }
    case SampleKind::Int32: {
        int32_t s;
        std::memcpy(&s, p, 4);
        return static_cast<float>(static_cast<double>(s) / 2147483648.0);
    }
    }
    return 0.0f;
}

uint32_t sampleBytes(SampleKind kind) {
    switch (kind) {
    case SampleKind::Int16: return 2;
    case SampleKind::Int24: return 3;
    default: return 4;
    }
}

} // namespace

bool describeFormat(const WAVEFORMATEX* wf, DeviceFormat& out) {
    if (!wf || wf->nChannels == 0 || wf->nSamplesPerSec == 0)
        return false;
    bool isFloat = false;
    uint32_t mask = 0;
    if (wf->wFormatTag == WAVE_FORMAT_IEEE_FLOAT) {
        isFloat = true;
    } else if (wf->wFormatTag == WAVE_FORMAT_EXTENSIBLE && wf->cbSize >= 22) {
        const auto* ext = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(wf);
        mask = ext->dwChannelMask;
        if (IsEqualGUID(ext->SubFormat, subtypeFloat))
            isFloat = true;
        else if (!IsEqualGUID(ext->SubFormat, subtypePcm))
            return false;
    } else if (wf->wFormatTag != WAVE_FORMAT_PCM) {
        return false;
    }

    SampleKind kind;
    if (isFloat && wf->wBitsPerSample == 32)
        kind = SampleKind::Float32;
    else if (!isFloat && wf->wBitsPerSample == 16)
        kind = SampleKind::Int16;
    else if (!isFloat && wf->wBitsPerSample == 24)
        kind = SampleKind::Int24;
    else if (!isFloat && wf->wBitsPerSample == 32)
        kind = SampleKind::Int32;
    else
        return false;

    uint32_t frameBytes = sampleBytes(kind) * wf->nChannels;
    if (wf->nBlockAlign != frameBytes)
        return false;
    out.kind = kind;
    out.channels = wf->nChannels;
    out.rate = wf->nSamplesPerSec;
    out.bytesPerFrame = frameBytes;
    out.channelMask = mask;
    return true;
}

void stereoToDevice(const float* stereo, uint32_t frames, const DeviceFormat& fmt, void* out) {
    auto* p = static_cast<uint8_t*>(out);
    const uint32_t bytes = sampleBytes(fmt.kind);
    for (uint32_t i = 0; i < frames; ++i) {
        float l = stereo[2 * i];
        float r = stereo[2 * i + 1];
        if (fmt.channels == 1) {
            putSample(p, fmt.kind, 0.5f * (l + r));
            p += bytes;
            continue;
        }
        putSample(p, fmt.kind, l);
        putSample(p + bytes, fmt.kind, r);
        p += 2 * bytes;
        for (uint32_t c = 2; c < fmt.channels; ++c, p += bytes)
            putSample(p, fmt.kind, 0.0f);
    }
}

namespace {

// One sample as the device packs it; the downmix steps over a frame by its channel count.
template <SampleKind kind, uint32_t bytes> struct Packed { uint8_t b[bytes]; };

template <SampleKind kind, uint32_t bytes>
void downmixFrom(const void* in, uint32_t frames, const qvcore::Downmix& mix, float* stereo) {
    mix.toStereo(static_cast<const Packed<kind, bytes>*>(in), frames, stereo,
                 [](const Packed<kind, bytes>& s) { return getSample(s.b, kind); });
}

} // namespace

void deviceToStereo(const void* in, uint32_t frames, const DeviceFormat& fmt, float* stereo) {
    const qvcore::Downmix mix(fmt.channels, fmt.channelMask);
    switch (fmt.kind) {
    case SampleKind::Float32: downmixFrom<SampleKind::Float32, 4>(in, frames, mix, stereo); break;
    case SampleKind::Int16: downmixFrom<SampleKind::Int16, 2>(in, frames, mix, stereo); break;
    case SampleKind::Int24: downmixFrom<SampleKind::Int24, 3>(in, frames, mix, stereo); break;
    case SampleKind::Int32: downmixFrom<SampleKind::Int32, 4>(in, frames, mix, stereo); break;
    }
}

} // namespace qvdevice

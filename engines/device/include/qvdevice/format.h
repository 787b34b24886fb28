// The sample layouts a shared-mode endpoint may use, and conversion between them and the
// interleaved stereo float our mixers and recorders work in.
#pragma once

#include <cstddef>
#include <cstdint>

typedef struct tWAVEFORMATEX WAVEFORMATEX;

namespace qvdevice {

enum class SampleKind { Float32, Int16, Int24, Int32 };

struct DeviceFormat {
    SampleKind kind = SampleKind::Float32;
    uint32_t channels = 0;
    uint32_t rate = 0;
    uint32_t bytesPerFrame = 0;
    uint32_t channelMask = 0; // speaker positions; 0: the usual layout for the channel count
};

// False for layouts we cannot convert (compressed, 8-bit, 64-bit float, zero channels).
bool describeFormat(const WAVEFORMATEX* wf, DeviceFormat& out);

// Stereo float to the device's layout: left and right go to the first two channels, the
// others stay silent; a mono device gets their mean. Integers are clamped, NaN gives 0.
void stereoToDevice(const float* stereo, uint32_t frames, const DeviceFormat& fmt, void* out);

// The device's layout to stereo float: a mono device feeds both sides, and surround is mixed
// down by the speaker positions (qvcore::Downmix).
void deviceToStereo(const void* in, uint32_t frames, const DeviceFormat& fmt, float* stereo);

} // namespace qvdevice

// Conversion between our stereo float and the layouts a shared-mode endpoint may use.
#include <windows.h>
#include <mmreg.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "qvdevice/format.h"

namespace {

using qvdevice::DeviceFormat;
using qvdevice::SampleKind;

WAVEFORMATEXTENSIBLE extensible(WORD channels, WORD bits, WORD validBits, bool isFloat) {
    WAVEFORMATEXTENSIBLE f{};
    f.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    f.Format.nChannels = channels;
    f.Format.nSamplesPerSec = 48000;
    f.Format.wBitsPerSample = bits;
    f.Format.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    f.Format.nAvgBytesPerSec = 48000u * f.Format.nBlockAlign;
    f.Format.cbSize = 22;
    f.Samples.wValidBitsPerSample = validBits;
    // KSDATAFORMAT_SUBTYPE_IEEE_FLOAT / _PCM
    f.SubFormat = {
        isFloat ? 3u : 1u, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
    return f;
}

TEST(DeviceFormat, DescribesTheLayoutsEndpointsUse) {
    DeviceFormat d;
    auto f = extensible(2, 32, 32, true);
    ASSERT_TRUE(qvdevice::describeFormat(&f.Format, d));
    EXPECT_EQ(d.kind, SampleKind::Float32);
    EXPECT_EQ(d.bytesPerFrame, 8u);
    f = extensible(6, 24, 24, false);
    ASSERT_TRUE(qvdevice::describeFormat(&f.Format, d));
    EXPECT_EQ(d.kind, SampleKind::Int24);
    EXPECT_EQ(d.channels, 6u);
    f = extensible(2, 32, 24, false); // 24 valid bits in 32: still full-scale 32-bit
    ASSERT_TRUE(qvdevice::describeFormat(&f.Format, d));
    EXPECT_EQ(d.kind, SampleKind::Int32);

    f = extensible(2, 8, 8, false);
    EXPECT_FALSE(qvdevice::describeFormat(&f.Format, d));
    f = extensible(2, 64, 64, true);
    EXPECT_FALSE(qvdevice::describeFormat(&f.Format, d));
    f = extensible(2, 16, 16, false);
    f.Format.nBlockAlign = 3; // lies about its frame size
    EXPECT_FALSE(qvdevice::describeFormat(&f.Format, d));
    EXPECT_FALSE(qvdevice::describeFormat(nullptr, d));
}

TEST(DeviceFormat, IntegersAreClampedNeverWrappedAndNanIsSilence) {
    const float in[] = {2.0f, -2.0f, std::numeric_limits<float>::quiet_NaN(), 0.5f};
    DeviceFormat d{SampleKind::Int16, 2, 48000, 4};
    int16_t s16[4];
    qvdevice::stereoToDevice(in, 2, d, s16);
    EXPECT_EQ(s16[0], 32767);
    EXPECT_EQ(s16[1], -32768);
    EXPECT_EQ(s16[2], 0);
    EXPECT_EQ(s16[3], 16384);

    d = {SampleKind::Int32, 2, 48000, 8};
    int32_t s32[4];
    qvdevice::stereoToDevice(in, 2, d, s32);
    EXPECT_EQ(s32[0], INT32_MAX);
    EXPECT_EQ(s32[1], INT32_MIN);
    EXPECT_EQ(s32[2], 0);
}

TEST(DeviceFormat, TwentyFourBitSamplesKeepTheirSignBothWays) {
    const float in[] = {-0.5f, 0.25f};
    DeviceFormat d{SampleKind::Int24, 2, 48000, 6};
    uint8_t raw[6];
    qvdevice::stereoToDevice(in, 1, d, raw);
    float back[2];
    qvdevice::deviceToStereo(raw, 1, d, back);
    EXPECT_FLOAT_EQ(back[0], -0.5f);
    EXPECT_FLOAT_EQ(back[1], 0.25f);
    EXPECT_EQ(raw[2], 0xC0); // -0.5 is 0xC00000
}

TEST(DeviceFormat, StereoGoesToTheFrontPairOrToAMonoMean) {
    const float in[] = {0.5f, -0.25f};
    DeviceFormat six{SampleKind::Float32, 6, 48000, 24};
    float out6[6];
    std::memset(out6, 0x7f, sizeof out6);
    qvdevice::stereoToDevice(in, 1, six, out6);
    EXPECT_EQ(out6[0], 0.5f);
    EXPECT_EQ(out6[1], -0.25f);
    for (int c = 2; c < 6; ++c)
        EXPECT_EQ(out6[c], 0.0f);

    DeviceFormat mono{SampleKind::Float32, 1, 48000, 4};
    float m;
    qvdevice::stereoToDevice(in, 1, mono, &m);
    EXPECT_FLOAT_EQ(m, 0.125f);
    float back[2];
    qvdevice::deviceToStereo(&m, 1, mono, back);
    EXPECT_EQ(back[0], back[1]);
}

} // namespace

// A surround device's loopback keeps its centre and surrounds, by the mask it reports, in
// every sample layout.
TEST(DeviceFormat, SurroundLoopbackKeepsTheCentre) {
    const struct {
        const char* name;
        DeviceFormat format;
        unsigned centre; // the centre's channel
    } cases[] = {
        {"5.1 float", {SampleKind::Float32, 6, 48000, 24, 0x3F}, 2},
        {"5.1 24-bit", {SampleKind::Int24, 6, 48000, 18, 0x3F}, 2},
        {"7.1 16-bit, no mask", {SampleKind::Int16, 8, 48000, 16, 0}, 2},
        {"3.0 32-bit", {SampleKind::Int32, 3, 48000, 12, 0x7}, 2},
    };
    for (const auto& c : cases) {
        // A stereo frame placed on the front pair, then the centre alone through the same path.
        std::vector<float> frame(c.format.channels, 0.0f);
        frame[c.centre] = 0.5f;
        std::vector<uint8_t> raw(c.format.bytesPerFrame);
        for (unsigned ch = 0; ch < c.format.channels; ++ch) {
            DeviceFormat one = c.format;
            one.channels = 1;
            one.bytesPerFrame = c.format.bytesPerFrame / c.format.channels;
            const float pair[] = {frame[ch], frame[ch]};
            qvdevice::stereoToDevice(pair, 1, one, raw.data() + ch * one.bytesPerFrame);
        }
        float back[2];
        qvdevice::deviceToStereo(raw.data(), 1, c.format, back);
        EXPECT_NEAR(back[0], 0.5f * 0.7071f, 1e-3) << c.name;
        EXPECT_NEAR(back[1], 0.5f * 0.7071f, 1e-3) << c.name;
    }
}

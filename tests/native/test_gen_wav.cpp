// The WAV writer checked against the RIFF/WAVE layout read back independently: sizes that add
// up, format fields that agree, and samples that decode to the tone asked for.
#include "tests/gen/gen.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

namespace {

using qvgen::SampleFormat;

uint32_t le(const qvgen::Bytes& b, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | b.at(at + i);
    return v;
}

// One sample of the data chunk as -1..1.
float decode(const uint8_t* p, SampleFormat f) {
    switch (f) {
    case SampleFormat::U8: return (p[0] - 128) / 128.0f;
    case SampleFormat::S16: return static_cast<int16_t>(p[0] | p[1] << 8) / 32768.0f;
    case SampleFormat::S24:
        return static_cast<int32_t>(static_cast<uint32_t>(p[0] << 8 | p[1] << 16 | p[2] << 24)) /
               2147483648.0f;
    case SampleFormat::S32:
        return static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16 |
                                    static_cast<uint32_t>(p[3]) << 24) /
               2147483648.0f;
    case SampleFormat::F32: {
        float x;
        std::memcpy(&x, p, 4);
        return x;
    }
    }
    return 0;
}

struct Case {
    SampleFormat format;
    int bits;
    int channels;
    bool extensible;
};

class GenWav : public testing::TestWithParam<Case> {};

TEST_P(GenWav, HeaderAndSamplesDescribeTheTone) {
    const Case c = GetParam();
    const bool isFloat = c.format == SampleFormat::F32;
    const qvgen::Bytes wav = qvgen::wavTone({.frequency = 440,
                                             .amplitude = 0.5,
                                             .seconds = 1.5,
                                             .rate = 44100,
                                             .channels = c.channels,
                                             .format = c.format,
                                             .extensible = c.extensible});
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 12), "WAVE");
    EXPECT_EQ(le(wav, 4, 4), wav.size() - 8);
    EXPECT_EQ(wav.size() % 2, 0u);

    const size_t fmt = qvgen::wavChunkOffset(wav, "fmt ");
    ASSERT_EQ(fmt, 12u);
    const unsigned tag = le(wav, fmt + 8, 2);
    const unsigned blockAlign = c.channels * c.bits / 8;
    EXPECT_EQ(tag, c.extensible ? 0xfffeu : isFloat ? 3u : 1u);
    EXPECT_EQ(le(wav, fmt + 10, 2), static_cast<uint32_t>(c.channels));
    EXPECT_EQ(le(wav, fmt + 12, 4), 44100u);
    EXPECT_EQ(le(wav, fmt + 16, 4), 44100u * blockAlign);
    EXPECT_EQ(le(wav, fmt + 20, 2), blockAlign);
    EXPECT_EQ(le(wav, fmt + 22, 2), static_cast<uint32_t>(c.bits));
    if (c.extensible) {
        EXPECT_EQ(le(wav, fmt + 4, 4), 40u);
        EXPECT_EQ(le(wav, fmt + 24, 2), 22u);
        EXPECT_EQ(le(wav, fmt + 26, 2), static_cast<uint32_t>(c.bits));
        EXPECT_EQ(le(wav, fmt + 28, 4), c.channels == 1 ? 0x4u : 0x3u);
        EXPECT_EQ(le(wav, fmt + 32, 4), isFloat ? 3u : 1u);
    }
    const size_t fact = qvgen::wavChunkOffset(wav, "fact");
    if (isFloat) {
        ASSERT_NE(fact, static_cast<size_t>(-1));
        EXPECT_EQ(le(wav, fact + 8, 4), 66150u);
    } else {
        EXPECT_EQ(fact, static_cast<size_t>(-1));
    }

    const size_t data = qvgen::wavChunkOffset(wav, "data");
    ASSERT_NE(data, static_cast<size_t>(-1));
    const uint32_t bytes = le(wav, data + 4, 4);
    EXPECT_EQ(bytes, 66150u * blockAlign);
    EXPECT_EQ(data + 8 + bytes + (bytes & 1), wav.size());

    std::vector<float> stereo;
    for (size_t at = data + 8; at + blockAlign <= data + 8 + bytes; at += blockAlign) {
        const float left = decode(&wav[at], c.format);
        const float right = c.channels == 2 ? decode(&wav[at + c.bits / 8], c.format) : left;
        EXPECT_EQ(left, right);
        stereo.push_back(left);
        stereo.push_back(right);
    }
    ASSERT_EQ(stereo.size(), 2u * 66150);
    EXPECT_NEAR(qvgen::dominantFrequency(stereo.data(), 66150, 44100), 440.0, 0.05);
    const double expected = 20 * std::log10(0.5 / std::sqrt(2.0));
    EXPECT_NEAR(qvgen::rmsDb(stereo.data(), 66150), expected, c.bits == 8 ? 0.1 : 0.01);
    EXPECT_NEAR(qvgen::toneLevelDb(stereo.data(), 66150, 44100, 440.0), expected, 0.1);
    EXPECT_EQ(stereo[0], 0.0f); // the sine starts at 0
}

std::string caseName(const testing::TestParamInfo<Case>& info) {
    const char* names[] = {"u8", "s16", "s24", "s32", "f32"};
    return std::string(names[static_cast<int>(info.param.format)]) +
           (info.param.channels == 1 ? "_mono" : "_stereo") +
           (info.param.extensible ? "_extensible" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Formats, GenWav,
    testing::Values(Case{SampleFormat::U8, 8, 1, false}, Case{SampleFormat::U8, 8, 2, false},
                    Case{SampleFormat::S16, 16, 1, false}, Case{SampleFormat::S16, 16, 2, false},
                    Case{SampleFormat::S24, 24, 1, false}, Case{SampleFormat::S24, 24, 2, false},
                    Case{SampleFormat::S32, 32, 1, false}, Case{SampleFormat::S32, 32, 2, false},
                    Case{SampleFormat::F32, 32, 1, false}, Case{SampleFormat::F32, 32, 2, false},
                    Case{SampleFormat::S16, 16, 2, true}, Case{SampleFormat::S24, 24, 1, true},
                    Case{SampleFormat::F32, 32, 2, true}),
    caseName);

TEST(GenWavEdges, AnOddDataChunkIsPaddedAndSilenceIsSilent) {
    // 8-bit mono with an odd frame count: the data chunk's size is odd, the file is not.
    const qvgen::Bytes odd = qvgen::wavTone({.frequency = 0,
                                             .seconds = 3.0 / 8000,
                                             .rate = 8000,
                                             .channels = 1,
                                             .format = SampleFormat::U8});
    const size_t data = qvgen::wavChunkOffset(odd, "data");
    EXPECT_EQ(le(odd, data + 4, 4), 3u);
    EXPECT_EQ(odd.size(), data + 8 + 4);
    EXPECT_EQ(le(odd, 4, 4), odd.size() - 8);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(odd[data + 8 + i], 128); // unsigned silence
    EXPECT_EQ(qvgen::wavChunkOffset(odd, "LIST"), static_cast<size_t>(-1));
}

} // namespace

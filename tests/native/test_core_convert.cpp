// Float to 16-bit conversion and the recording side's resampler.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "qvcore/convert.h"
#include "tests/gen/gen.h"

namespace {

TEST(CoreConvert, ClampsAndNeverWraps) {
    using qvcore::floatToInt16;
    EXPECT_EQ(floatToInt16(0.0f), 0);
    EXPECT_EQ(floatToInt16(0.5f), 16384);
    EXPECT_EQ(floatToInt16(-0.5f), -16384);
    EXPECT_EQ(floatToInt16(1.0f), 32767);
    EXPECT_EQ(floatToInt16(-1.0f), -32768);
    EXPECT_EQ(floatToInt16(1.5f), 32767);
    EXPECT_EQ(floatToInt16(-7.0f), -32768);
    EXPECT_EQ(floatToInt16(1e30f), 32767);
    EXPECT_EQ(floatToInt16(std::numeric_limits<float>::infinity()), 32767);
    EXPECT_EQ(floatToInt16(-std::numeric_limits<float>::infinity()), -32768);
    EXPECT_EQ(floatToInt16(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(floatToInt16(-std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(floatToInt16(1.0f / 32768), 1);
    EXPECT_EQ(floatToInt16(0.4f / 32768), 0);

    const float in[] = {0.25f, 2.0f, std::nanf(""), -2.0f};
    int16_t out[4];
    qvcore::floatToInt16(in, out, 4);
    EXPECT_EQ(out[0], 8192);
    EXPECT_EQ(out[1], 32767);
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(out[3], -32768);
}

// Ten minutes of 48 kHz stereo in uneven blocks: the output is ten minutes of 44.1 kHz to within
// one frame, it never lags far behind, and the tone keeps its pitch.
TEST(CoreResampler, TenMinutesWithoutDrift) {
    qvcore::StreamResampler r(48000, 44100, 2);
    ASSERT_TRUE(r.ok());
    const uint64_t totalIn = 48000ull * 600;
    std::mt19937 rng(5);
    std::uniform_int_distribution<size_t> blockSize(1, 4800);
    std::vector<float> in(2 * 4800), out(2 * r.maxOutput(4800));
    std::vector<float> tail; // the last seconds of output, for the pitch
    uint64_t fed = 0;
    double phase = 0;
    while (fed < totalIn) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(blockSize(rng), totalIn - fed));
        for (size_t i = 0; i < n; ++i) {
            const float v = static_cast<float>(0.5 * std::sin(phase));
            phase += 2 * M_PI * 1000.0 / 48000;
            in[2 * i] = in[2 * i + 1] = v;
        }
        const size_t got = r.process(in.data(), n, out.data(), r.maxOutput(n));
        fed += n;
        const double expected = static_cast<double>(fed) * 44100 / 48000;
        ASSERT_LT(expected - static_cast<double>(r.totalOut()), 2000.0) << "lags behind";
        ASSERT_LE(static_cast<double>(r.totalOut()), expected + 1);
        if (fed > totalIn - 48000 * 3)
            tail.insert(tail.end(), out.begin(), out.begin() + 2 * got);
    }
    const size_t drained = r.drain(out.data(), out.size() / 2);
    tail.insert(tail.end(), out.begin(), out.begin() + 2 * drained);
    EXPECT_EQ(r.totalIn(), totalIn);
    EXPECT_NEAR(static_cast<double>(r.totalOut()), 44100.0 * 600, 1.0);
    EXPECT_NEAR(qvgen::dominantFrequency(tail.data(), tail.size() / 2, 44100), 1000.0, 1.0);
    EXPECT_NEAR(qvgen::rmsDb(tail.data() + 2 * 44100, 44100), -9.03, 0.2);
}

TEST(CoreResampler, SameRatePassesThroughAndBadRatesAreRefused) {
    qvcore::StreamResampler same(44100, 44100, 2);
    ASSERT_TRUE(same.ok());
    const float in[4] = {0.1f, 0.2f, 0.3f, 0.4f};
    float out[4] = {};
    EXPECT_EQ(same.process(in, 2, out, 2), 2u);
    EXPECT_EQ(out[3], 0.4f);
    qvcore::StreamResampler bad(0, 44100, 2);
    EXPECT_FALSE(bad.ok());
    EXPECT_EQ(bad.process(in, 2, out, 2), 0u);
}

} // namespace

// The analysis helpers that every audio test leans on: pitch to a fraction of a hertz, levels
// to a hundredth of a decibel, and a tone's level picked out of a mixture.
#include "tests/gen/gen.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

// Stereo frames of sum(amplitude * sin) plus optional deterministic noise.
std::vector<float> tones(std::initializer_list<std::pair<double, double>> parts, double seconds,
                         int rate, double noise = 0.0) {
    const auto frames = static_cast<size_t>(seconds * rate);
    std::vector<float> out(frames * 2);
    uint32_t state = 12345;
    for (size_t i = 0; i < frames; ++i) {
        double v = 0.0;
        for (auto [hz, amplitude] : parts)
            v += amplitude * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / rate);
        state = state * 1664525u + 1013904223u;
        v += noise * (static_cast<double>(state >> 8) / (1 << 24) * 2.0 - 1.0);
        out[2 * i] = out[2 * i + 1] = static_cast<float>(v);
    }
    return out;
}

TEST(GenAnalysis, DominantFrequencyIsPreciseAtUsualRatesAndLengths) {
    for (int rate : {44100, 48000})
        for (double hz : {50.0, 440.0, 551.3, 1000.0, 6000.0}) {
            const std::vector<float> long_ = tones({{hz, 0.5}}, 2.0, rate);
            const std::vector<float> short_ = tones({{hz, 0.5}}, 0.1, rate);
            SCOPED_TRACE(hz);
            EXPECT_NEAR(qvgen::dominantFrequency(long_.data(), long_.size() / 2, rate), hz, 0.02);
            EXPECT_NEAR(qvgen::dominantFrequency(short_.data(), short_.size() / 2, rate), hz,
                        hz * 0.005 + 0.5);
        }
}

TEST(GenAnalysis, DominantFrequencyPicksTheStrongerToneThroughNoise) {
    const std::vector<float> mix = tones({{660, 0.1}, {440, 0.3}}, 1.0, 48000, 0.05);
    EXPECT_NEAR(qvgen::dominantFrequency(mix.data(), mix.size() / 2, 48000), 440.0, 0.1);
    const std::vector<float> silence(48000 * 2, 0.0f);
    EXPECT_EQ(qvgen::dominantFrequency(silence.data(), 48000, 48000), 0.0);
    EXPECT_EQ(qvgen::dominantFrequency(mix.data(), 100, 48000), 0.0);
}

TEST(GenAnalysis, LevelsInDecibelsOfFullScale) {
    const std::vector<float> full = tones({{1000, 1.0}}, 1.0, 48000);
    EXPECT_NEAR(qvgen::rmsDb(full.data(), full.size() / 2), -3.0103, 0.005);
    const std::vector<float> quarter = tones({{1000, 0.25}}, 1.0, 48000);
    EXPECT_NEAR(qvgen::rmsDb(quarter.data(), quarter.size() / 2), -3.0103 - 12.0412, 0.005);
    const std::vector<float> silence(2000, 0.0f);
    EXPECT_EQ(qvgen::rmsDb(silence.data(), 1000), -200.0);
    // Mono counts every sample once.
    EXPECT_NEAR(qvgen::rmsDb(full.data(), full.size(), 1), -3.0103, 0.005);
}

TEST(GenAnalysis, ToneLevelPicksEachToneOutOfAMixture) {
    const std::vector<float> mix = tones({{440, 0.5}, {660, 0.125}}, 2.0, 48000, 0.02);
    const double a = 20 * std::log10(0.5 / std::sqrt(2.0));
    const double b = 20 * std::log10(0.125 / std::sqrt(2.0));
    EXPECT_NEAR(qvgen::toneLevelDb(mix.data(), mix.size() / 2, 48000, 440), a, 0.1);
    EXPECT_NEAR(qvgen::toneLevelDb(mix.data(), mix.size() / 2, 48000, 660), b, 0.2);
    // 1 % off the true pitch still counts as the tone; an absent one is far below both.
    EXPECT_NEAR(qvgen::toneLevelDb(mix.data(), mix.size() / 2, 48000, 444.4), a, 0.1);
    EXPECT_LT(qvgen::toneLevelDb(mix.data(), mix.size() / 2, 48000, 1500), b - 20);
}

} // namespace

// The module writers checked through libopenmpt, the library the engine plays them with: each
// file loads as its type, with its orders and length, plays a centred steady tone at the pitch
// it promises, ends, and sounds at once after a seek to an order.
#include "tests/gen/gen.h"

#include <gtest/gtest.h>
#include <libopenmpt/libopenmpt.hpp>

#include <sstream>
#include <string>
#include <vector>

namespace {

using qvgen::ModuleFormat;
using qvgen::ModuleSpec;

constexpr int kRate = 48000;

std::vector<float> render(openmpt::module& m, double seconds) {
    std::vector<float> audio(static_cast<size_t>(seconds * kRate) * 2);
    const size_t frames = m.read_interleaved_stereo(kRate, audio.size() / 2, audio.data());
    audio.resize(frames * 2);
    return audio;
}

// Frames from `from` to `to` seconds of a rendered buffer.
std::vector<float> slice(const std::vector<float>& audio, double from, double to) {
    const auto a = static_cast<size_t>(from * kRate) * 2, b = static_cast<size_t>(to * kRate) * 2;
    return std::vector<float>(
        audio.begin() + static_cast<std::ptrdiff_t>(std::min(a, audio.size())),
        audio.begin() + static_cast<std::ptrdiff_t>(std::min(b, audio.size())));
}

double pitch(const std::vector<float>& audio) {
    return qvgen::dominantFrequency(audio.data(), audio.size() / 2, kRate);
}

double channelDb(const std::vector<float>& audio, int channel) {
    std::vector<float> one;
    for (size_t i = channel; i < audio.size(); i += 2)
        one.push_back(audio[i]);
    return qvgen::rmsDb(one.data(), one.size(), 1);
}

struct Case {
    ModuleFormat format;
    bool umx;
};

std::string caseName(const testing::TestParamInfo<Case>& info) {
    return std::string(info.param.umx ? "umx_" : "") +
           std::string(qvgen::moduleTypeName(info.param.format));
}

class GenModule : public testing::TestWithParam<Case> {
protected:
    qvgen::Bytes make(const ModuleSpec& params) const {
        const qvgen::Bytes bytes = qvgen::module(params);
        return GetParam().umx ? qvgen::umx(bytes, params.format) : bytes;
    }
    ModuleSpec params() const {
        ModuleSpec s;
        s.format = GetParam().format;
        return s;
    }
};

TEST_P(GenModule, LoadsWithItsTypeOrdersChannelsAndLength) {
    ModuleSpec s = params();
    s.orders = 13;
    s.speed = 1;
    s.tempo = 250;
    openmpt::module m(make(s));
    EXPECT_EQ(m.get_metadata("type"), qvgen::moduleTypeName(s.format));
    EXPECT_EQ(m.get_metadata("container"), GetParam().umx ? "umx" : "");
    EXPECT_EQ(m.get_num_orders(), 13);
    EXPECT_EQ(m.get_num_patterns(), 1);
    EXPECT_EQ(m.get_pattern_num_rows(0), 64);
    EXPECT_GE(m.get_num_channels(), s.voices);
    EXPECT_NEAR(m.get_duration_seconds(), qvgen::moduleSeconds(s), 1e-6);
}

TEST_P(GenModule, PlaysACentredSteadyToneAtItsPitch) {
    for (double hz : {100.0, 330.0, 550.0, 1320.0, 2000.0}) {
        ModuleSpec s = params();
        s.frequency = hz;
        s.orders = 1;
        s.speed = 2; // one 2.56 s pattern: no re-strike inside the window measured
        openmpt::module m(make(s));
        const std::vector<float> tone = slice(render(m, 2.4), 0.2, 2.4);
        SCOPED_TRACE(hz);
        EXPECT_NEAR(qvgen::moduleFrequency(s), hz, hz * 1e-4);
        EXPECT_NEAR(pitch(tone), qvgen::moduleFrequency(s), hz * 1e-4);
        const double level = qvgen::rmsDb(tone.data(), tone.size() / 2);
        EXPECT_GT(level, -15.0);
        // Nearly all the energy is the tone: a wrongly signed or delta-coded sample would not be.
        EXPECT_NEAR(qvgen::toneLevelDb(tone.data(), tone.size() / 2, kRate, hz), level, 0.2);
        EXPECT_NEAR(channelDb(tone, 0), channelDb(tone, 1), 0.5);
    }
}

TEST_P(GenModule, PlaysItsOrdersOnceAndEnds) {
    ModuleSpec s = params();
    s.orders = 3;
    s.speed = 1; // 3.84 s
    openmpt::module m(make(s));
    m.ctl_set_text("play.at_end", "stop");
    const std::vector<float> all = render(m, 10.0);
    EXPECT_NEAR(all.size() / 2.0 / kRate, qvgen::moduleSeconds(s), 0.01);
    // Each order re-strikes the note: the tone goes on across order boundaries to the end.
    const double seconds = qvgen::moduleSeconds(s);
    for (double at : {0.1, seconds / 3 + 0.1, seconds - 0.3}) {
        const std::vector<float> part = slice(all, at, at + 0.2);
        SCOPED_TRACE(at);
        EXPECT_NEAR(pitch(part), s.frequency, s.frequency * 0.01);
        EXPECT_GT(qvgen::rmsDb(part.data(), part.size() / 2), -15.0);
    }
}

TEST_P(GenModule, SoundsAtOnceAfterASeekToAnOrder) {
    ModuleSpec s = params();
    s.orders = 13;
    openmpt::module m(make(s));
    render(m, 0.5);
    m.set_position_order_row(9, 0);
    EXPECT_EQ(m.get_current_order(), 9);
    const std::vector<float> after = render(m, 0.3);
    EXPECT_NEAR(pitch(after), s.frequency, s.frequency * 0.01);
    EXPECT_GT(qvgen::rmsDb(after.data(), after.size() / 2), -15.0);
    EXPECT_EQ(m.get_current_order(), 9);
}

TEST_P(GenModule, ShorterPatternsKeepTheOrderCountAndShortenTheSong) {
    for (int rows : {1, 16}) {
        ModuleSpec s = params();
        s.orders = 5;
        s.rows = rows;
        s.speed = 2;
        openmpt::module m(make(s));
        SCOPED_TRACE(rows);
        EXPECT_EQ(m.get_num_orders(), 5);
        EXPECT_NEAR(m.get_duration_seconds(), qvgen::moduleSeconds(s), 1e-6);
        const std::vector<float> part = render(m, 0.3);
        EXPECT_NEAR(pitch(part), s.frequency, s.frequency * 0.01);
    }
}

TEST_P(GenModule, ManyVoicesSoundAsLoudAsTwo) {
    const int channels = GetParam().format == ModuleFormat::S3m ? 16 : 32;
    ModuleSpec two = params(), many = params();
    two.channels = many.channels = many.voices = channels;
    openmpt::module a(make(two)), b(make(many));
    EXPECT_EQ(b.get_num_channels(), channels);
    const std::vector<float> x = slice(render(a, 1.0), 0.2, 1.0);
    const std::vector<float> y = slice(render(b, 1.0), 0.2, 1.0);
    EXPECT_NEAR(pitch(y), many.frequency, many.frequency * 1e-3);
    EXPECT_NEAR(qvgen::rmsDb(y.data(), y.size() / 2), qvgen::rmsDb(x.data(), x.size() / 2), 1.5);
    EXPECT_NEAR(channelDb(y, 0), channelDb(y, 1), 0.5);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, GenModule,
    testing::Values(Case{ModuleFormat::Mod, false}, Case{ModuleFormat::S3m, false},
                    Case{ModuleFormat::Xm, false}, Case{ModuleFormat::It, false},
                    Case{ModuleFormat::Mtm, false}, Case{ModuleFormat::It, true},
                    Case{ModuleFormat::S3m, true}),
    caseName);

TEST(GenModuleMod, WritesTheSignatureOfItsChannelCount) {
    for (auto [channels, signature] : {std::pair{4, "M.K."}, {8, "8CHN"}, {32, "32CH"}}) {
        ModuleSpec s;
        s.channels = channels;
        const qvgen::Bytes bytes = qvgen::module(s);
        EXPECT_EQ(std::string(bytes.begin() + 1080, bytes.begin() + 1084), signature);
        openmpt::module m(bytes);
        EXPECT_EQ(m.get_num_channels(), channels);
    }
}

// What qvgen's "truncated_header" variants are for: a header cut to half, at most 64 bytes, is
// refused outright (an XM cut after 100 bytes still loads, as silence).
TEST(GenBroken, CutHeadersAreRefused) {
    for (ModuleFormat f : {ModuleFormat::Mod, ModuleFormat::S3m, ModuleFormat::Xm, ModuleFormat::It,
                           ModuleFormat::Mtm}) {
        ModuleSpec s;
        s.format = f;
        const qvgen::Bytes cut = qvgen::truncated(
            qvgen::module(s), std::min<size_t>(qvgen::moduleHeaderSize(f) / 2, 64));
        SCOPED_TRACE(std::string(qvgen::moduleTypeName(f)));
        EXPECT_EQ(openmpt::probe_file_header(openmpt::probe_file_header_flags_default2, cut.data(),
                                             cut.size(), cut.size()),
                  openmpt::probe_file_header_result_failure);
        EXPECT_THROW(openmpt::module m(cut), openmpt::exception);
    }
}

TEST(GenBroken, GarbageIsTheSameForTheSameSeedAndKeepsTheHeader) {
    const qvgen::Bytes valid = qvgen::module({});
    const qvgen::Bytes a = qvgen::withGarbageAfter(valid, 1084, 7);
    EXPECT_EQ(a, qvgen::withGarbageAfter(valid, 1084, 7));
    EXPECT_NE(a, qvgen::withGarbageAfter(valid, 1084, 8));
    ASSERT_EQ(a.size(), valid.size());
    EXPECT_TRUE(std::equal(valid.begin(), valid.begin() + 1084, a.begin()));
    EXPECT_NE(a, valid);
    EXPECT_EQ(qvgen::garbage(100, 3), qvgen::garbage(100, 3));
    EXPECT_EQ(qvgen::truncated(valid, 10).size(), 10u);
    EXPECT_EQ(qvgen::truncated(valid, 1u << 30), valid);
}

} // namespace

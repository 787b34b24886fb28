// Decoders: exact lengths, seeking by time and by order, module ends, sample formats.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/native/core_media.h"

using namespace coretest;
using qvcore::Kind;
using qvcore::ModuleEnd;
using qvgen::ModuleFormat;

namespace {

struct StreamCase {
    const char* name;
    Encoded encoded;
    bool isWav;
    Kind kind;
    uint32_t rate;
};

const StreamCase kStreams[] = {
    {"ogg", Encoded::Ogg, false, Kind::Vorbis, 44100},
    {"mp3", Encoded::Mp3, false, Kind::Mp3, 44100},
    {"flac", Encoded::Flac, false, Kind::Flac, 44100},
    {"opus", Encoded::Opus, false, Kind::Opus, 48000},
    {"wav", Encoded::Ogg, true, Kind::Wav, 44100},
};

void PrintTo(const StreamCase& c, std::ostream* os) {
    *os << c.name;
}

Bytes streamBytes(const StreamCase& c, double seconds = 2.5) {
    return c.isWav ? qvgen::wavTone(tone(seconds)) : encode(c.encoded, tone(seconds));
}

class CoreStream : public ::testing::TestWithParam<StreamCase> {};

TEST_P(CoreStream, LengthIsWhatTheDecoderProduces) {
    const Bytes b = streamBytes(GetParam());
    ASSERT_FALSE(b.empty());
    auto d = qvcore::openStream(fileOf(b));
    ASSERT_TRUE(d);
    EXPECT_EQ(d->kind(), GetParam().kind);
    EXPECT_EQ(d->sampleRate(), GetParam().rate);
    // Decode in odd-sized blocks so that no block size lines up with the format's frames.
    const std::vector<float> all = renderAll(*d, 48000 * 10, 997);
    const uint64_t frames = all.size() / 2;
    EXPECT_EQ(frames, d->lengthFrames());
    EXPECT_EQ(d->lengthMs(), frames * 1000 / d->sampleRate());
    // The encoders keep the source's length (MP3 through its gapless header): 2.5 s.
    EXPECT_NEAR(static_cast<double>(d->lengthMs()), 2500.0, 1.0);
    EXPECT_EQ(d->positionFrames(), frames);
    EXPECT_NEAR(qvgen::dominantFrequency(all.data(), frames, static_cast<int>(d->sampleRate())),
                440.0, 2.0);
    EXPECT_NEAR(qvgen::rmsDb(all.data(), frames), -9.03, 1.0); // a sine of peak 0.5
    float buf[64];
    EXPECT_EQ(d->render(buf, 32), 0u);
}

TEST_P(CoreStream, SeekToATimeAndPastTheEnd) {
    const Bytes b = streamBytes(GetParam());
    auto d = qvcore::openStream(fileOf(b));
    ASSERT_TRUE(d);
    const uint64_t rate = d->sampleRate();
    ASSERT_TRUE(d->seekMs(1000));
    EXPECT_EQ(d->positionMs(), 1000u);
    std::vector<float> rest = renderAll(*d, 48000 * 10, 1024);
    EXPECT_EQ(rest.size() / 2, d->lengthFrames() - rate);
    EXPECT_NEAR(qvgen::dominantFrequency(rest.data(), rest.size() / 2, static_cast<int>(rate)),
                440.0, 2.0);

    // Past the end: nothing to render, and a later seek plays again.
    ASSERT_TRUE(d->seekMs(60000));
    float buf[256];
    EXPECT_EQ(d->render(buf, 128), 0u);
    ASSERT_TRUE(d->seekMs(0));
    EXPECT_EQ(d->positionFrames(), 0u);
    EXPECT_EQ(renderAll(*d).size() / 2, d->lengthFrames());

    // Back to the middle after the end was reached.
    ASSERT_TRUE(d->seekMs(2000));
    EXPECT_EQ(renderAll(*d).size() / 2, d->lengthFrames() - 2 * rate);
}

TEST_P(CoreStream, MonoPlaysOnBothSides) {
    qvgen::WavSpec params = tone(1.0, 32000, 660.0);
    params.channels = 1;
    const Bytes b = GetParam().isWav ? qvgen::wavTone(params) : encode(GetParam().encoded, params);
    ASSERT_FALSE(b.empty());
    auto d = qvcore::openStream(fileOf(b));
    ASSERT_TRUE(d);
    const std::vector<float> all = renderAll(*d);
    EXPECT_EQ(all.size() / 2, d->lengthFrames());
    EXPECT_NEAR(static_cast<double>(d->lengthMs()), 1000.0, 1.0);
    for (size_t i = 0; i < all.size(); i += 2)
        ASSERT_EQ(all[i], all[i + 1]) << i;
    EXPECT_NEAR(
        qvgen::dominantFrequency(all.data(), all.size() / 2, static_cast<int>(d->sampleRate())),
        660.0, 2.0);
}

INSTANTIATE_TEST_SUITE_P(Formats, CoreStream, ::testing::ValuesIn(kStreams),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CoreWav, EverySampleFormatDecodesToTheSameTone) {
    using F = qvgen::SampleFormat;
    for (F f : {F::U8, F::S16, F::S24, F::S32, F::F32}) {
        for (int channels : {1, 2}) {
            qvgen::WavSpec s = tone(0.5, 22050, 1000.0);
            s.format = f;
            s.channels = channels;
            auto d = qvcore::openStream(fileOf(qvgen::wavTone(s)));
            ASSERT_TRUE(d) << static_cast<int>(f);
            EXPECT_EQ(d->sampleRate(), 22050u);
            const std::vector<float> all = renderAll(*d);
            ASSERT_EQ(all.size(), 2u * 11025);
            EXPECT_NEAR(qvgen::rmsDb(all.data(), all.size() / 2), -9.03, 0.2);
            EXPECT_NEAR(qvgen::dominantFrequency(all.data(), all.size() / 2, 22050), 1000.0, 1.0);
            // Mono plays on both sides.
            for (size_t i = 0; i < all.size(); i += 2)
                ASSERT_EQ(all[i], all[i + 1]);
        }
    }
}

TEST(CoreWav, LyingDataSizeIsCutToTheFile) {
    Bytes wav = qvgen::wavTone(tone(0.5, 8000));
    const size_t data = qvgen::wavChunkOffset(wav, "data");
    qvgen::patchLE32(wav, data + 4, 0x7FFFFFF0u);
    qvgen::patchLE32(wav, 4, 0xFFFFFFFFu);
    auto d = qvcore::openStream(fileOf(wav));
    ASSERT_TRUE(d);
    EXPECT_EQ(d->lengthFrames(), 4000u);
    EXPECT_EQ(renderAll(*d).size(), 8000u);
}

TEST(CoreWav, LyingFmtSizeIsRefused) {
    Bytes wav = qvgen::wavTone(tone(0.5, 8000));
    qvgen::patchLE32(wav, qvgen::wavChunkOffset(wav, "fmt ") + 4, 0xFFFFFF00u);
    EXPECT_FALSE(qvcore::openStream(fileOf(wav)));
    Bytes small = qvgen::wavTone(tone(0.5, 8000));
    qvgen::patchLE32(small, qvgen::wavChunkOffset(small, "fmt ") + 4, 8);
    EXPECT_FALSE(qvcore::openStream(fileOf(small)));
}

// ---------------------------------------------------------------------------------------------
// Modules

struct ModuleCase {
    ModuleFormat format;
    int channels;
};

void PrintTo(const ModuleCase& c, std::ostream* os) {
    *os << qvgen::moduleTypeName(c.format) << " " << c.channels << " channels";
}

class CoreModule : public ::testing::TestWithParam<ModuleCase> {
protected:
    qvgen::ModuleSpec params() const {
        qvgen::ModuleSpec s;
        s.format = GetParam().format;
        s.channels = GetParam().channels;
        s.voices = std::min(2, s.channels);
        s.orders = 5;
        return s;
    }
};

TEST_P(CoreModule, StopsExactlyAtTheEnd) {
    const qvgen::ModuleSpec s = params();
    auto d = qvcore::openModule(fileOf(qvgen::module(s)), ModuleEnd::Stop);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->moduleType(), qvgen::moduleTypeName(s.format));
    ASSERT_TRUE(d->setRenderRate(44100));
    EXPECT_EQ(d->numOrders(), 5);
    const double seconds = qvgen::moduleSeconds(s);
    EXPECT_NEAR(static_cast<double>(d->lengthMs()), seconds * 1000, 2.0);
    const std::vector<float> all = renderAll(*d, 44100 * 60, 1001);
    EXPECT_NEAR(static_cast<double>(all.size() / 2), seconds * 44100, 2.0);
    EXPECT_NEAR(qvgen::dominantFrequency(all.data(), all.size() / 2, 44100),
                qvgen::moduleFrequency(s), 2.0);
    float buf[64];
    EXPECT_EQ(d->render(buf, 32), 0u);
    // After the end a seek plays again.
    ASSERT_TRUE(d->setOrderRow(0, 0));
    EXPECT_EQ(d->render(buf, 32), 32u);
}

TEST_P(CoreModule, LoopsFromTheStartForever) {
    const qvgen::ModuleSpec s = params();
    auto d = qvcore::openModule(fileOf(qvgen::module(s)), ModuleEnd::Loop);
    ASSERT_TRUE(d);
    const size_t pass = static_cast<size_t>(qvgen::moduleSeconds(s) * 48000);
    std::vector<float> buf(2 * 4800);
    size_t done = 0;
    bool sawLastOrder = false;
    while (done < pass + 48000) {
        ASSERT_EQ(d->render(buf.data(), 4800), 4800u);
        done += 4800;
        sawLastOrder = sawLastOrder || d->currentOrder() == 4;
    }
    EXPECT_TRUE(sawLastOrder);
    // One second into the second pass: back at the first order, still sounding.
    EXPECT_EQ(d->currentOrder(), 0);
    EXPECT_GT(qvgen::rmsDb(buf.data(), 4800), -30.0);
}

TEST_P(CoreModule, SeeksToAnOrder) {
    const qvgen::ModuleSpec s = params();
    auto d = qvcore::openModule(fileOf(qvgen::module(s)), ModuleEnd::Stop);
    ASSERT_TRUE(d);
    ASSERT_TRUE(d->setOrderRow(3, 0));
    EXPECT_EQ(d->currentOrder(), 3);
    EXPECT_EQ(d->currentRow(), 0);
    const std::vector<float> rest = renderAll(*d, 48000 * 60);
    // Two of five orders are left, and they sound at once.
    EXPECT_NEAR(static_cast<double>(rest.size() / 2), qvgen::moduleSeconds(s) * 48000 * 2 / 5,
                48.0);
    EXPECT_GT(qvgen::rmsDb(rest.data(), 4800), -30.0);
    EXPECT_FALSE(d->setOrderRow(5, 0));
    EXPECT_FALSE(d->setOrderRow(-1, 0));
    // Seeking by time lands in the matching order.
    ASSERT_TRUE(d->seekMs(static_cast<uint64_t>(qvgen::moduleSeconds(s) * 1000 / 5 * 2.5)));
    EXPECT_EQ(d->currentOrder(), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, CoreModule,
    ::testing::Values(ModuleCase{ModuleFormat::Mod, 4}, ModuleCase{ModuleFormat::Mod, 32},
                      ModuleCase{ModuleFormat::S3m, 8}, ModuleCase{ModuleFormat::Xm, 8},
                      ModuleCase{ModuleFormat::It, 16}, ModuleCase{ModuleFormat::Mtm, 4}),
    [](const auto& info) {
        return std::string(qvgen::moduleTypeName(info.param.format)) +
               std::to_string(info.param.channels);
    });

TEST(CoreModule, UmxPlaysItsInnerModule) {
    qvgen::ModuleSpec s;
    s.format = ModuleFormat::It;
    s.orders = 3;
    auto d = qvcore::openModule(fileOf(qvgen::umx(qvgen::module(s), s.format)), ModuleEnd::Stop);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->numOrders(), 3);
    const std::vector<float> all = renderAll(*d);
    EXPECT_NEAR(static_cast<double>(all.size() / 2), qvgen::moduleSeconds(s) * 48000, 2.0);
}

} // namespace

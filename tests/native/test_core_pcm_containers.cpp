// The PCM containers and codecs that libsndfile reads for us: each plays its tone at its exact
// length and seeks to the frame; headers that lie are refused or cut.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/native/core_media.h"

using namespace coretest;

namespace {

struct Flavour {
    const char* name;
    const char* command; // IN (a 16-bit stereo WAV) to OUT
    const char* ext;
    int rate;
};

const Flavour kFlavours[] = {
    {"float64", "sox IN -e floating-point -b 64 OUT", "wav", 44100},
    {"alaw", "sox IN -c 1 -e a-law OUT", "wav", 8000},
    {"ulaw", "sox IN -c 1 -e u-law OUT", "wav", 8000},
    {"ima_adpcm", "sox IN -e ima-adpcm OUT", "wav", 22050},
    {"ms_adpcm", "sox IN -e ms-adpcm OUT", "wav", 22050},
    {"rf64", "ffmpeg -nostdin -y -i IN -rf64 always -f wav OUT", "wav", 48000},
    {"aiff", "sox IN OUT", "aiff", 44100},
    {"aifc", "sox IN -e floating-point OUT", "aifc", 44100},
    {"au", "sox IN OUT", "au", 8000},
    {"w64", "sox IN -b 24 OUT", "w64", 96000},
    {"caf", "ffmpeg -nostdin -y -i IN -f caf OUT", "caf", 44100},
};

class CorePcmContainer : public ::testing::TestWithParam<Flavour> {};

TEST_P(CorePcmContainer, PlaysItsToneAtItsLengthAndSeeksToTheFrame) {
    const Flavour& f = GetParam();
    const Bytes b = converted(tone(1.5, f.rate, 500.0), f.command, f.ext);
    ASSERT_FALSE(b.empty()) << f.command;
    EXPECT_EQ(probeBytes(b).kind, qvcore::Kind::Wav);
    auto d = qvcore::openStream(fileOf(b));
    ASSERT_TRUE(d);
    EXPECT_EQ(d->sampleRate(), static_cast<uint32_t>(f.rate));
    const std::vector<float> all = renderAll(*d, 48000 * 10, 997);
    const uint64_t frames = all.size() / 2;
    EXPECT_EQ(frames, d->lengthFrames());
    // ADPCM fills its last block: a little more than the source, never less.
    EXPECT_GE(frames, uint64_t(1.5 * f.rate));
    EXPECT_LE(frames, uint64_t(1.5 * f.rate) + 2048);
    EXPECT_NEAR(qvgen::dominantFrequency(all.data(), frames, f.rate), 500.0, 2.0);

    // A seek lands on its frame: what follows is what a straight run gave there.
    const uint64_t at = frames / 3 + 7;
    ASSERT_TRUE(d->seekFrames(at));
    EXPECT_EQ(d->positionFrames(), at);
    float buf[2 * 64];
    ASSERT_EQ(d->render(buf, 64), 64u);
    for (size_t i = 0; i < 128; ++i)
        ASSERT_NEAR(buf[i], all[2 * at + i], 1e-6) << i;
}

INSTANTIATE_TEST_SUITE_P(Flavours, CorePcmContainer, ::testing::ValuesIn(kFlavours),
                         [](const auto& info) { return std::string(info.param.name); });

// Headers that lie: each is refused, or plays no more than the file holds, in bounded time and
// memory (the sanitizers' allocator fails a test that asks for gigabytes).
TEST(CorePcmMalformed, LyingHeadersAreRefusedOrPlayWhatIsThere) {
    const Bytes pcm = qvgen::wavTone(tone(0.5, 8000));
    const Bytes ima = converted(tone(0.5, 8000), "sox IN -e ima-adpcm OUT", "wav");
    ASSERT_FALSE(ima.empty());
    struct Lie {
        const char* what;
        const Bytes* file;
        size_t at; // from the start of the fmt chunk's body
        uint32_t value;
        int bytes;
    };
    const Lie lies[] = {
        {"no channels", &pcm, 2, 0, 2},
        {"a rate of 0", &pcm, 4, 0, 4},
        {"a rate of 4 billion", &pcm, 4, 4000000000u, 4},
        {"a block align of 0", &pcm, 12, 0, 2},
        {"an ADPCM block align of 0", &ima, 12, 0, 2},
        {"an ADPCM block larger than the file", &ima, 12, 0xFFFF, 2},
        {"ADPCM samples per block that do not fit", &ima, 18, 0xFFFF, 2},
        {"ADPCM with 65535 channels", &ima, 2, 0xFFFF, 2},
    };
    for (const Lie& lie : lies) {
        Bytes b = *lie.file;
        const size_t at = qvgen::wavChunkOffset(b, "fmt ") + 8 + lie.at;
        for (int i = 0; i < lie.bytes; ++i)
            b[at + i] = static_cast<uint8_t>(lie.value >> (8 * i));
        auto d = qvcore::openStream(fileOf(b));
        if (d) // whatever it decodes to, never more than a frame per byte of the file
            EXPECT_LE(renderAll(*d).size() / 2, b.size()) << lie.what;
    }
    // A data size past the end is cut to the whole frames there.
    Bytes cut = pcm;
    qvgen::patchLE32(cut, qvgen::wavChunkOffset(cut, "data") + 4, 0x7FFFFFF0u);
    cut.resize(cut.size() - 1001);
    auto d = qvcore::openStream(fileOf(cut));
    ASSERT_TRUE(d);
    EXPECT_EQ(d->lengthFrames(), (16000u - 1001u) / 4);
    EXPECT_EQ(renderAll(*d).size() / 2, (16000u - 1001u) / 4);
}

} // namespace

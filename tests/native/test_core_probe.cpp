// Which decoder takes a file, from its content alone; and opening files that are not there.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/native/core_media.h"

using namespace coretest;
using qvcore::Kind;
using qvgen::ModuleFormat;

namespace {

const ModuleFormat kModuleFormats[] = {ModuleFormat::Mod, ModuleFormat::S3m, ModuleFormat::Xm,
                                       ModuleFormat::It, ModuleFormat::Mtm};

TEST(CoreProbe, StreamsByContent) {
    EXPECT_EQ(probeBytes(encode(Encoded::Ogg, tone())).kind, Kind::Vorbis);
    EXPECT_EQ(probeBytes(encode(Encoded::Opus, tone())).kind, Kind::Opus);
    EXPECT_EQ(probeBytes(encode(Encoded::Flac, tone())).kind, Kind::Flac);
    EXPECT_EQ(probeBytes(encode(Encoded::Mp3, tone())).kind, Kind::Mp3);
    EXPECT_EQ(probeBytes(qvgen::wavTone(tone())).kind, Kind::Wav);
}

TEST(CoreProbe, EveryWavSampleFormatAndLayout) {
    using F = qvgen::SampleFormat;
    for (F f : {F::U8, F::S16, F::S24, F::S32, F::F32}) {
        for (int channels : {1, 2}) {
            for (bool ext : {false, true}) {
                qvgen::WavSpec s = tone(0.2);
                s.format = f;
                s.channels = channels;
                s.extensible = ext;
                EXPECT_EQ(probeBytes(qvgen::wavTone(s)).kind, Kind::Wav)
                    << static_cast<int>(f) << " " << channels << " " << ext;
            }
        }
    }
}

TEST(CoreProbe, ModulesReportTheirTypeAndAreNeverStreams) {
    for (ModuleFormat f : kModuleFormats) {
        const Bytes mod = moduleBytes(f);
        const auto r = probeBytes(mod);
        EXPECT_EQ(r.kind, Kind::Module) << qvgen::moduleTypeName(f);
        EXPECT_EQ(r.moduleType, qvgen::moduleTypeName(f));
        EXPECT_FALSE(qvcore::openStream(fileOf(mod))) << qvgen::moduleTypeName(f);
    }
    const auto umx = probeBytes(qvgen::umx(moduleBytes(ModuleFormat::S3m), ModuleFormat::S3m));
    EXPECT_EQ(umx.kind, Kind::Module);
    EXPECT_EQ(umx.moduleType, "s3m");
    EXPECT_EQ(umx.moduleContainer, "umx");
    EXPECT_FALSE(qvcore::isClassicModule(umx));
    EXPECT_TRUE(qvcore::isClassicModule(probeBytes(moduleBytes(ModuleFormat::Xm))));
    EXPECT_FALSE(qvcore::isClassicModule(probeBytes(moduleBytes(ModuleFormat::Mtm))));
    EXPECT_TRUE(qvcore::isClassicModuleType("it"));
    EXPECT_FALSE(qvcore::isClassicModuleType("mtm"));
    EXPECT_FALSE(qvcore::isClassicModuleType("umx"));
}

TEST(CoreProbe, StreamsAreNeverModules) {
    for (Encoded e : {Encoded::Ogg, Encoded::Mp3, Encoded::Flac, Encoded::Opus}) {
        const Bytes b = encode(e, tone());
        EXPECT_FALSE(qvcore::openModule(fileOf(b), qvcore::ModuleEnd::Stop));
    }
    EXPECT_FALSE(qvcore::openModule(fileOf(qvgen::wavTone(tone())), qvcore::ModuleEnd::Stop));
}

TEST(CoreProbe, Mp3NeedsSeveralFramesOrATag) {
    const Bytes mp3 = encode(Encoded::Mp3, tone());
    ASSERT_FALSE(mp3.empty());
    // One valid frame header followed by anything else is not enough.
    Bytes oneFrame = qvgen::withGarbageAfter(mp3, 4, 7);
    EXPECT_EQ(probeBytes(oneFrame).kind, Kind::Unknown);
    // A frame sync inside garbage is not taken either.
    Bytes g = qvgen::garbage(4096, 3);
    g[100] = 0xFF;
    g[101] = 0xFB;
    EXPECT_EQ(probeBytes(g).kind, Kind::Unknown);
    // An ID3v2 tag in front of real frames is.
    Bytes tagged = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 20};
    tagged.resize(30, 0);
    tagged.insert(tagged.end(), mp3.begin(), mp3.end());
    EXPECT_EQ(probeBytes(tagged).kind, Kind::Mp3);
    auto dec = qvcore::openStream(fileOf(tagged));
    ASSERT_TRUE(dec);
    EXPECT_NEAR(static_cast<double>(dec->lengthMs()), 2000.0, 60.0);
}

TEST(CoreProbe, UnknownContent) {
    EXPECT_EQ(probeBytes({}).kind, Kind::Unknown);
    EXPECT_EQ(probeBytes({0}).kind, Kind::Unknown);
    EXPECT_EQ(probeBytes(qvgen::garbage(100000, 9)).kind, Kind::Unknown);
    const std::string text = "just some text, not music at all\n";
    EXPECT_EQ(probeBytes(Bytes(text.begin(), text.end())).kind, Kind::Unknown);
    EXPECT_EQ(probeBytes(Bytes(70000, 0)).kind, Kind::Unknown);
    EXPECT_EQ(probeBytes(Bytes(70000, 0xFF)).kind, Kind::Unknown);
}

TEST(CoreProbe, NamesDoNotMatter) {
    // A module named like a stream and a stream named like a module open as what they are.
    const fs::path modAsMp3 = scratchDir() / "song.mp3";
    const fs::path oggAsMod = scratchDir() / "song.mod";
    writeFile(modAsMp3, moduleBytes(ModuleFormat::Xm));
    writeFile(oggAsMod, encode(Encoded::Ogg, tone()));
    auto a = qvcore::FileData::open(modAsMp3.c_str());
    auto b = qvcore::FileData::open(oggAsMod.c_str());
    ASSERT_TRUE(a && b);
    EXPECT_EQ(qvcore::probe(a->data(), a->size()).kind, Kind::Module);
    EXPECT_EQ(qvcore::probe(b->data(), b->size()).kind, Kind::Vorbis);
}

TEST(CoreFileData, RefusesWhatIsNotAReadableFile) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(qvcore::FileData::open(nullptr));
    EXPECT_FALSE(qvcore::FileData::open(""));
    EXPECT_FALSE(qvcore::FileData::open((scratchDir() / "missing.ogg").c_str()));
    EXPECT_FALSE(qvcore::FileData::open(scratchDir().c_str())); // a directory
    const fs::path empty = scratchDir() / "empty.wav";
    writeFile(empty, {});
    EXPECT_FALSE(qvcore::FileData::open(empty.c_str()));
    const fs::path fifo = scratchDir() / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(qvcore::FileData::open(fifo.c_str())); // would block a plain read
    const fs::path unreadable = scratchDir() / "unreadable.wav";
    writeFile(unreadable, qvgen::wavTone(tone(0.1)));
    fs::permissions(unreadable, fs::perms::none);
    if (geteuid() != 0) // root reads anything
        EXPECT_FALSE(qvcore::FileData::open(unreadable.c_str()));
    std::string longPath = "/" + std::string(1022, 'a');
    EXPECT_EQ(longPath.size(), 1023u);
    EXPECT_FALSE(qvcore::FileData::open(longPath.c_str()));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(CoreFileData, ReadsSmallFilesWholeAndMapsLargeOnes) {
    const fs::path one = scratchDir() / "one";
    writeFile(one, {42});
    auto a = qvcore::FileData::open(one.c_str());
    ASSERT_TRUE(a);
    EXPECT_EQ(a->size(), 1u);
    EXPECT_EQ(a->data()[0], 42);
    EXPECT_EQ(qvcore::probe(a->data(), a->size()).kind, Kind::Unknown);

    // Just over the read-whole limit: a WAV whose data runs to the end.
    const fs::path big = scratchDir() / "big.wav";
    qvgen::WavSpec s = tone(0.5, 48000);
    Bytes wav = qvgen::wavTone(s);
    const size_t dataAt = qvgen::wavChunkOffset(wav, "data");
    ASSERT_NE(dataAt, static_cast<size_t>(-1));
    wav.resize(qvcore::readWholeLimit + 4096, 0);
    qvgen::patchLE32(wav, 4, static_cast<uint32_t>(wav.size() - 8));
    qvgen::patchLE32(wav, dataAt + 4, static_cast<uint32_t>(wav.size() - dataAt - 8));
    writeFile(big, wav);
    auto b = qvcore::FileData::open(big.c_str());
    ASSERT_TRUE(b);
    EXPECT_EQ(b->size(), wav.size());
    auto dec = qvcore::openStream(b);
    ASSERT_TRUE(dec);
    EXPECT_EQ(dec->lengthFrames(), (wav.size() - dataAt - 8) / 4);
    fs::remove(big);
    // The mapping stays valid after the file is gone.
    std::vector<float> buf(2 * 1000);
    dec->seekFrames(dec->lengthFrames() - 500);
    EXPECT_EQ(dec->render(buf.data(), 1000), 500u);
}

} // namespace

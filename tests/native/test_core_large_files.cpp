// Files too large to read whole at once are read by a thread of their own and decoded ahead of
// render: they play as the same bytes in memory would, and one that shrinks while it is read
// plays what it still had, then ends.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/native/core_media.h"

using namespace coretest;

namespace {

// Real frames only (the read-ahead gives silence while it waits, without moving on).
std::vector<float> playAll(qvcore::Decoder& d) {
    std::vector<float> out, block(2 * 4096);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::uint64_t before = d.positionFrames();
        const std::size_t n = d.render(block.data(), 4096);
        const std::size_t real = static_cast<std::size_t>(d.positionFrames() - before);
        out.insert(out.end(), block.begin(), block.begin() + 2 * real);
        if (n < 4096)
            break;
        if (real == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return out;
}

// Three minutes of 48 kHz stereo: 34.6 MB as 16-bit WAV.
qvgen::WavSpec longTone() {
    return tone(180.0, 48000, 440.0);
}

TEST(CoreLargeFile, PlaysAsTheSameBytesInMemory) {
    const fs::path wavPath = scratchDir() / "large.wav";
    writeFile(wavPath, qvgen::wavTone(longTone()));
    // FLAC is small: padding blocks (16 MB at most each) in front of the audio make it large.
    const fs::path flacPath = scratchDir() / "large.flac";
    const fs::path shortPath = scratchDir() / "short.wav";
    writeFile(shortPath, qvgen::wavTone(tone(10.0, 48000, 440.0)));
    const std::string pad = " --add-padding=16000000";
    ASSERT_EQ(std::system(("flac -s -f -o '" + flacPath.string() + "' '" + shortPath.string() +
                           "' && metaflac" + pad + pad + pad + " '" + flacPath.string() +
                           "' >/dev/null 2>&1")
                              .c_str()),
              0);
    for (const fs::path& path : {wavPath, flacPath}) {
        auto file = qvcore::FileData::open(path.c_str());
        ASSERT_TRUE(file) << path;
        ASSERT_GT(file->size(), qvcore::readWholeLimit) << path;
        const Bytes bytes = readFile(path);
        auto fromFile = qvcore::openStream(file);
        auto fromMemory = qvcore::openStream(fileOf(bytes));
        ASSERT_TRUE(fromFile && fromMemory) << path;
        EXPECT_EQ(fromFile->kind(), fromMemory->kind()) << path;
        EXPECT_EQ(fromFile->lengthFrames(), fromMemory->lengthFrames()) << path;
        const std::vector<float> a = playAll(*fromFile), b = renderAll(*fromMemory, ~0ull);
        ASSERT_EQ(a.size(), b.size()) << path;
        EXPECT_TRUE(a == b) << path;
        fs::remove(path);
    }
}

TEST(CoreLargeFile, ShrinkingWhileReadPlaysWhatWasThereThenEnds) {
    const Bytes wav = qvgen::wavTone(longTone());
    const fs::path path = scratchDir() / "shrinks.wav";
    writeFile(path, wav);
    auto file = qvcore::FileData::open(path.c_str());
    ASSERT_TRUE(file);
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(wav.size() / 10)), 0);
    auto d = qvcore::openStream(file);
    const std::vector<float> whole = renderAll(*qvcore::openStream(fileOf(wav)), ~0ull);
    if (d) {
        // However far the reading got before the file shrank: a true start of the tone.
        const std::vector<float> got = playAll(*d);
        ASSERT_LE(got.size(), whole.size());
        EXPECT_TRUE(std::equal(got.begin(), got.end(), whole.begin()));
        float block[2 * 64];
        EXPECT_LT(d->render(block, 64), 64u) << "ended";
    }
    fs::remove(path);
}

// Too large to hold: a sparse RF64 of more than 256 MB, its tone only in its last two seconds, is
// read through a window. Its length is exact, a seek to its end plays the tone, and once the file
// is cut short a seek past the cut ends the track.
TEST(CoreLargeFile, AnRf64TooLargeToHoldIsReadThroughAWindow) {
    const uint64_t frames = qvcore::holdWholeLimit / 4 + 48000 * 30, last = frames - 96000;
    const Bytes head = qvgen::rf64Header(48000, 2, frames);
    const Bytes tone440 = qvgen::wavTone(tone(2.0, 48000, 440.0));
    const size_t samples = qvgen::wavChunkOffset(tone440, "data") + 8;
    const fs::path path = scratchDir() / "huge.rf64";
    {
        std::ofstream f(path, std::ios::binary);
        f.write(reinterpret_cast<const char*>(head.data()), std::streamsize(head.size()));
        f.seekp(std::streamoff(head.size() + last * 4));
        f.write(reinterpret_cast<const char*>(tone440.data() + samples), 96000 * 4);
    }
    auto file = qvcore::FileData::open(path.c_str());
    ASSERT_TRUE(file);
    EXPECT_LT(file->loaded(), file->size());
    auto d = qvcore::openStream(file);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->lengthFrames(), frames);
    ASSERT_TRUE(d->seekFrames(last));
    const std::vector<float> end = playAll(*d);
    ASSERT_EQ(end.size(), 2 * 96000u);
    EXPECT_NEAR(qvgen::dominantFrequency(end.data(), 96000, 48000), 440.0, 1.0);

    fs::resize_file(path, file->size() / 2);
    ASSERT_TRUE(d->seekFrames(frames * 3 / 4));
    EXPECT_TRUE(playAll(*d).empty());
    fs::remove(path);
}

} // namespace

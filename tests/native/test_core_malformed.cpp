// Broken input of every format: refused or played to an end, promptly, within bounded memory.
#include <gtest/gtest.h>

#include <chrono>

#include "tests/native/core_media.h"

using namespace coretest;
using qvcore::ModuleEnd;
using qvgen::ModuleFormat;

namespace {

struct Sample {
    std::string name;
    Bytes bytes;
    size_t header; // bytes of fixed header
};

std::vector<Sample> samples() {
    std::vector<Sample> v;
    v.push_back({"wav", qvgen::wavTone(tone(1.0)), 44});
    v.push_back({"ogg", encode(Encoded::Ogg, tone(1.0)), 58});
    v.push_back({"mp3", encode(Encoded::Mp3, tone(1.0)), 4});
    v.push_back({"flac", encode(Encoded::Flac, tone(1.0)), 42});
    v.push_back({"opus", encode(Encoded::Opus, tone(1.0)), 47});
    for (ModuleFormat f : {ModuleFormat::Mod, ModuleFormat::S3m, ModuleFormat::Xm, ModuleFormat::It,
                           ModuleFormat::Mtm}) {
        v.push_back(
            {std::string(qvgen::moduleTypeName(f)), moduleBytes(f), qvgen::moduleHeaderSize(f)});
    }
    v.push_back({"umx", qvgen::umx(moduleBytes(ModuleFormat::Xm), ModuleFormat::Xm), 64});
    return v;
}

// Opens the bytes every way the libraries do and renders what opens; true if anything opened.
bool exercise(const Bytes& b) {
    auto file = fileOf(b);
    bool opened = false;
    std::vector<float> buf(2 * 4096);
    auto drive = [&](std::unique_ptr<qvcore::Decoder> d, bool mustEnd) {
        if (!d)
            return;
        opened = true;
        (void)d->lengthMs();
        (void)d->numOrders();
        // A stream plays to its end; a looping module is only sampled.
        const uint64_t limit = mustEnd ? d->lengthFrames() + 48000 * 5 : 48000 * 2;
        uint64_t done = 0;
        size_t n = 0;
        while (done < limit && (n = d->render(buf.data(), 4096)) > 0)
            done += n;
        if (mustEnd)
            EXPECT_LT(done, limit) << "did not end";
        d->seekMs(d->lengthMs() / 2);
        d->render(buf.data(), 4096);
        d->setOrderRow(1, 0);
        d->render(buf.data(), 4096);
    };
    drive(qvcore::openStream(file), true);
    drive(qvcore::openModule(file, ModuleEnd::Stop), true);
    drive(qvcore::openModule(file, ModuleEnd::Loop), false);
    return opened;
}

TEST(CoreMalformed, TruncatedFilesOpenNoneOrEnd) {
    for (const Sample& s : samples()) {
        ASSERT_FALSE(s.bytes.empty()) << s.name;
        for (size_t n : {size_t{0}, size_t{1}, size_t{3}, size_t{12}, s.header, s.header + 1,
                         s.bytes.size() / 3, s.bytes.size() / 2, s.bytes.size() - 1}) {
            const auto t0 = std::chrono::steady_clock::now();
            const bool opened = exercise(qvgen::truncated(s.bytes, n));
            if (n < 4)
                EXPECT_FALSE(opened) << s.name << " " << n;
            EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10))
                << s.name << " cut to " << n;
        }
    }
}

TEST(CoreMalformed, GarbageAfterAValidHeader) {
    for (const Sample& s : samples()) {
        for (size_t keep : {s.header, s.header + 100, s.bytes.size() / 4}) {
            for (uint32_t seed : {1u, 2u}) {
                const auto t0 = std::chrono::steady_clock::now();
                exercise(qvgen::withGarbageAfter(s.bytes, keep, seed));
                EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10))
                    << s.name << " garbage after " << keep;
            }
        }
    }
}

TEST(CoreMalformed, FlippedBytesEverywhere) {
    // Each file with a run of its bytes inverted at a spread of places.
    for (const Sample& s : samples()) {
        for (int k = 1; k < 16; ++k) {
            Bytes b = s.bytes;
            const size_t at = b.size() * static_cast<size_t>(k) / 16;
            for (size_t i = at; i < std::min(b.size(), at + 8); ++i)
                b[i] = static_cast<uint8_t>(~b[i]);
            exercise(b);
        }
    }
}

TEST(CoreMalformed, WavChunkSizesThatLie) {
    const Bytes wav = qvgen::wavTone(tone(0.5, 8000));
    const size_t fmt = qvgen::wavChunkOffset(wav, "fmt ");
    const size_t data = qvgen::wavChunkOffset(wav, "data");
    for (uint32_t v : {0u, 1u, 15u, 17u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        Bytes a = wav;
        qvgen::patchLE32(a, fmt + 4, v);
        exercise(a);
        Bytes b = wav;
        qvgen::patchLE32(b, data + 4, v);
        exercise(b);
        Bytes c = wav;
        qvgen::patchLE32(c, 4, v);
        exercise(c);
    }
    // A data size of 0 holds no frame: refused.
    Bytes z = wav;
    qvgen::patchLE32(z, data + 4, 0);
    EXPECT_FALSE(qvcore::openStream(fileOf(z)));
    // Block align that disagrees with the sample size and channels, which say it all: those win.
    Bytes ba = wav;
    ba[fmt + 8 + 12] = 3;
    auto d = qvcore::openStream(fileOf(ba));
    ASSERT_TRUE(d);
    EXPECT_EQ(renderAll(*d).size() / 2, 4000u);
}

TEST(CoreMalformed, GarbageAndEmptyBuffers) {
    for (size_t n : {size_t{0}, size_t{1}, size_t{2}, size_t{100}, size_t{4096}, size_t{1 << 20}}) {
        EXPECT_FALSE(exercise(qvgen::garbage(n, static_cast<uint32_t>(n)))) << n;
        EXPECT_FALSE(exercise(Bytes(n, 0))) << n;
    }
}

} // namespace

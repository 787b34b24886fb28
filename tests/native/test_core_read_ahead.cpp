// The system formats' containers are recognised by content; the read-ahead decoder plays what a
// blocking source gives, in order, with exact seeks, and render never waits for the source.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "qvcore/mixer.h"
#include "qvcore/read_ahead.h"
#include "tests/native/core_media.h"

using namespace coretest;
using qvcore::SystemFormat;

namespace {

Bytes adtsFrames(int count, std::size_t length = 200) {
    Bytes out;
    for (int i = 0; i < count; ++i) {
        Bytes frame(length, 0x21);
        frame[0] = 0xFF;
        frame[1] = 0xF1; // MPEG-4, layer 0, no CRC
        frame[2] = 0x50; // AAC LC, 44.1 kHz
        frame[3] = 0x80 | static_cast<std::uint8_t>(length >> 11);
        frame[4] = static_cast<std::uint8_t>(length >> 3);
        frame[5] = static_cast<std::uint8_t>((length & 7) << 5) | 0x1F;
        out.insert(out.end(), frame.begin(), frame.end());
    }
    return out;
}

TEST(SystemFormats, ByContent) {
    Bytes ftyp = {0, 0, 0, 0x20, 'f', 't', 'y', 'p', 'M', '4', 'A', ' '};
    ftyp.resize(64, 0);
    Bytes asf = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    asf.resize(64, 0);
    Bytes tagged = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 20};
    tagged.resize(30, 0);
    const Bytes four = adtsFrames(4);
    tagged.insert(tagged.end(), four.begin(), four.end());
    Bytes otherRate = adtsFrames(4);
    otherRate[200 + 2] = 0x54; // the second frame at 32 kHz
    Bytes oneAndGarbage = adtsFrames(1);
    const Bytes g = qvgen::garbage(4096, 5);
    oneAndGarbage.insert(oneAndGarbage.end(), g.begin(), g.end());

    const struct {
        const char* name;
        Bytes bytes;
        SystemFormat want;
    } cases[] = {
        {"ftyp box", ftyp, SystemFormat::Mp4},
        {"ASF header", asf, SystemFormat::Asf},
        {"four ADTS frames", four, SystemFormat::Adts},
        {"three ADTS frames to the end", adtsFrames(3), SystemFormat::Adts},
        {"ADTS after an ID3v2 tag", tagged, SystemFormat::Adts},
        {"two ADTS frames to the end", adtsFrames(2), SystemFormat::None},
        {"ADTS frames that change rate", otherRate, SystemFormat::None},
        {"one ADTS frame, then garbage", oneAndGarbage, SystemFormat::None},
        {"MP3", encode(Encoded::Mp3, tone()), SystemFormat::None},
        {"Ogg", encode(Encoded::Ogg, tone()), SystemFormat::None},
        {"module", moduleBytes(qvgen::ModuleFormat::Xm), SystemFormat::None},
        {"garbage", qvgen::garbage(100000, 9), SystemFormat::None},
        {"too short", Bytes(ftyp.begin(), ftyp.begin() + 12), SystemFormat::None},
    };
    for (const auto& c : cases)
        EXPECT_EQ(qvcore::systemFormat(c.bytes.data(), c.bytes.size()), c.want) << c.name;
}

// Whole containers that the system refuses mean it has no decoder; damaged ones are just bad.
TEST(SystemFormats, IntactContainers) {
    auto box = [](const char* type, std::uint32_t length) {
        Bytes b = {static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
                   static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
        b.insert(b.end(), type, type + 4);
        b.resize(std::max<std::size_t>(length, 8), 0);
        return b;
    };
    auto join = [](std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& p : parts)
            all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    const Bytes whole = join({box("ftyp", 28), box("moov", 40), box("mdat", 100)});
    Bytes open = join({box("ftyp", 28), box("moov", 40), box("mdat", 0)});
    open.resize(open.size() + 50, 0x55); // a last box that runs to the end of the file
    Bytes asf(64, 0);
    asf[16] = 40; // the header object's size
    Bytes longAsf = asf;
    longAsf[17] = 1;
    const struct {
        const char* name;
        Bytes bytes;
        SystemFormat format;
        bool intact, indexWhole;
    } cases[] = {
        {"ftyp, moov, mdat", whole, SystemFormat::Mp4, true, true},
        {"a last box of size 0", open, SystemFormat::Mp4, true, true},
        {"cut inside mdat", Bytes(whole.begin(), whole.end() - 10), SystemFormat::Mp4, false, true},
        {"cut inside moov", Bytes(whole.begin(), whole.begin() + 50), SystemFormat::Mp4, false,
         false},
        {"no moov", join({box("ftyp", 28), box("mdat", 100)}), SystemFormat::Mp4, false, false},
        {"garbage after ftyp", join({box("ftyp", 28), qvgen::garbage(200, 3)}), SystemFormat::Mp4,
         false, false},
        {"ASF header that fits", asf, SystemFormat::Asf, true, true},
        {"ASF header longer than the file", longAsf, SystemFormat::Asf, false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(qvcore::systemContainerIntact(c.bytes.data(), c.bytes.size(), c.format), c.intact)
            << c.name;
        EXPECT_EQ(qvcore::systemIndexWhole(c.bytes.data(), c.bytes.size(), c.format), c.indexWhole)
            << c.name;
    }
}

// A ramp: frame f holds the value f on both sides. It may be slow, stop short of the length it
// announces, refuse seeks to some frames, or hang in a seek.
struct Ramp {
    std::uint64_t length = 30000; // announced
    std::uint64_t gives = 0;      // frames it really has (0: all of them)
    int readDelayMs = 0;
    std::uint64_t refuseSeekTo = ~0ull;
    std::uint64_t hangSeekTo = ~0ull;
    int hangMs = 0;
};

class RampSource final : public qvcore::PcmSource {
public:
    explicit RampSource(const Ramp& r) : r_(r), end_(r.gives ? r.gives : r.length) {}
    std::size_t read(float* out, std::size_t frames) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(r_.readDelayMs));
        std::size_t n = 0;
        for (; n < frames && at_ < end_; ++n, ++at_)
            out[2 * n] = out[2 * n + 1] = static_cast<float>(at_);
        return n;
    }
    bool seek(std::uint64_t frame) override {
        if (frame == r_.hangSeekTo)
            std::this_thread::sleep_for(std::chrono::milliseconds(r_.hangMs));
        if (frame == r_.refuseSeekTo) {
            at_ = 777; // a failed seek may leave the source anywhere
            return false;
        }
        at_ = frame;
        return frame <= end_;
    }

private:
    Ramp r_;
    std::uint64_t end_, at_ = 0;
};

std::unique_ptr<qvcore::Decoder> openRamp(const Ramp& r, std::thread::id* thread = nullptr) {
    return qvcore::openReadAhead([=](qvcore::PcmSourceInfo& info) {
        if (thread)
            *thread = std::this_thread::get_id();
        info.rate = 8000;
        info.lengthFrames = r.length;
        return std::make_unique<RampSource>(r);
    });
}

std::unique_ptr<qvcore::Decoder> openRamp(std::uint64_t length, int delayMs = 0,
                                          std::thread::id* thread = nullptr) {
    Ramp r;
    r.length = length;
    r.readDelayMs = delayMs;
    return openRamp(r, thread);
}

// Renders until `frames` real frames came or the source ended; returns the left channel.
std::vector<float> renderAll(qvcore::Decoder& d, std::size_t frames) {
    std::vector<float> out, block(2 * 256);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (out.size() < frames && std::chrono::steady_clock::now() < deadline) {
        const std::uint64_t before = d.positionFrames();
        const std::size_t n = d.render(block.data(), 256);
        const std::uint64_t real = d.positionFrames() - before;
        for (std::size_t i = 0; i < real; ++i)
            out.push_back(block[2 * i]);
        if (n < 256)
            break;
        if (real == 0) // silence while the source is behind: in real time, as a device would
            std::this_thread::sleep_for(std::chrono::milliseconds(256 * 1000 / 8000));
    }
    return out;
}

TEST(ReadAhead, PlaysInOrderToTheEndAndSeeksExactly) {
    std::thread::id sourceThread;
    auto d = openRamp(30000, 0, &sourceThread);
    ASSERT_TRUE(d);
    EXPECT_NE(sourceThread, std::this_thread::get_id());
    EXPECT_EQ(d->sampleRate(), 8000u);
    EXPECT_EQ(d->lengthMs(), 3750u);

    std::vector<float> all = renderAll(*d, 40000);
    ASSERT_EQ(all.size(), 30000u);
    for (std::size_t i = 0; i < all.size(); ++i)
        ASSERT_EQ(all[i], static_cast<float>(i)) << i;
    float block[2 * 16];
    EXPECT_EQ(d->render(block, 16), 0u) << "ended";

    for (std::uint64_t to : {0ull, 12345ull, 29999ull, 0ull}) {
        ASSERT_TRUE(d->seekFrames(to));
        EXPECT_EQ(d->positionFrames(), to);
        ASSERT_EQ(d->render(block, 1), 1u);
        EXPECT_EQ(block[0], static_cast<float>(to)) << "after a seek to " << to;
    }
    // A seek past the end parks there.
    ASSERT_TRUE(d->seekFrames(99999));
    EXPECT_EQ(d->positionFrames(), 30000u);
    EXPECT_EQ(d->render(block, 16), 0u);
}

TEST(ReadAhead, RenderNeverWaitsForASlowSourceAndCloseDoesNotHang) {
    auto d = openRamp(1000000, 300); // 4096 frames take 300 ms: slower than real time
    ASSERT_TRUE(d);
    std::vector<float> block(2 * 8000);
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(d->render(block.data(), 8000), 8000u) << "silence, not an end";
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(150));
    EXPECT_LT(d->positionFrames(), 8000u) << "the position waits for real audio";
    EXPECT_EQ(block[2 * 7999], 0.0f);
    d.reset();
    EXPECT_FALSE(qvcore::openReadAhead([](qvcore::PcmSourceInfo&) { return nullptr; }));
}

using Seconds = std::chrono::duration<double>;

template <class Body> double secondsOf(Body body) {
    const auto t0 = std::chrono::steady_clock::now();
    body();
    return Seconds(std::chrono::steady_clock::now() - t0).count();
}

// A seek the source refuses or does not answer in time leaves playback where it was, and the
// caller is never held much past the bound.
TEST(ReadAhead, FailedSeekLeavesPlaybackAsItWas) {
    const struct {
        const char* name;
        Ramp ramp;
        std::uint64_t to;
    } cases[] = {
        {"refused", {30000, 0, 0, 20000, ~0ull, 0}, 20000},
        {"hangs for 5 s", {30000, 0, 0, ~0ull, 20000, 5000}, 20000},
    };
    for (const auto& c : cases) {
        auto d = openRamp(c.ramp);
        ASSERT_TRUE(d) << c.name;
        const std::size_t played = renderAll(*d, 1024).size();
        ASSERT_EQ(played, 1024u) << c.name;
        bool ok = true;
        EXPECT_LT(secondsOf([&] { ok = d->seekFrames(c.to); }), 2.0) << c.name;
        EXPECT_FALSE(ok) << c.name;
        EXPECT_EQ(d->positionFrames(), played) << c.name;
        std::vector<float> rest = renderAll(*d, 40000);
        ASSERT_EQ(rest.size(), 30000u - played) << c.name;
        for (std::size_t i = 0; i < rest.size(); ++i)
            ASSERT_EQ(rest[i], static_cast<float>(played + i)) << c.name << " at " << i;
        EXPECT_LT(secondsOf([&] { d.reset(); }), 1.0) << c.name << ": close";
    }
}

// A source that stops before the length it announced ends the stream there; in a mixer the
// channel ends, and its time reaches the announced length so that a player moves on.
TEST(ReadAhead, SourceEndingEarlyEndsTheStream) {
    Ramp r;
    r.gives = 12000;
    auto d = openRamp(r);
    ASSERT_TRUE(d);
    EXPECT_EQ(renderAll(*d, 40000).size(), 12000u);
    float block[2 * 16];
    EXPECT_EQ(d->render(block, 16), 0u);
    EXPECT_EQ(d->lengthFrames(), 12000u);
    ASSERT_TRUE(d->seekFrames(11990));
    EXPECT_EQ(renderAll(*d, 100).size(), 10u) << "a seek back plays to the real end";

    qvcore::Mixer mixer(8000, 256);
    const auto ch = mixer.add(openRamp(r));
    ASSERT_NE(ch, 0u);
    const std::uint64_t announced = mixer.lengthMs(ch);
    ASSERT_TRUE(mixer.play(ch, true));
    std::vector<float> out(2 * 256);
    for (int i = 0; i < 2000 && mixer.state(ch) == qvcore::ChannelState::Playing; ++i) {
        mixer.render(out.data(), 256);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    EXPECT_EQ(mixer.state(ch), qvcore::ChannelState::Ended);
    EXPECT_EQ(mixer.positionMs(ch), announced);
    EXPECT_TRUE(mixer.seekMs(ch, 0)) << "and it loops";
    EXPECT_EQ(mixer.state(ch), qvcore::ChannelState::Playing);
}

// Sources that block: neither the open nor the close holds its caller much past its bound,
// and a source that gives nothing for long while played ends the stream instead of stalling.
TEST(ReadAhead, BlockingSourceNeverHoldsTheCaller) {
    std::unique_ptr<qvcore::Decoder> d;
    const double open = secondsOf([&] {
        d = qvcore::openReadAhead([](qvcore::PcmSourceInfo& info) {
            std::this_thread::sleep_for(std::chrono::seconds(5));
            info.rate = 8000;
            return std::make_unique<RampSource>(Ramp{});
        });
    });
    EXPECT_FALSE(d);
    EXPECT_LT(open, 4.0);

    Ramp stuck;
    stuck.length = 10000000;
    stuck.readDelayMs = 5000;
    d = openRamp(stuck); // the first chunk takes 5 s too
    ASSERT_FALSE(d);
    stuck.readDelayMs = 0;
    stuck.hangSeekTo = 5000;
    stuck.hangMs = 5000;
    d = openRamp(stuck);
    ASSERT_TRUE(d);
    EXPECT_FALSE(d->seekFrames(5000));
    EXPECT_LT(secondsOf([&] { d.reset(); }), 1.0) << "close while the source hangs in a seek";
}

} // namespace

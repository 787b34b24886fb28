// What each player makes heard: pitch and level, pause, volume, and what happens at the end.
#include <gtest/gtest.h>

#include <cmath>

#include "audio/bass23.h"
#include "audio/fmod3.h"
#include "tests/device/device_fixture.h"

namespace {

using namespace qvtest;

constexpr double silentDb = -60.0;
constexpr double toneHz = 440.0;
constexpr int settleMs = 300; // output latency plus the device's buffers

double sineDb(double amplitude) {
    return 20.0 * std::log10(amplitude) - 3.0103;
}

void expectTone(const Heard& h, double frequency, double levelDb) {
    EXPECT_NEAR(h.frequency, frequency, 0.03 * frequency);
    EXPECT_NEAR(h.toneDb, levelDb, 3.0);
    // Nothing but the tone: no gaps, clicks or wrapped samples.
    EXPECT_LT(h.rmsDb - h.toneDb, 1.0);
}

std::string toneWav(const char* name, double seconds) {
    qvgen::WavSpec spec;
    spec.frequency = toneHz;
    spec.amplitude = 0.5;
    spec.seconds = seconds;
    spec.rate = 48000;
    return writeTemp(name, qvgen::wavTone(spec));
}

// A module that holds its tone for a minute, or one that ends after 1.92 s (two orders).
qvgen::ModuleSpec longModule(qvgen::ModuleFormat format) {
    qvgen::ModuleSpec spec;
    spec.format = format;
    spec.orders = 8;
    return spec;
}

qvgen::ModuleSpec shortModule(qvgen::ModuleFormat format) {
    qvgen::ModuleSpec spec;
    spec.format = format;
    spec.orders = 2;
    spec.rows = 16;
    spec.speed = 3;
    return spec;
}

struct StreamPlay {
    FSOUND_STREAM* stream;
    explicit StreamPlay(const std::string& path)
        : stream(FSOUND_Stream_Open(path.c_str(), FSOUND_NORMAL | FSOUND_MPEGACCURATE, 0, 0)) {
        EXPECT_NE(stream, nullptr);
        EXPECT_GE(FSOUND_Stream_Play(FSOUND_FREE, stream), 0);
        FSOUND_SetVolume(FSOUND_ALL, 255);
    }
    ~StreamPlay() {
        FSOUND_Stream_Stop(stream);
        FSOUND_Stream_Close(stream);
    }
};

struct ModulePlay {
    FMUSIC_MODULE* mod;
    explicit ModulePlay(const std::string& path) : mod(FMUSIC_LoadSong(path.c_str())) {
        EXPECT_NE(mod, nullptr);
        FMUSIC_SetMasterVolume(mod, 255);
        EXPECT_TRUE(FMUSIC_PlaySong(mod));
    }
    ~ModulePlay() { FMUSIC_StopSong(mod); }
};

struct MusicPlay {
    HMUSIC music;
    explicit MusicPlay(const std::string& path)
        : music(BASS_MusicLoad(FALSE, path.c_str(), 0, 0, 0x2B200, 0)) {
        EXPECT_NE(music, 0u);
        BASS_Start();
        BASS_SetVolume(255);
        EXPECT_TRUE(BASS_ChannelPlay(music, FALSE));
    }
    ~MusicPlay() { BASS_ChannelStop(music); }
};

TEST(FmodStream, PlaysAToneAtItsPitchAndLevel) {
    StreamPlay play(toneWav("tone.wav", 5));
    sleepMs(settleMs);
    expectTone(listen(1.0, toneHz), toneHz, sineDb(0.5));
}

TEST(FmodStream, PauseGivesSilenceAndResumeGoesOnFromThere) {
    StreamPlay play(toneWav("tone.wav", 8));
    sleepMs(settleMs);
    ASSERT_TRUE(FSOUND_SetPaused(FSOUND_ALL, TRUE));
    sleepMs(settleMs);
    const int pausedAt = FSOUND_Stream_GetTime(play.stream);
    EXPECT_LT(listen(0.6, toneHz).rmsDb, silentDb);
    EXPECT_EQ(FSOUND_Stream_GetTime(play.stream), pausedAt);

    ASSERT_TRUE(FSOUND_SetPaused(FSOUND_ALL, FALSE));
    sleepMs(settleMs);
    expectTone(listen(0.6, toneHz), toneHz, sineDb(0.5));
    const int later = FSOUND_Stream_GetTime(play.stream);
    EXPECT_GT(later, pausedAt + 700);
    EXPECT_LT(later, pausedAt + 2000);
}

TEST(FmodStream, Volume64IsTwelveDecibelsBelow255) {
    StreamPlay play(toneWav("tone.wav", 8));
    sleepMs(settleMs);
    const double full = listen(0.8, toneHz).toneDb;
    FSOUND_SetVolume(FSOUND_ALL, 64);
    sleepMs(settleMs);
    const double quarter = listen(0.8, toneHz).toneDb;
    EXPECT_NEAR(full - quarter, 20.0 * std::log10(255.0 / 64.0), 3.0);
}

TEST(FmodStream, SetBackToZeroAfterItsEndPlaysAgain) {
    StreamPlay play(toneWav("short.wav", 1.0));
    EXPECT_EQ(FSOUND_Stream_GetLengthMs(play.stream), 1000);
    sleepMs(1600);
    EXPECT_GE(FSOUND_Stream_GetTime(play.stream), 950);
    EXPECT_LT(listen(0.4, toneHz).rmsDb, silentDb);

    ASSERT_TRUE(FSOUND_Stream_SetTime(play.stream, 0));
    sleepMs(150);
    expectTone(listen(0.5, toneHz), toneHz, sineDb(0.5));
    const int t = FSOUND_Stream_GetTime(play.stream);
    EXPECT_GT(t, 300);
    EXPECT_LE(t, 1000);
}

TEST(FmodModule, PlaysAtItsPitchAndLevel) {
    const qvgen::ModuleSpec spec = longModule(qvgen::ModuleFormat::Xm);
    const qvgen::Bytes bytes = qvgen::module(spec);
    const double hz = qvgen::moduleFrequency(spec);
    ModulePlay play(writeTemp("long.xm", bytes));
    sleepMs(settleMs);
    expectTone(listen(1.0, hz), hz, moduleReferenceDb(bytes, hz));
}

TEST(FmodModule, PauseVolumeAndResume) {
    const qvgen::ModuleSpec spec = longModule(qvgen::ModuleFormat::S3m);
    const double hz = qvgen::moduleFrequency(spec);
    ModulePlay play(writeTemp("long.s3m", qvgen::module(spec)));
    sleepMs(settleMs);
    const double full = listen(0.8, hz).toneDb;

    ASSERT_TRUE(FMUSIC_SetPaused(play.mod, TRUE));
    sleepMs(settleMs);
    EXPECT_LT(listen(0.5, hz).rmsDb, silentDb);

    ASSERT_TRUE(FMUSIC_SetMasterVolume(play.mod, 64));
    ASSERT_TRUE(FMUSIC_SetPaused(play.mod, FALSE));
    sleepMs(settleMs);
    const Heard quarter = listen(0.8, hz);
    EXPECT_NEAR(quarter.frequency, hz, 0.03 * hz);
    EXPECT_NEAR(full - quarter.toneDb, 20.0 * std::log10(255.0 / 64.0), 3.0);
}

TEST(FmodModule, PlaysPastItsEndFromItsStart) {
    const qvgen::ModuleSpec spec = shortModule(qvgen::ModuleFormat::Mod);
    const double hz = qvgen::moduleFrequency(spec);
    ModulePlay play(writeTemp("short.mod", qvgen::module(spec)));
    ASSERT_EQ(FMUSIC_GetNumOrders(play.mod), 2);
    sleepMs(1300); // 1.92 s in all, order 1 from 0.96 s
    EXPECT_EQ(FMUSIC_GetOrder(play.mod), 1);
    sleepMs(1100); // past the end: the second pass is in order 0
    EXPECT_EQ(FMUSIC_GetOrder(play.mod), 0);
    expectTone(listen(0.4, hz), hz, moduleReferenceDb(qvgen::module(spec), hz));
}

TEST(BassModule, PlaysAtItsPitchAndLevel) {
    // MTM: a type only this player takes.
    qvgen::ModuleSpec spec = longModule(qvgen::ModuleFormat::Mtm);
    const qvgen::Bytes bytes = qvgen::module(spec);
    const double hz = qvgen::moduleFrequency(spec);
    MusicPlay play(writeTemp("long.mtm", bytes));
    sleepMs(settleMs);
    expectTone(listen(1.0, hz), hz, moduleReferenceDb(bytes, hz));
}

TEST(BassModule, PauseAndOutputVolumeActOnTheWholeOutput) {
    const qvgen::ModuleSpec spec = longModule(qvgen::ModuleFormat::It);
    const double hz = qvgen::moduleFrequency(spec);
    MusicPlay play(writeTemp("long.it", qvgen::module(spec)));
    sleepMs(settleMs);
    const double full = listen(0.8, hz).toneDb;

    ASSERT_TRUE(BASS_Pause());
    sleepMs(settleMs);
    const DWORD pausedAt = BASS_MusicGetOrderPosition(play.music);
    EXPECT_LT(listen(0.5, hz).rmsDb, silentDb);
    EXPECT_NE(BASS_ChannelIsActive(play.music), 0u);
    EXPECT_EQ(BASS_MusicGetOrderPosition(play.music), pausedAt);

    ASSERT_TRUE(BASS_SetVolume(64));
    EXPECT_EQ(BASS_GetVolume(), 64u);
    ASSERT_TRUE(BASS_Start());
    sleepMs(settleMs);
    const Heard quarter = listen(0.8, hz);
    EXPECT_NEAR(quarter.frequency, hz, 0.03 * hz);
    EXPECT_NEAR(full - quarter.toneDb, 20.0 * std::log10(255.0 / 64.0), 3.0);
}

TEST(BassModule, StopsAtItsEndReportsInactiveAndRestarts) {
    const qvgen::ModuleSpec spec = shortModule(qvgen::ModuleFormat::Mod);
    const double hz = qvgen::moduleFrequency(spec);
    MusicPlay play(writeTemp("short.mod", qvgen::module(spec)));
    sleepMs(1300);
    EXPECT_EQ(BASS_ChannelIsActive(play.music), static_cast<DWORD>(BASS_ACTIVE_PLAYING));
    EXPECT_EQ(BASS_MusicGetOrderPosition(play.music) & 0xFFFF, 1u);
    sleepMs(1100);
    EXPECT_EQ(BASS_ChannelIsActive(play.music), static_cast<DWORD>(BASS_ACTIVE_STOPPED));
    EXPECT_LT(listen(0.4, hz).rmsDb, silentDb);

    ASSERT_TRUE(BASS_ChannelPlay(play.music, TRUE));
    sleepMs(settleMs);
    EXPECT_EQ(BASS_ChannelIsActive(play.music), static_cast<DWORD>(BASS_ACTIVE_PLAYING));
    EXPECT_EQ(BASS_MusicGetOrderPosition(play.music) & 0xFFFF, 0u);
    expectTone(listen(0.4, hz), hz, moduleReferenceDb(qvgen::module(spec), hz));
}

} // namespace

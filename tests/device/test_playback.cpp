// What each player makes heard: pitch and level, pause, volume, and what happens at the end.
#include <gtest/gtest.h>

#include <cmath>

#include "bass23.h"
#include "fmod3.h"
#include "tests/device/device_fixture.h"

namespace {

using namespace qvtest;

constexpr double silentDb = -60.0;
constexpr double toneHz = 440.0;
constexpr int settleMs = 300; // output latency plus the device's buffers

// Polls `done` for up to `timeoutMs`.
template <class F> bool waitFor(F done, int timeoutMs = 4000) {
    for (int waited = 0; waited < timeoutMs; waited += 20) {
        if (done())
            return true;
        sleepMs(20);
    }
    return done();
}

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
    qvgen::WavSpec params;
    params.frequency = toneHz;
    params.amplitude = 0.5;
    params.seconds = seconds;
    params.rate = 48000;
    return writeTemp(name, qvgen::wavTone(params));
}

// A module that holds its tone for a minute, or one that ends after 1.92 s (two orders).
qvgen::ModuleSpec longModule(qvgen::ModuleFormat format) {
    qvgen::ModuleSpec params;
    params.format = format;
    params.orders = 8;
    return params;
}

qvgen::ModuleSpec shortModule(qvgen::ModuleFormat format) {
    qvgen::ModuleSpec params;
    params.format = format;
    params.orders = 2;
    params.rows = 16;
    params.speed = 3;
    return params;
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
    StreamPlay play(toneWav("tone.wav", 8));
    ASSERT_TRUE(waitUntilHeard(toneHz));
    expectTone(listen(1.0, toneHz), toneHz, sineDb(0.5));
}

TEST(FmodStream, PauseGivesSilenceAndResumeGoesOnFromThere) {
    StreamPlay play(toneWav("tone.wav", 10));
    ASSERT_TRUE(waitUntilHeard(toneHz));
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
    StreamPlay play(toneWav("tone.wav", 10));
    ASSERT_TRUE(waitUntilHeard(toneHz));
    const double full = listen(0.8, toneHz).toneDb;
    FSOUND_SetVolume(FSOUND_ALL, 64);
    sleepMs(settleMs);
    const double quarter = listen(0.8, toneHz).toneDb;
    EXPECT_NEAR(full - quarter, 20.0 * std::log10(255.0 / 64.0), 3.0);
}

TEST(FmodStream, SetBackToZeroAfterItsEndPlaysAgain) {
    StreamPlay play(toneWav("short.wav", 1.0));
    EXPECT_EQ(FSOUND_Stream_GetLengthMs(play.stream), 1000);
    ASSERT_TRUE(waitFor([&] { return FSOUND_Stream_GetTime(play.stream) >= 950; }));
    ASSERT_TRUE(waitUntilSilent(toneHz));
    EXPECT_GE(FSOUND_Stream_GetTime(play.stream), 950);

    ASSERT_TRUE(FSOUND_Stream_SetTime(play.stream, 0));
    const int at = FSOUND_Stream_GetTime(play.stream);
    EXPECT_LT(at, 100);
    ASSERT_TRUE(waitUntilHeard(toneHz, 900));
    const int t = FSOUND_Stream_GetTime(play.stream);
    EXPECT_GT(t, at);
    EXPECT_LE(t, 1000);
}

TEST(FmodModule, PlaysAtItsPitchAndLevel) {
    const qvgen::ModuleSpec params = longModule(qvgen::ModuleFormat::Xm);
    const qvgen::Bytes bytes = qvgen::module(params);
    const double hz = qvgen::moduleFrequency(params);
    ModulePlay play(writeTemp("long.xm", bytes));
    ASSERT_TRUE(waitUntilHeard(hz));
    expectTone(listen(1.0, hz), hz, moduleReferenceDb(bytes, hz));
}

TEST(FmodModule, PauseVolumeAndResume) {
    const qvgen::ModuleSpec params = longModule(qvgen::ModuleFormat::S3m);
    const double hz = qvgen::moduleFrequency(params);
    ModulePlay play(writeTemp("long.s3m", qvgen::module(params)));
    ASSERT_TRUE(waitUntilHeard(hz));
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
    const qvgen::ModuleSpec params = shortModule(qvgen::ModuleFormat::Mod);
    const double hz = qvgen::moduleFrequency(params);
    ModulePlay play(writeTemp("short.mod", qvgen::module(params)));
    ASSERT_EQ(FMUSIC_GetNumOrders(play.mod), 2);
    // 1.92 s in all, order 1 from 0.96 s; then order 0 of the next pass.
    ASSERT_TRUE(waitFor([&] { return FMUSIC_GetOrder(play.mod) == 1; }));
    ASSERT_TRUE(waitFor([&] { return FMUSIC_GetOrder(play.mod) == 0; }));
    expectTone(listen(0.4, hz), hz, moduleReferenceDb(qvgen::module(params), hz));
}

TEST(BassModule, PlaysAtItsPitchAndLevel) {
    // MTM: a type only this player takes.
    qvgen::ModuleSpec params = longModule(qvgen::ModuleFormat::Mtm);
    const qvgen::Bytes bytes = qvgen::module(params);
    const double hz = qvgen::moduleFrequency(params);
    MusicPlay play(writeTemp("long.mtm", bytes));
    ASSERT_TRUE(waitUntilHeard(hz));
    expectTone(listen(1.0, hz), hz, moduleReferenceDb(bytes, hz));
}

TEST(BassModule, PauseAndOutputVolumeActOnTheWholeOutput) {
    const qvgen::ModuleSpec params = longModule(qvgen::ModuleFormat::It);
    const double hz = qvgen::moduleFrequency(params);
    MusicPlay play(writeTemp("long.it", qvgen::module(params)));
    ASSERT_TRUE(waitUntilHeard(hz));
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
    const qvgen::ModuleSpec params = shortModule(qvgen::ModuleFormat::Mod);
    const double hz = qvgen::moduleFrequency(params);
    MusicPlay play(writeTemp("short.mod", qvgen::module(params)));
    ASSERT_TRUE(waitFor([&] { return (BASS_MusicGetOrderPosition(play.music) & 0xFFFF) == 1; }));
    EXPECT_EQ(BASS_ChannelIsActive(play.music), static_cast<DWORD>(BASS_ACTIVE_PLAYING));
    ASSERT_TRUE(waitFor([&] { return BASS_ChannelIsActive(play.music) == BASS_ACTIVE_STOPPED; }));
    EXPECT_TRUE(waitUntilSilent(hz));
    sleepMs(500);
    EXPECT_EQ(BASS_ChannelIsActive(play.music), static_cast<DWORD>(BASS_ACTIVE_STOPPED));
    EXPECT_LT(listen(0.4, hz).rmsDb, silentDb);

    ASSERT_TRUE(BASS_ChannelPlay(play.music, TRUE));
    EXPECT_EQ(BASS_ChannelIsActive(play.music), static_cast<DWORD>(BASS_ACTIVE_PLAYING));
    EXPECT_EQ(BASS_MusicGetOrderPosition(play.music) & 0xFFFF, 0u);
    ASSERT_TRUE(waitUntilHeard(hz));
    expectTone(listen(0.4, hz), hz, moduleReferenceDb(qvgen::module(params), hz));
}

// A volume below 0 reaches BASS as a DWORD with its top bit set; both libraries must take it as
// silence, not as a value above the maximum.
TEST(Volume, NegativeValuesAreSilenceInEveryVolumeCall) {
    const auto silentAt = [](double hz, const auto& setVolume) {
        for (int v : {-1, -300}) {
            setVolume(v);
            sleepMs(settleMs);
            EXPECT_LT(listen(0.5, hz).rmsDb, silentDb) << "volume " << v;
        }
    };
    {
        StreamPlay play(toneWav("tone.wav", 10));
        ASSERT_TRUE(waitUntilHeard(toneHz));
        silentAt(toneHz, [](int v) { FSOUND_SetVolume(FSOUND_ALL, v); });
    }
    const qvgen::ModuleSpec params = longModule(qvgen::ModuleFormat::Xm);
    const double hz = qvgen::moduleFrequency(params);
    const std::string path = writeTemp("long.xm", qvgen::module(params));
    {
        ModulePlay play(path);
        ASSERT_TRUE(waitUntilHeard(hz));
        silentAt(hz, [&](int v) { FMUSIC_SetMasterVolume(play.mod, v); });
    }
    {
        MusicPlay play(path);
        ASSERT_TRUE(waitUntilHeard(hz));
        silentAt(hz, [](int v) { BASS_SetVolume(static_cast<DWORD>(v)); });
        EXPECT_EQ(BASS_GetVolume(), 0u);
    }
    BASS_SetVolume(255);
}

} // namespace

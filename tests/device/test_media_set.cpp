// The shared media set (QUAVERLY_MEDIA, made by the encoders): every encoded stream is heard at
// its pitch through the stream player, and every broken file is refused or played to its end
// by the first player that takes it, promptly and without a crash.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "bass23.h"
#include "fmod3.h"
#include "tests/device/device_fixture.h"
#include "tests/device/render_allocations.h"

namespace {

using namespace qvtest;

struct Medium {
    std::string path;
    std::string name, kind, format;
    double frequency = 0, seconds = 0;
};

std::string mediaFolder() {
    const char* dir = std::getenv("QUAVERLY_MEDIA");
    if (!dir || !*dir)
        return {};
    std::string out = dir[0] == '/' ? std::string("Z:") + dir : dir;
    for (char& c : out)
        if (c == '/')
            c = '\\';
    return out;
}

std::vector<Medium> manifest(const std::string& folder) {
    std::vector<Medium> all;
    FILE* f = std::fopen((folder + "\\manifest.tsv").c_str(), "r");
    if (!f)
        return all;
    char line[1024];
    while (std::fgets(line, sizeof line, f)) {
        if (line[0] == '#')
            continue;
        std::istringstream row(line);
        Medium m;
        std::string frequency, seconds;
        std::getline(row, m.name, '\t');
        std::getline(row, m.kind, '\t');
        std::getline(row, m.format, '\t');
        std::getline(row, frequency, '\t');
        std::getline(row, seconds, '\t');
        m.frequency = std::atof(frequency.c_str());
        m.seconds = std::atof(seconds.c_str());
        m.path = folder + "\\" + m.name;
        all.push_back(m);
    }
    std::fclose(f);
    return all;
}

class MediaSet : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string folder = mediaFolder();
        if (folder.empty())
            GTEST_SKIP() << "QUAVERLY_MEDIA is not set";
        media = manifest(folder);
        ASSERT_FALSE(media.empty()) << "no manifest in " << folder;
    }
    std::vector<Medium> media;
};

TEST_F(MediaSet, EveryEncodedStreamIsHeardAtItsPitchAndHasItsLength) {
    int heard = 0;
    for (const Medium& m : media) {
        // The PCM flavours are heard through the whole program (end-to-end tests).
        if (m.kind != "stream" || m.format == "pcm" || m.seconds > 10)
            continue;
        SCOPED_TRACE(m.name);
        FSOUND_STREAM* s = FSOUND_Stream_Open(m.path.c_str(), FSOUND_NORMAL, 0, 0);
        ASSERT_NE(s, nullptr);
        EXPECT_NEAR(FSOUND_Stream_GetLengthMs(s), m.seconds * 1000, 30);
        ASSERT_GE(FSOUND_Stream_Play(FSOUND_FREE, s), 0);
        FSOUND_SetVolume(FSOUND_ALL, 255);
        sleepMs(300);
        EXPECT_NEAR(listen(0.5, m.frequency).frequency, m.frequency, 0.03 * m.frequency);
        FSOUND_Stream_Stop(s);
        FSOUND_Stream_Close(s);
        ++heard;
    }
    EXPECT_GE(heard, 8); // Vorbis, MP3, FLAC, Opus; AAC (stereo, 5.1) and ALAC in MP4, raw AAC
}

// The formats the system decodes: a seek lands where asked and play goes on from there; the end
// is reached, and a seek back to the start plays again (how a stream loops).
TEST_F(MediaSet, SystemFormatsSeekAndPlayAgainAfterTheirEnd) {
    int tried = 0;
    for (const Medium& m : media) {
        if (m.kind != "stream" || (m.format != "aac" && m.format != "alac") || m.seconds > 10)
            continue;
        SCOPED_TRACE(m.name);
        ++tried;
        FSOUND_STREAM* s = FSOUND_Stream_Open(m.path.c_str(), FSOUND_NORMAL, 0, 0);
        ASSERT_NE(s, nullptr) << "FMOD error " << FSOUND_GetError();
        const int length = FSOUND_Stream_GetLengthMs(s);
        ASSERT_TRUE(FSOUND_Stream_SetTime(s, length / 2));
        EXPECT_NEAR(FSOUND_Stream_GetTime(s), length / 2, 1); // ms to frames and back
        ASSERT_GE(FSOUND_Stream_Play(FSOUND_FREE, s), 0);
        sleepMs(700);
        EXPECT_NEAR(FSOUND_Stream_GetTime(s), length / 2 + 700, 250) << "the position follows";

        ASSERT_TRUE(FSOUND_Stream_SetTime(s, length - 200));
        sleepMs(900);
        EXPECT_TRUE(waitUntilSilent(m.frequency, 2000)) << "the end";
        ASSERT_TRUE(FSOUND_Stream_SetTime(s, 0));
        EXPECT_TRUE(waitUntilHeard(m.frequency, 2000)) << "played again from the start";
        EXPECT_LT(FSOUND_Stream_GetTime(s), 2500);
        FSOUND_Stream_Close(s);
    }
    EXPECT_EQ(tried, 4); // AAC (stereo, 5.1) and ALAC in MP4, raw AAC
}

// A file the system has no decoder for says so (error 18); a damaged one is refused like any
// other; neither is taken by the module players' route.
TEST_F(MediaSet, SystemFormatsThatCannotBeReadAreRefused) {
    for (const Medium& m : media) {
        const bool damaged = m.kind == "broken" && m.format == "m4a";
        if (!damaged && m.kind != "system")
            continue;
        SCOPED_TRACE(m.name);
        const DWORD t0 = GetTickCount();
        FSOUND_STREAM* s = FSOUND_Stream_Open(m.path.c_str(), FSOUND_NORMAL, 0, 0);
        EXPECT_LT(GetTickCount() - t0, 2000u);
        if (s && !damaged && !underTestEnvironment()) {
            FSOUND_Stream_Close(s); // Windows has the decoder
            continue;
        }
        ASSERT_EQ(s, nullptr);
        if (damaged)
            EXPECT_TRUE(FSOUND_GetError() == FMOD_ERR_FILE_BAD ||
                        FSOUND_GetError() == FMOD_ERR_FILE_FORMAT)
                << FSOUND_GetError();
        else
            EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_MEDIAPLAYER);
        EXPECT_EQ(FMUSIC_LoadSong(m.path.c_str()), nullptr);
    }
}

// The read-ahead thread decodes; the render thread only copies, and allocates nothing.
TEST_F(MediaSet, RenderThreadsAllocateNothingWhileAnM4aPlays) {
    auto it = std::find_if(media.begin(), media.end(),
                           [](const Medium& m) { return m.name == "aac_440.m4a"; });
    ASSERT_NE(it, media.end());
    FSOUND_STREAM* s = FSOUND_Stream_Open(it->path.c_str(), FSOUND_NORMAL, 0, 0);
    ASSERT_NE(s, nullptr);
    ASSERT_GE(FSOUND_Stream_Play(FSOUND_FREE, s), 0);
    FSOUND_SetVolume(FSOUND_ALL, 255);
    ASSERT_TRUE(waitUntilHeard(it->frequency));
    sleepMs(1000); // the resampler's own buffers grow during its first second
    const std::uint64_t before = renderThreadAllocations();
    sleepMs(3000);
    EXPECT_EQ(renderThreadAllocations() - before, 0u);
    EXPECT_GT(renderThreadsSeen(), 0);
    FSOUND_Stream_Close(s);
}

// Calls that take longer than this count as hanging.
constexpr DWORD promptMs = 2000;

TEST_F(MediaSet, EveryBrokenFileIsRefusedOrPlaysAndIsReleasedPromptly) {
    std::vector<Medium> broken;
    for (const Medium& m : media)
        if (m.kind == "broken")
            broken.push_back(m);
    Medium longPath;
    longPath.name = "a path of 1023 characters";
    longPath.path = "C:\\" + std::string(1020, 'x');
    broken.push_back(longPath);
    ASSERT_GT(broken.size(), 10u);

    BASS_Start();
    BASS_SetVolume(0);
    for (const Medium& m : broken) {
        SCOPED_TRACE(m.name);
        const DWORD t0 = GetTickCount();
        if (FMUSIC_MODULE* mod = FMUSIC_LoadSong(m.path.c_str())) {
            FMUSIC_SetMasterVolume(mod, 0);
            FMUSIC_PlaySong(mod);
            sleepMs(100);
            FMUSIC_GetOrder(mod);
            FMUSIC_StopSong(mod);
        } else if (FSOUND_STREAM* s = FSOUND_Stream_Open(m.path.c_str(), FSOUND_NORMAL, 0, 0)) {
            FSOUND_SetVolume(FSOUND_ALL, 0);
            FSOUND_Stream_Play(FSOUND_FREE, s);
            sleepMs(100);
            FSOUND_Stream_SetTime(s, FSOUND_Stream_GetLengthMs(s) / 2);
            FSOUND_Stream_GetTime(s);
            FSOUND_Stream_Stop(s);
            FSOUND_Stream_Close(s);
        } else if (HMUSIC music = BASS_MusicLoad(FALSE, m.path.c_str(), 0, 0, 0x2B200, 0)) {
            BASS_ChannelPlay(music, FALSE);
            sleepMs(100);
            BASS_MusicGetOrderPosition(music);
            BASS_ChannelStop(music);
        }
        EXPECT_LT(GetTickCount() - t0, promptMs + 100);
    }
    BASS_SetVolume(255);
    // Still alive and still playing.
    qvgen::WavSpec wav;
    FSOUND_STREAM* s = FSOUND_Stream_Open(writeTemp("after.wav", qvgen::wavTone(wav)).c_str(),
                                          FSOUND_NORMAL, 0, 0);
    ASSERT_NE(s, nullptr);
    ASSERT_GE(FSOUND_Stream_Play(FSOUND_FREE, s), 0);
    FSOUND_SetVolume(FSOUND_ALL, 255);
    sleepMs(300);
    EXPECT_NEAR(listen(0.5, wav.frequency).frequency, wav.frequency, 0.03 * wav.frequency);
    FSOUND_Stream_Close(s);
}

} // namespace

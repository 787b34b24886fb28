// Which player takes which file, positions in orders and milliseconds, volumes, and handles that
// are not (or no longer) valid.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "bass23.h"
#include "fmod3.h"
#include "tests/device/device_fixture.h"

namespace {

using namespace qvtest;
using qvgen::ModuleFormat;

constexpr unsigned streamMode = FSOUND_NORMAL | FSOUND_MPEGACCURATE;
constexpr DWORD musicFlags = 0x2B200;

std::string moduleFile(ModuleFormat format, int orders = 4) {
    qvgen::ModuleSpec params;
    params.format = format;
    params.orders = orders;
    char name[32];
    std::snprintf(name, sizeof name, "m%d.%.*s", orders,
                  static_cast<int>(qvgen::moduleTypeName(format).size()),
                  qvgen::moduleTypeName(format).data());
    return writeTemp(name, qvgen::module(params));
}

struct Takers {
    bool fmodModule, fmodStream, bassModule;
};

Takers whoTakes(const std::string& path) {
    Takers t{};
    FMUSIC_MODULE* mod = FMUSIC_LoadSong(path.c_str());
    t.fmodModule = mod != nullptr;
    FSOUND_STREAM* stream = FSOUND_Stream_Open(path.c_str(), streamMode, 0, 0);
    t.fmodStream = stream != nullptr;
    if (stream)
        FSOUND_Stream_Close(stream);
    HMUSIC music = BASS_MusicLoad(FALSE, path.c_str(), 0, 0, musicFlags, 0);
    t.bassModule = music != 0;
    return t;
}

void expectTakers(const std::string& path, bool fmodModule, bool fmodStream, bool bassModule) {
    const Takers t = whoTakes(path);
    EXPECT_EQ(t.fmodModule, fmodModule) << path;
    EXPECT_EQ(t.fmodStream, fmodStream) << path;
    EXPECT_EQ(t.bassModule, bassModule) << path;
}

TEST(Routing, EachPlayerTakesItsOwnFormatsByContent) {
    for (ModuleFormat f :
         {ModuleFormat::Mod, ModuleFormat::S3m, ModuleFormat::Xm, ModuleFormat::It})
        expectTakers(moduleFile(f), true, false, true);
    expectTakers(moduleFile(ModuleFormat::Mtm), false, false, true);

    qvgen::ModuleSpec it;
    it.format = ModuleFormat::It;
    expectTakers(writeTemp("wrapped.umx", qvgen::umx(qvgen::module(it), ModuleFormat::It)), false,
                 false, true);

    qvgen::WavSpec wav;
    wav.seconds = 0.5;
    // A misleading name: the content decides.
    expectTakers(writeTemp("tone.mod", qvgen::wavTone(wav)), false, true, false);

    expectTakers(writeTemp("noise.ogg", qvgen::garbage(4096)), false, false, false);
    expectTakers(writeTemp("empty.wav", {}), false, false, false);
    expectTakers(writeTemp("cut.xm", qvgen::truncated(qvgen::module(it), 40)), false, false, false);
    expectTakers("C:\\no\\such\\file.mod", false, false, false);
    expectTakers("C:\\windows", false, false, false);
    EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_FILE_NOTFOUND);
}

TEST(Positions, OrdersAndMilliseconds) {
    FMUSIC_MODULE* mod = FMUSIC_LoadSong(moduleFile(ModuleFormat::Xm, 6).c_str());
    ASSERT_NE(mod, nullptr);
    EXPECT_EQ(FMUSIC_GetNumOrders(mod), 6);
    FMUSIC_SetMasterVolume(mod, 0);
    ASSERT_TRUE(FMUSIC_PlaySong(mod));
    ASSERT_TRUE(FMUSIC_SetOrder(mod, 3));
    EXPECT_EQ(FMUSIC_GetOrder(mod), 3);
    EXPECT_FALSE(FMUSIC_SetOrder(mod, 6));
    FMUSIC_StopSong(mod);

    HMUSIC music =
        BASS_MusicLoad(FALSE, moduleFile(ModuleFormat::S3m, 6).c_str(), 0, 0, musicFlags, 0);
    ASSERT_NE(music, 0u);
    EXPECT_EQ(BASS_MusicGetOrders(music), 6u);
    BASS_SetVolume(0);
    ASSERT_TRUE(BASS_ChannelPlay(music, FALSE));
    ASSERT_TRUE(BASS_ChannelSetPosition(music, BASS_MUSIC_ORDERPOS | 4));
    EXPECT_EQ(BASS_MusicGetOrderPosition(music) & 0xFFFF, 4u);
    ASSERT_TRUE(BASS_ChannelSetPosition(music, BASS_MUSIC_ORDERPOS | 2 | (40u << 16)));
    const DWORD pos = BASS_MusicGetOrderPosition(music);
    EXPECT_EQ(pos & 0xFFFF, 2u);
    EXPECT_GE(pos >> 16, 40u);
    EXPECT_LT(pos >> 16, 50u);
    // Stopped, then played again: it goes on where it was.
    BASS_ChannelStop(music);
    EXPECT_EQ(BASS_ChannelIsActive(music), static_cast<DWORD>(BASS_ACTIVE_STOPPED));
    ASSERT_TRUE(BASS_ChannelPlay(music, FALSE));
    EXPECT_EQ(BASS_MusicGetOrderPosition(music) & 0xFFFF, 2u);
    BASS_ChannelStop(music);
    BASS_SetVolume(255);

    qvgen::WavSpec wav;
    wav.seconds = 3.0;
    FSOUND_STREAM* stream =
        FSOUND_Stream_Open(writeTemp("three.wav", qvgen::wavTone(wav)).c_str(), streamMode, 0, 0);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(FSOUND_Stream_GetLengthMs(stream), 3000);
    EXPECT_EQ(FSOUND_Stream_GetTime(stream), 0);
    FSOUND_SetVolume(FSOUND_ALL, 0);
    ASSERT_GE(FSOUND_Stream_Play(FSOUND_FREE, stream), 0);
    ASSERT_TRUE(FSOUND_Stream_SetTime(stream, 1500));
    const int t = FSOUND_Stream_GetTime(stream);
    EXPECT_GE(t, 1500);
    EXPECT_LT(t, 1700);
    FSOUND_Stream_Stop(stream);
    FSOUND_Stream_Close(stream);
}

TEST(Volumes, OutOfRangeValuesAreClamped) {
    ASSERT_TRUE(BASS_SetVolume(300));
    EXPECT_EQ(BASS_GetVolume(), 255u);
    ASSERT_TRUE(BASS_SetVolume(125));
    EXPECT_EQ(BASS_GetVolume(), 125u);
    BASS_SetVolume(255);

    FMUSIC_MODULE* mod = FMUSIC_LoadSong(moduleFile(ModuleFormat::Mod).c_str());
    ASSERT_NE(mod, nullptr);
    EXPECT_TRUE(FMUSIC_SetMasterVolume(mod, -20));
    EXPECT_TRUE(FMUSIC_SetMasterVolume(mod, 1000));
    EXPECT_TRUE(FSOUND_SetVolume(FSOUND_ALL, 256));
}

// The playlist holds paths of up to 1023 bytes: one past MAX_PATH opens and plays.
TEST(LongPaths, AFileWhosePathHas300CharactersIsPlayed) {
    // Made through the prefixed UTF-16 form: Wine's 8-bit calls stop at MAX_PATH.
    auto prefixed = [](const std::string& p) {
        return L"\\\\?\\" + std::wstring(p.begin(), p.end());
    };
    const std::string any = writeTemp("short.wav", {});
    std::vector<std::string> made = {any.substr(0, any.rfind('\\'))};
    while (made.back().size() < 240) {
        made.push_back(made.back() + "\\" + std::string(40, 'f'));
        ASSERT_TRUE(CreateDirectoryW(prefixed(made.back()).c_str(), nullptr));
    }
    std::string path = made.back() + "\\";
    path += std::string(300 - path.size() - 4, 'n') + ".wav";
    qvgen::WavSpec wav;
    wav.frequency = 660.0;
    const qvgen::Bytes bytes = qvgen::wavTone(wav);
    HANDLE f =
        CreateFileW(prefixed(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    CloseHandle(f);

    FSOUND_STREAM* stream = FSOUND_Stream_Open(path.c_str(), streamMode, 0, 0);
    ASSERT_NE(stream, nullptr);
    EXPECT_GE(FSOUND_Stream_Play(FSOUND_FREE, stream), 0);
    EXPECT_TRUE(waitUntilHeard(wav.frequency));
    FSOUND_Stream_Close(stream);
    DeleteFileW(prefixed(path).c_str());
    for (size_t i = made.size() - 1; i > 0; --i)
        RemoveDirectoryW(prefixed(made[i]).c_str());
}

TEST(Handles, ZeroStaleAndMadeUpHandlesAreRefused) {
    EXPECT_FALSE(FMUSIC_PlaySong(nullptr));
    EXPECT_EQ(FMUSIC_GetOrder(nullptr), -1);
    EXPECT_EQ(FMUSIC_GetNumOrders(reinterpret_cast<FMUSIC_MODULE*>(0x1234)), 0);
    EXPECT_FALSE(FMUSIC_SetOrder(reinterpret_cast<FMUSIC_MODULE*>(0x1234), 0));
    EXPECT_EQ(FSOUND_Stream_Play(FSOUND_FREE, nullptr), -1);
    EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_INVALID_PARAM);

    qvgen::WavSpec wav;
    wav.seconds = 0.2;
    FSOUND_STREAM* stream =
        FSOUND_Stream_Open(writeTemp("closed.wav", qvgen::wavTone(wav)).c_str(), streamMode, 0, 0);
    ASSERT_NE(stream, nullptr);
    ASSERT_TRUE(FSOUND_Stream_Close(stream));
    EXPECT_EQ(FSOUND_Stream_Play(FSOUND_FREE, stream), -1);
    EXPECT_FALSE(FSOUND_Stream_SetTime(stream, 0));
    EXPECT_EQ(FSOUND_Stream_GetTime(stream), 0);
    EXPECT_FALSE(FSOUND_Stream_Close(stream));

    EXPECT_FALSE(BASS_ChannelPlay(0, FALSE));
    EXPECT_FALSE(BASS_ChannelStop(0));
    EXPECT_EQ(BASS_ChannelIsActive(0), 0u);
    EXPECT_EQ(BASS_MusicGetOrders(0x10000999), 0xFFFFFFFFu);
    EXPECT_EQ(BASS_MusicGetOrderPosition(0x20000001), 0xFFFFFFFFu);
    EXPECT_FALSE(BASS_ChannelSetPosition(0x7777, BASS_MUSIC_ORDERPOS));
}

} // namespace

// The real quaverly.exe with the real audio libraries, driven like a user and listened to on the
// null sink's monitor.
#include <gtest/gtest.h>

#include <math.h>
#include <stdlib.h>
#include <stdio.h>
#include <string.h>

#include <windows.h>

#include <commctrl.h>
#include <winioctl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/ids.h"
#include "tests/e2e/harness.h"
#include "tests/gen/gen.h"
#include "tests/midi/midi_writers.h"
#include "tests/support/bytes.h"

using namespace e2e;

namespace {

const char* const mediaFolder = "C:\\qvmedia";

// Files the tests play: streams made by the media script, modules made here.
struct Media {
    std::string ogg, mp3, mod, mtm, umx, midi;
    std::string m4a, alac, aac; // decoded by the system
};

Media prepareMedia() {
    CreateDirectoryA(mediaFolder, nullptr);
    Media m;
    std::string generated = mediaDir();
    if (!generated.empty()) {
        m.ogg = std::string(mediaFolder) + "\\tone440.ogg";
        m.mp3 = std::string(mediaFolder) + "\\tone660.mp3";
        CopyFileA((generated + "\\ogg_440.ogg").c_str(), m.ogg.c_str(), FALSE);
        CopyFileA((generated + "\\mp3_660.mp3").c_str(), m.mp3.c_str(), FALSE);
        m.m4a = generated + "\\aac_440.m4a";
        m.alac = generated + "\\alac_660.m4a";
        m.aac = generated + "\\aac_1000.aac";
    }
    // Three orders of 16 rows: about 1.9 s each; the looping player ends it in its last order.
    qvgen::ModuleSpec mod;
    mod.format = qvgen::ModuleFormat::Mod;
    mod.frequency = 550;
    mod.orders = 3;
    mod.rows = 16;
    m.mod = std::string(mediaFolder) + "\\tone550.mod";
    writeFile(m.mod, qvgen::module(mod));
    qvgen::ModuleSpec mtm = mod;
    mtm.format = qvgen::ModuleFormat::Mtm;
    mtm.frequency = 330;
    m.mtm = std::string(mediaFolder) + "\\tone330.mtm";
    writeFile(m.mtm, qvgen::module(mtm));
    qvgen::ModuleSpec inner = mod;
    inner.format = qvgen::ModuleFormat::It;
    inner.frequency = 770;
    m.umx = std::string(mediaFolder) + "\\tone770.umx";
    writeFile(m.umx, qvgen::umx(qvgen::module(inner), qvgen::ModuleFormat::It));
    // Four bars of A4 struck on every beat at 120 beats a minute, on the General MIDI piano.
    midiwrite::Track track;
    for (int beat = 0; beat < 16; ++beat)
        track.add(beat == 0 ? 0 : 60, {0x90, 69, 100}).add(420, {0x80, 69, 0});
    m.midi = std::string(mediaFolder) + "\\a440.mid";
    writeFile(m.midi, midiwrite::smf(0, 480, {track}));
    return m;
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        media = prepareMedia();
        ASSERT_TRUE(monitor.start()) << "no capture device (the sink's monitor)";
        ASSERT_TRUE(app.start()) << "quaverly.exe did not show its main window";
    }
    void TearDown() override {
        if (app.running()) {
            EXPECT_EQ(app.exit(), 0);
        }
        monitor.stop();
    }

    // The pitch heard over the last `ms` milliseconds.
    double heardFrequency(double ms = 600) {
        double now = monitor.capturedMs();
        return dominantFrequency(monitor.between(now - ms, now));
    }
    double heardLevel(double ms = 500) {
        double now = monitor.capturedMs();
        return levelDb(monitor.between(now - ms, now));
    }
    // Waits until the pitch heard is near `frequency`; returns the wait in ms, or -1.
    double waitForTone(double frequency, double withinMs) {
        double start = monitor.nowMs();
        while (monitor.nowMs() - start < withinMs) {
            sleepMs(100);
            double f = heardFrequency(400);
            if (f > 0 && fabs(f - frequency) < frequency * 0.03)
                return monitor.nowMs() - start;
        }
        return -1;
    }

    Media media;
    Monitor monitor;
    App app;
};

TEST_F(EndToEnd, PlaylistPlaysThroughAndWrapsToTheFirstEntry) {
    if (media.ogg.empty())
        GTEST_SKIP() << "QUAVERLY_MEDIA is not set";
    ASSERT_TRUE(app.addFile(media.ogg));
    ASSERT_TRUE(app.addFile(media.mp3));
    ASSERT_TRUE(app.addFile(media.mod));
    app.click(IDC_PLAY);
    ASSERT_GE(waitForTone(440, 3000), 0) << "the Ogg's 440 Hz was not heard";
    sleepMs(1200);
    EXPECT_EQ(app.text(IDC_PLAY), "Stop");
    EXPECT_EQ(app.text(IDC_STATUS).rfind("Time: 00:0", 0), 0u) << app.text(IDC_STATUS);
    EXPECT_NE(app.text(IDC_STATUS).find("/00:03"), std::string::npos) << app.text(IDC_STATUS);

    ASSERT_GE(waitForTone(660, 6000), 0) << "the MP3 did not follow";
    double mp3Heard = monitor.capturedMs();
    ASSERT_GE(waitForTone(550, 6000), 0) << "the MOD did not follow";
    // The end-of-track gap: the longest silence between the MP3's sound and the MOD's.
    double silentRun = 0, longest = 0;
    for (double t = mp3Heard; t < monitor.capturedMs(); t += 5) {
        silentRun = levelDb(monitor.between(t, t + 5)) < -50 ? silentRun + 5 : 0;
        longest = std::max(longest, silentRun);
    }
    printf("end-of-track gap (MP3 to MOD): %.0f ms\n", longest);
    EXPECT_LT(longest, 1500) << "the next track should follow within the tick and the 100 ms wait";
    sleepMs(1200);
    EXPECT_EQ(app.text(IDC_STATUS).rfind("Order: ", 0), 0u) << app.text(IDC_STATUS);
    EXPECT_NE(app.text(IDC_STATUS).find("/02"), std::string::npos) << app.text(IDC_STATUS);
    ASSERT_GE(waitForTone(440, 8000), 0) << "the playlist did not wrap to its first entry";
}

// Names outside the system's 8-bit code page, chosen in the open dialog, reach the libraries
// whole and play.
TEST_F(EndToEnd, UnicodeNamesPlay) {
    if (media.ogg.empty())
        GTEST_SKIP() << "QUAVERLY_MEDIA is not set";
    const struct {
        const char* name;
        std::string source;
        double frequency;
    } files[] = {{"Тон ля.ogg", media.ogg, 440},
                 {"音楽.mp3", media.mp3, 660},
                 {"🎵 tune.mod", media.mod, 550}};
    for (const auto& file : files) {
        std::wstring path = wide(std::string(mediaFolder) + "\\" + file.name);
        ASSERT_TRUE(CopyFileW(wide(file.source).c_str(), path.c_str(), FALSE)) << file.name;
        ASSERT_TRUE(app.addFile(path)) << file.name;
    }
    app.click(IDC_PLAY);
    for (const auto& file : files) {
        EXPECT_GE(waitForTone(file.frequency, 4000), 0) << file.name << " was not heard";
        app.click(IDC_NEXT);
    }
}

TEST_F(EndToEnd, PauseLoopAndSeek) {
    if (media.ogg.empty())
        GTEST_SKIP() << "QUAVERLY_MEDIA is not set";
    ASSERT_TRUE(app.addFile(media.ogg));
    app.click(IDC_PLAY);
    ASSERT_GE(waitForTone(440, 3000), 0);

    app.click(IDC_PAUSE);
    sleepMs(1500);
    EXPECT_EQ(app.text(IDC_PAUSE), "Paused");
    std::string frozen = app.text(IDC_STATUS);
    EXPECT_LT(heardLevel(700), -60) << "pause should be silent";
    sleepMs(1200);
    EXPECT_EQ(app.text(IDC_STATUS), frozen) << "the status line stands still while paused";
    app.click(IDC_PAUSE);
    ASSERT_GE(waitForTone(440, 2000), 0) << "resume";

    // "Loop song": the 3-second track is still heard well after it would have ended.
    SendMessageA(app.control(IDC_LOOP), BM_CLICK, 0, 0);
    sleepMs(5000);
    EXPECT_NEAR(heardFrequency(), 440, 440 * 0.03);
    EXPECT_EQ(app.text(IDC_PLAY), "Stop");

    // A click in the middle of the bar jumps to about half the track.
    RECT bar;
    GetClientRect(app.control(IDC_POSITION_BAR), &bar);
    PostMessageA(app.control(IDC_POSITION_BAR), WM_LBUTTONDOWN, MK_LBUTTON,
                 MAKELPARAM(bar.right / 2, 5));
    PostMessageA(app.control(IDC_POSITION_BAR), WM_LBUTTONUP, 0, MAKELPARAM(bar.right / 2, 5));
    sleepMs(1100);
    int position = (int)SendMessageA(app.control(IDC_POSITION_BAR), PBM_GETPOS, 0, 0);
    EXPECT_GE(position, 1);
    EXPECT_LE(position, 2);
}

// AAC in MP4 (6.3 s), ALAC in MP4 and raw AAC go through the system's decoders and behave as
// any stream: their length, a seek from the bar, "Loop song", and the playlist moving on.
TEST_F(EndToEnd, SystemFormatsPlaySeekLoopAndMoveOn) {
    if (media.m4a.empty())
        GTEST_SKIP() << "QUAVERLY_MEDIA is not set";
    for (const std::string* file : {&media.m4a, &media.alac, &media.aac})
        ASSERT_TRUE(app.addFile(*file)) << *file;
    app.click(IDC_PLAY);
    ASSERT_GE(waitForTone(440, 3000), 0) << "the M4A's 440 Hz was not heard";
    sleepMs(1200);
    EXPECT_EQ(app.text(IDC_STATUS).rfind("Time: 00:0", 0), 0u) << app.text(IDC_STATUS);
    EXPECT_NE(app.text(IDC_STATUS).find("/00:06"), std::string::npos) << app.text(IDC_STATUS);

    RECT bar;
    GetClientRect(app.control(IDC_POSITION_BAR), &bar);
    // Three quarters along: second 4 (the bar's border counts in its width), then one more.
    PostMessageA(app.control(IDC_POSITION_BAR), WM_LBUTTONDOWN, MK_LBUTTON,
                 MAKELPARAM(bar.right * 3 / 4, 5));
    PostMessageA(app.control(IDC_POSITION_BAR), WM_LBUTTONUP, 0, MAKELPARAM(bar.right * 3 / 4, 5));
    sleepMs(1100);
    const int position = (int)SendMessageA(app.control(IDC_POSITION_BAR), PBM_GETPOS, 0, 0);
    EXPECT_GE(position, 4);
    EXPECT_LE(position, 5);

    // Looped, it is still heard well after its end; unlooped, the next two follow.
    SendMessageA(app.control(IDC_LOOP), BM_CLICK, 0, 0);
    sleepMs(5000);
    EXPECT_NEAR(heardFrequency(), 440, 440 * 0.03);
    EXPECT_NE(app.text(IDC_STATUS).find("/00:06"), std::string::npos) << app.text(IDC_STATUS);
    SendMessageA(app.control(IDC_LOOP), BM_CLICK, 0, 0);
    ASSERT_GE(waitForTone(660, 9000), 0) << "the ALAC file did not follow";
    ASSERT_GE(waitForTone(1000, 6000), 0) << "the raw AAC file did not follow";
}

// Clicks the position bar at a fraction of its width.
void clickBar(App& app, double fraction) {
    RECT bar;
    GetClientRect(app.control(IDC_POSITION_BAR), &bar);
    const LPARAM at = MAKELPARAM((int)(bar.right * fraction), 5);
    PostMessageA(app.control(IDC_POSITION_BAR), WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageA(app.control(IDC_POSITION_BAR), WM_LBUTTONUP, 0, at);
}

// True while the window answers messages within half a second.
bool answers(App& app) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(app.main(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 500, &result) != 0;
}

// A download cut short: its index says 60 s, its data stops after 19.5 s. It ends there and
// the playlist moves on; with "Loop song" it plays again from the start. Another program may
// rename and delete it while it plays.
TEST_F(EndToEnd, ACutDownloadEndsWhereItsDataDoesAndLoops) {
    const std::string source = mediaDir() + "\\aac_1000_cut20s.m4a";
    if (mediaDir().empty() || GetFileAttributesA(source.c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "QUAVERLY_MEDIA is not set";
    const std::string cut = mediaDir() + "\\cut-copy.m4a", moved = mediaDir() + "\\cut-moved.m4a";
    ASSERT_TRUE(CopyFileA(source.c_str(), cut.c_str(), FALSE));
    ASSERT_TRUE(app.addFile(cut));
    ASSERT_TRUE(app.addFile(media.ogg));
    app.click(IDC_PLAY);
    ASSERT_GE(waitForTone(1000, 3000), 0) << "the cut M4A was not heard";
    EXPECT_TRUE(MoveFileA(cut.c_str(), moved.c_str())) << "renamed while playing";
    EXPECT_TRUE(DeleteFileA(moved.c_str())) << "deleted while playing";
    sleepMs(1200);
    EXPECT_NE(app.text(IDC_STATUS).find("/01:00"), std::string::npos) << app.text(IDC_STATUS);

    SendMessageA(app.control(IDC_LOOP), BM_CLICK, 0, 0);
    clickBar(app, 0.3); // second 18 of 60: the data ends 1.5 s later
    sleepMs(2500);
    for (int waited = 0; waited < 5000 && app.text(IDC_STATUS).rfind("Time: 00:0", 0) != 0;
         waited += 100)
        sleepMs(100);
    EXPECT_EQ(app.text(IDC_STATUS).rfind("Time: 00:0", 0), 0u) << app.text(IDC_STATUS);
    sleepMs(500);
    EXPECT_NEAR(heardFrequency(), 1000, 1000 * 0.03) << "looped";

    SendMessageA(app.control(IDC_LOOP), BM_CLICK, 0, 0);
    clickBar(app, 0.3);
    ASSERT_GE(waitForTone(440, 6000), 0) << "the next entry did not follow the cut end";
}

// A 200 MB WAV that another program renames, cuts to a tenth and deletes while it plays from
// its middle: the player goes on answering, the track ends, and the next one plays.
TEST_F(EndToEnd, ALargeFileCutAndDeletedWhilePlayingEnds) {
    if (media.ogg.empty())
        GTEST_SKIP() << "QUAVERLY_MEDIA is not set";
    // 16-bit stereo at 192 kHz: 273 s of silence, written sparse.
    const std::string large = std::string(mediaFolder) + "\\large.wav";
    const std::string moved = std::string(mediaFolder) + "\\large-moved.wav";
    const uint32_t size = 200u << 20, rate = 192000;
    std::vector<uint8_t> header(44, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            header[at + i] = (uint8_t)(v >> (8 * i));
    };
    memcpy(&header[0], "RIFF", 4);
    put32(4, size - 8);
    memcpy(&header[8], "WAVEfmt ", 8);
    put32(16, 16);
    put32(20, 1 | 2 << 16); // PCM, two channels
    put32(24, rate);
    put32(28, rate * 4);
    put32(32, 4 | 16 << 16); // four bytes a frame, 16 bits
    memcpy(&header[36], "data", 4);
    put32(40, size - 44);
    ASSERT_TRUE(writeFile(large, header));
    {
        HANDLE f = CreateFileA(large.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(f, INVALID_HANDLE_VALUE);
        LARGE_INTEGER end;
        end.QuadPart = size;
        EXPECT_TRUE(SetFilePointerEx(f, end, nullptr, FILE_BEGIN) && SetEndOfFile(f));
        CloseHandle(f);
    }
    ASSERT_TRUE(app.addFile(large));
    ASSERT_TRUE(app.addFile(media.ogg));
    app.click(IDC_PLAY);
    sleepMs(1000);
    clickBar(app, 0.5);
    sleepMs(1000);

    EXPECT_TRUE(MoveFileA(large.c_str(), moved.c_str())) << "renamed while playing";
    HANDLE f = CreateFileA(moved.c_str(), GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(f, INVALID_HANDLE_VALUE) << "opened for writing while playing";
    if (f != INVALID_HANDLE_VALUE) {
        LARGE_INTEGER tenth;
        tenth.QuadPart = size / 10;
        EXPECT_TRUE(SetFilePointerEx(f, tenth, nullptr, FILE_BEGIN) && SetEndOfFile(f));
        CloseHandle(f);
    }
    EXPECT_TRUE(DeleteFileA(moved.c_str())) << "deleted while playing";
    EXPECT_TRUE(answers(app));
    // Whatever was read before the cut may still play: go near its end.
    clickBar(app, 0.98);
    const double start = monitor.nowMs();
    bool answered = true;
    while (monitor.nowMs() - start < 12000 && fabs(heardFrequency(400) - 440) > 440 * 0.03) {
        answered = answered && answers(app);
        sleepMs(200);
    }
    EXPECT_TRUE(answered);
    sleepMs(300); // a window of the next entry alone, not of the change to it
    EXPECT_NEAR(heardFrequency(400), 440, 440 * 0.03) << "the next entry did not follow";
    EXPECT_TRUE(app.running());
    DeleteFileA(moved.c_str());
    DeleteFileA(large.c_str());
}

// Every PCM container and codec libsndfile reads for us, chosen in the open dialog: each is heard
// at its own pitch with its own length in the status line, a second or two each.
TEST_F(EndToEnd, EveryPcmFlavourPlaysAtItsPitchWithItsLength) {
    if (media.ogg.empty())
        GTEST_SKIP() << "QUAVERLY_MEDIA is not set";
    const struct {
        const char* file;
        double frequency;
        const char* length;
    } flavours[] = {
        {"pcm_f64_300.wav", 300, "/00:03"},     {"pcm_alaw_350.wav", 350, "/00:04"},
        {"pcm_ulaw_400.wav", 400, "/00:05"},    {"pcm_ima_450.wav", 450, "/00:03"},
        {"pcm_msadpcm_500.wav", 500, "/00:04"}, {"pcm_51_560.wav", 560, "/00:05"},
        {"pcm_rf64_630.wav", 630, "/00:03"},    {"pcm_700.aiff", 700, "/00:04"},
        {"pcm_float_780.aifc", 780, "/00:05"},  {"pcm_ulaw_870.au", 870, "/00:03"},
        {"pcm_24_960.w64", 960, "/00:04"},      {"pcm_1070.caf", 1070, "/00:05"},
    };
    for (const auto& f : flavours)
        ASSERT_TRUE(app.addFile(mediaDir() + "\\" + f.file)) << f.file;
    app.click(IDC_PLAY);
    for (const auto& f : flavours) {
        EXPECT_GE(waitForTone(f.frequency, 3000), 0) << f.file << " was not heard";
        for (int waited = 0;
             waited < 1500 && app.text(IDC_STATUS).find(f.length) == std::string::npos;
             waited += 100)
            sleepMs(100); // the status line's tick
        EXPECT_NE(app.text(IDC_STATUS).find(f.length), std::string::npos)
            << f.file << ": " << app.text(IDC_STATUS);
        app.click(IDC_NEXT);
    }
}

// The level of one pitch on one side of what was heard, in dB.
double sideToneDb(const std::vector<float>& stereo, int side, double frequency) {
    std::vector<float> one(stereo.size());
    for (size_t i = 0; i + 1 < stereo.size(); i += 2)
        one[i] = one[i + 1] = stereo[i + side];
    return qvgen::toneLevelDb(one.data(), one.size() / 2, Monitor::rate, frequency);
}

// A 5.1 WAV with a tone of its own on each channel: the front pair, the centre and the
// surrounds reach each side at the downmix's levels (centre and surrounds at -3 dB).
TEST_F(EndToEnd, FiveOneIsHeardAtTheDownmixLevels) {
    if (media.ogg.empty())
        GTEST_SKIP() << "QUAVERLY_MEDIA is not set";
    ASSERT_TRUE(app.addFile(mediaDir() + "\\pcm_51_tones.wav"));
    app.click(IDC_PLAY);
    sleepMs(2500);
    const double now = monitor.capturedMs();
    const std::vector<float> heard = monitor.between(now - 1500, now);
    const double left = sideToneDb(heard, 0, 400), right = sideToneDb(heard, 1, 500);
    ASSERT_GT(left, -40) << "the front left tone was not heard";
    ASSERT_GT(right, -40) << "the front right tone was not heard";
    EXPECT_NEAR(sideToneDb(heard, 0, 630) - left, -3.0, 1.5) << "centre, left";
    EXPECT_NEAR(sideToneDb(heard, 1, 630) - right, -3.0, 1.5) << "centre, right";
    EXPECT_NEAR(sideToneDb(heard, 0, 800) - left, -3.0, 1.5) << "back left";
    EXPECT_NEAR(sideToneDb(heard, 1, 1000) - right, -3.0, 1.5) << "back right";
    EXPECT_LT(sideToneDb(heard, 0, 500) - left, -30) << "front right on the left";
    EXPECT_LT(sideToneDb(heard, 1, 400) - right, -30) << "front left on the right";
    EXPECT_LT(sideToneDb(heard, 0, 1000) - left, -30) << "back right on the left";
}

// A 6 GB RF64, as a field recorder writes past 4 GB, made sparse: 8 channels at 192 kHz, silent
// but for three seconds of tone where a click near the bar's end lands, in its last minute. It
// shows its real length, and the click plays that tone.
TEST_F(EndToEnd, ASixGigabyteRf64ShowsItsLengthAndSeeksToItsLastMinute) {
    if (media.ogg.empty())
        GTEST_SKIP() << "QUAVERLY_MEDIA is not set";
    const uint32_t rate = 192000, channels = 8, frameBytes = 2 * channels;
    const uint64_t frames = 6000000000ull / frameBytes; // 1953 s: 32:33
    const std::string path = std::string(mediaFolder) + "\\field.rf64";
    const qvgen::Bytes head = qvgen::rf64Header(rate, channels, frames);
    ASSERT_TRUE(writeFile(path, head));
    // Opens the file for writing, sparse where the file system allows it.
    auto openToWrite = [&path] {
        HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
        DWORD done = 0;
        DeviceIoControl(f, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &done, nullptr);
        return f;
    };
    HANDLE f = openToWrite();
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    LARGE_INTEGER at;
    at.QuadPart = (LONGLONG)(head.size() + frames * frameBytes);
    EXPECT_TRUE(SetFilePointerEx(f, at, nullptr, FILE_BEGIN) && SetEndOfFile(f));
    CloseHandle(f);
    ASSERT_TRUE(app.addFile(path));
    app.click(IDC_PLAY);
    sleepMs(1500);
    EXPECT_NE(app.text(IDC_STATUS).find("/32:33"), std::string::npos) << app.text(IDC_STATUS);

    // Where the bar's last pixels land (the position bar counts its border in its width).
    RECT outer, client;
    GetWindowRect(app.control(IDC_POSITION_BAR), &outer);
    GetClientRect(app.control(IDC_POSITION_BAR), &client);
    const int width = outer.right - outer.left, x = client.right - 2;
    const uint64_t second = (uint64_t)x * 1953 / width;
    ASSERT_GE(second, 1953u - 60) << "the bar is too narrow to reach the last minute";
    // Three seconds of 440 Hz on the front pair where the click lands.
    std::vector<int16_t> tone(3 * rate * channels, 0);
    for (size_t i = 0; i < 3 * rate; ++i)
        tone[i * channels] = tone[i * channels + 1] =
            (int16_t)(8000 * sin(2 * M_PI * 440 * (double)i / rate));
    f = openToWrite();
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    at.QuadPart = (LONGLONG)(head.size() + second * rate * frameBytes);
    EXPECT_TRUE(SetFilePointerEx(f, at, nullptr, FILE_BEGIN));
    EXPECT_TRUE(WriteFile(f, tone.data(), (DWORD)(tone.size() * 2), &written, nullptr));
    CloseHandle(f);
    const LPARAM point = MAKELPARAM(x, 5);
    PostMessageA(app.control(IDC_POSITION_BAR), WM_LBUTTONDOWN, MK_LBUTTON, point);
    PostMessageA(app.control(IDC_POSITION_BAR), WM_LBUTTONUP, 0, point);
    EXPECT_GE(waitForTone(440, 2500), 0) << "the seek did not land on the tone";
    sleepMs(1100); // the status line's tick
    EXPECT_EQ(app.text(IDC_STATUS).rfind("Time: 32:", 0), 0u) << app.text(IDC_STATUS);
    app.click(IDC_PLAY); // stop, so that the file can go
    sleepMs(500);
    DeleteFileA(path.c_str());
}

TEST_F(EndToEnd, ModulesOnlyTheSecondLibraryTakesPlayWithItsOrderStatus) {
    for (const std::string* file : {&media.mtm, &media.umx}) {
        ASSERT_TRUE(app.addFile(*file));
    }
    app.click(IDC_PLAY);
    ASSERT_GE(waitForTone(330, 3000), 0) << "the MTM was not heard";
    sleepMs(1100);
    EXPECT_EQ(app.text(IDC_STATUS).rfind("Order: 0", 0), 0u) << app.text(IDC_STATUS);
    EXPECT_NE(app.text(IDC_STATUS).find(" : 02"), std::string::npos) << app.text(IDC_STATUS);
    app.click(IDC_NEXT);
    ASSERT_GE(waitForTone(770, 3000), 0) << "the UMX was not heard";
}

TEST_F(EndToEnd, MidiPlaysThroughTheLoopingModulePlayer) {
    ASSERT_TRUE(app.addFile(media.midi));
    app.click(IDC_PLAY);
    ASSERT_GE(waitForTone(440, 4000), 0) << "the MIDI file's A4 was not heard";
    sleepMs(1100);
    std::string status = app.text(IDC_STATUS);
    EXPECT_EQ(status.rfind("Order: 0", 0), 0u) << status;
    EXPECT_NE(status.find("/03"), std::string::npos) << status;
}

// A SoundFont beside the program comes first: here one whose "piano" is a sine an octave up.
TEST_F(EndToEnd, MidiUsesASoundFontBesideTheProgram) {
    app.exit();
    std::string exe = windowsPath(QUAVERLY_EXE_PATH);
    std::string folder = exe.substr(0, exe.find_last_of('\\') + 1);
    std::string written = folder + "zz-test-bank.sf2";
    // Named outside the system's 8-bit code page, as a user's bank may be.
    std::wstring bank = wide(folder + "zz-банк-🎹.sf2");
    ASSERT_TRUE(writeFile(written, midiwrite::soundFont({{880.0, 44000, 40, 69}}, {{0, 0, 0}})));
    ASSERT_TRUE(MoveFileExW(wide(written).c_str(), bank.c_str(), MOVEFILE_REPLACE_EXISTING));
    bool started = app.start();
    if (started && app.addFile(media.midi)) {
        app.click(IDC_PLAY);
        EXPECT_GE(waitForTone(880, 4000), 0) << "the bank beside the program was not used";
    }
    app.exit();
    DeleteFileW(bank.c_str());
    EXPECT_TRUE(started);
}

// The screen's DPI as Wine reads it for programs started from now on.
void setLogPixels(DWORD dpi) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, "LogPixels", 0, REG_DWORD, (const BYTE*)&dpi, sizeof dpi);
    RegCloseKey(key);
}

// Sizes the program sets in pixels follow the screen's DPI: exactly as at 96, half as large again
// at 144, the playlist still docked and a click on the position bar still seeking by proportion.
TEST(HighDpi, PlaylistScalesAndStaysDockedAndSeekingHolds) {
    // Read the other process's windows in physical pixels, never through Wine's DPI mapping.
    using SetContext = DPI_AWARENESS_CONTEXT(WINAPI*)(DPI_AWARENESS_CONTEXT);
    auto setContext = (SetContext)(void*)GetProcAddress(GetModuleHandleA("user32.dll"),
                                                        "SetThreadDpiAwarenessContext");
    ASSERT_NE(setContext, nullptr);
    setContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    Media media = prepareMedia();
    const struct {
        DWORD dpi;
        LONG width, height;
    } rows[] = {{96, 265, 273}, {144, 398, 410}};
    struct Restore {
        ~Restore() { setLogPixels(96); }
    } restore;
    for (const auto& row : rows) {
        setLogPixels(row.dpi);
        App app;
        ASSERT_TRUE(app.start()) << row.dpi;
        SendMessageA(app.control(IDC_SHOW_PLAYLIST), BM_CLICK, 0, 0);
        HWND playlist = app.waitForWindow("Playlist", 5000);
        ASSERT_NE(playlist, nullptr) << row.dpi;
        SetWindowPos(app.main(), nullptr, 40, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        sleepMs(300);
        RECT frame, docked;
        GetWindowRect(app.main(), &frame);
        GetWindowRect(playlist, &docked);
        EXPECT_EQ(docked.right - docked.left, row.width) << row.dpi << " DPI";
        EXPECT_EQ(docked.bottom - docked.top, row.height) << row.dpi << " DPI";
        EXPECT_EQ(docked.left, frame.right) << row.dpi << " DPI";
        EXPECT_EQ(docked.top, frame.top) << row.dpi << " DPI";

        // Three orders, the bar from 0 to 2: five sixths of its outer width is order 1.
        ASSERT_TRUE(app.addFile(media.mod));
        app.click(IDC_PLAY);
        sleepMs(500);
        HWND bar = app.control(IDC_POSITION_BAR);
        RECT outer;
        GetWindowRect(bar, &outer);
        EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, FALSE, 0), 2) << row.dpi << " DPI";
        LPARAM at = MAKELPARAM((outer.right - outer.left) * 5 / 6, 3);
        SendMessageA(bar, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageA(bar, WM_LBUTTONUP, 0, at);
        EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 1) << row.dpi << " DPI";
        EXPECT_EQ(app.exit(), 0);
    }
}

// Reads a WAV file's header and data; false if it is not a well-formed capture file.
struct Wav {
    uint32_t riffSize = 0, dataSize = 0, fileSize = 0;
    uint16_t channels = 0, bits = 0;
    uint32_t rate = 0;
    std::vector<float> samples;
};

bool readWav(const std::string& path, Wav& wav) {
    const testsupport::Bytes bytes = testsupport::readFile(path);
    if (bytes.size() < 44 || memcmp(bytes.data(), "RIFF", 4) || memcmp(&bytes[36], "data", 4))
        return false;
    wav.fileSize = (uint32_t)bytes.size();
    wav.riffSize = testsupport::le32(bytes, 4);
    wav.dataSize = testsupport::le32(bytes, 40);
    wav.channels = bytes[22];
    wav.rate = testsupport::le32(bytes, 24);
    wav.bits = bytes[34];
    for (size_t at = 44; at + 1 < 44 + (size_t)wav.dataSize && at + 1 < bytes.size(); at += 2)
        wav.samples.push_back((int16_t)(bytes[at] | bytes[at + 1] << 8) / 32768.0f);
    return true;
}

class Echotrap : public EndToEnd {
protected:
    // Opens the recorder, names the file, and starts recording; returns the recorder window.
    HWND startRecording(const std::string& name) {
        app.click(IDC_LAUNCH_RECORDER);
        HWND recorder = nullptr;
        for (int i = 0; i < 100 && !recorder; ++i) {
            sleepMs(100);
            recorder = app.findWindowOtherThan(nullptr);
            if (recorder && GetDlgItem(recorder, IDC_RECORD) == nullptr)
                recorder = nullptr;
        }
        if (!recorder)
            return nullptr;
        char caption[256] = "";
        GetWindowTextA(recorder, caption, sizeof caption);
        inputName = caption;
        SendMessageW(GetDlgItem(recorder, IDC_CAPTURE_NAME), WM_SETTEXT, 0,
                     (LPARAM)wide(name).c_str());
        PostMessageA(recorder, WM_COMMAND, MAKEWPARAM(IDC_RECORD, BN_CLICKED), 0);
        return recorder;
    }
    std::string inputName;
};

TEST_F(Echotrap, RecordsWhatTheSoundCardPlays) {
    DeleteFileA("C:\\echotest.wav");
    TonePlayer tone;
    ASSERT_TRUE(tone.start(1000, 12));
    HWND recorder = startRecording("echotest");
    ASSERT_NE(recorder, nullptr) << "the recorder did not open";
    EXPECT_EQ(inputName.rfind("Monitor of ", 0), 0u) << "caption: " << inputName;
    double started = monitor.nowMs();
    sleepMs(4000);
    PostMessageA(recorder, WM_COMMAND, MAKEWPARAM(IDC_RECORD, BN_CLICKED), 0);
    double wall = (monitor.nowMs() - started) / 1000.0;
    sleepMs(300);
    PostMessageA(recorder, WM_COMMAND, MAKEWPARAM(IDC_RECORDER_EXIT, BN_CLICKED), 0);
    ASSERT_NE(app.waitForWindow("Quaverly - Tamsel", 5000), nullptr)
        << "main window not shown again";

    Wav wav;
    ASSERT_TRUE(readWav("C:\\echotest.wav", wav));
    EXPECT_EQ(wav.channels, 2);
    EXPECT_EQ(wav.bits, 16);
    EXPECT_EQ(wav.rate, 44100u);
    EXPECT_EQ(wav.riffSize, wav.fileSize - 8);
    EXPECT_EQ(wav.dataSize, wav.fileSize - 44);
    double seconds = wav.dataSize / 176400.0;
    EXPECT_NEAR(seconds, wall, wall * 0.05) << "the recording follows the wall clock";
    std::vector<float> middle(wav.samples.begin() + wav.samples.size() / 4,
                              wav.samples.begin() + wav.samples.size() * 3 / 4);
    EXPECT_NEAR(qvgen::dominantFrequency(middle.data(), middle.size() / 2, 44100), 1000, 30);
    DeleteFileA("C:\\echotest.wav");
}

TEST_F(Echotrap, ACyrillicNameIsWrittenUnderThatName) {
    std::wstring path = wide("C:\\Запись.wav");
    DeleteFileW(path.c_str());
    HWND recorder = startRecording("Запись");
    ASSERT_NE(recorder, nullptr) << "the recorder did not open";
    sleepMs(1500);
    PostMessageA(recorder, WM_COMMAND, MAKEWPARAM(IDC_RECORD, BN_CLICKED), 0);
    sleepMs(300);
    PostMessageA(recorder, WM_COMMAND, MAKEWPARAM(IDC_RECORDER_EXIT, BN_CLICKED), 0);
    ASSERT_NE(app.waitForWindow("Quaverly - Tamsel", 5000), nullptr);
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
    EXPECT_GT(data.nFileSizeLow, 44u + 176400u) << "a second of sound";
    DeleteFileW(path.c_str());
}

TEST_F(Echotrap, AKilledProgramLeavesAPlayableFile) {
    DeleteFileA("C:\\echokill.wav");
    TonePlayer tone;
    ASSERT_TRUE(tone.start(1000, 12));
    ASSERT_NE(startRecording("echokill"), nullptr);
    sleepMs(4500);
    app.kill();
    Wav wav;
    ASSERT_TRUE(readWav("C:\\echokill.wav", wav));
    EXPECT_EQ(wav.riffSize, wav.dataSize + 36) << "the two sizes agree";
    EXPECT_LE(wav.dataSize, wav.fileSize - 44);
    EXPECT_GE(wav.dataSize / 176400.0, 2.5) << "everything up to the last second is kept";
    DeleteFileA("C:\\echokill.wav");
}

// Runs a shell command on the host, as Wine starts Unix programs, without waiting for it.
void onHost(const std::string& command) {
    std::string line = "/bin/sh -c \"" + command + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
}

// Twenty seconds of a steady tone (QUAVERLY_ECHO_MINUTES for a longer run), played by the host's
// own player so that only the recording path is under test: the recording holds it without a gap
// and keeps to the wall clock.
TEST_F(Echotrap, ALongToneHasNoGapAndKeepsToTheWallClock) {
    const double minutes =
        getenv("QUAVERLY_ECHO_MINUTES") ? atof(getenv("QUAVERLY_ECHO_MINUTES")) : 1.0 / 3;
    DeleteFileA("C:\\echolong.wav");
    char tone[160];
    snprintf(tone, sizeof tone,
             "sox -q -n -r 48000 -c 2 -b 16 -t wav - synth %d sine 1000 gain -6 | paplay",
             (int)(minutes * 60) + 10);
    onHost(tone);
    sleepMs(1500);
    HWND recorder = startRecording("echolong");
    ASSERT_NE(recorder, nullptr) << "the recorder did not open";
    double started = monitor.nowMs();
    sleepMs((DWORD)(minutes * 60000));
    PostMessageA(recorder, WM_COMMAND, MAKEWPARAM(IDC_RECORD, BN_CLICKED), 0);
    double wall = (monitor.nowMs() - started) / 1000.0;
    sleepMs(500);
    onHost("pkill -x paplay");
    PostMessageA(recorder, WM_COMMAND, MAKEWPARAM(IDC_RECORDER_EXIT, BN_CLICKED), 0);
    ASSERT_NE(app.waitForWindow("Quaverly - Tamsel", 5000), nullptr);

    Wav wav;
    ASSERT_TRUE(readWav("C:\\echolong.wav", wav));
    const size_t frames = wav.samples.size() / 2;
    auto silent = [&](size_t i) {
        return fabsf(wav.samples[2 * i]) < 1e-4f && fabsf(wav.samples[2 * i + 1]) < 1e-4f;
    };
    size_t first = 0, last = frames;
    while (first < frames && silent(first))
        ++first;
    while (last > first && silent(last - 1))
        --last;
    size_t longest = 0, run = 0, runs = 0;
    for (size_t i = first; i < last; ++i) {
        run = silent(i) ? run + 1 : 0;
        runs += run == 221; // longer than 5 ms
        longest = std::max(longest, run);
    }
    const double seconds = wav.dataSize / 176400.0;
    printf("[ echolong ] %.3f s recorded in %.3f s of wall clock (%+.3f %%); tone from %.3f s to "
           "%.3f s; longest silence inside %.2f ms, %zu longer than 5 ms\n",
           seconds, wall, (seconds / wall - 1) * 100, first / 44100.0, last / 44100.0,
           longest / 44.1, runs);
    // The stop's own latency is a fixed part of the difference; drift grows with the length.
    EXPECT_NEAR(seconds, wall, std::max(wall * 0.005, 0.2))
        << "the recording follows the wall clock";
    EXPECT_LE(longest, 220u) << "a gap inside the tone";
    EXPECT_GT(last - first, frames * 9 / 10);
    DeleteFileA("C:\\echolong.wav");
}

} // namespace

// The system's media controls, against the fake activation DLL registered in the prefix for
// these tests alone, and the taskbar thumbnail's buttons through the shell-call seam.
#include <shobjidl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/windows/playback_fixture.h"
#include "ui/media_controls.h"
#include "ui/taskbar_buttons.h"
#include "ui/winrt_media.h"

namespace {

const char* const classKey = "Software\\Microsoft\\WindowsRuntime\\ActivatableClassId\\";
const char* const classes[] = {"Windows.Media.SystemMediaTransportControls",
                               "Windows.Storage.Streams.RandomAccessStreamReference"};

std::string fakePath() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    return dir.substr(0, dir.rfind('\\') + 1) + "quaverly_fake_media_controls.dll";
}

void registerFake(bool on) {
    for (const char* name : classes) {
        const std::string key = std::string(classKey) + name;
        if (!on) {
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
            continue;
        }
        HKEY handle;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_WRITE,
                                  nullptr, &handle, nullptr),
                  ERROR_SUCCESS);
        const std::string path = fakePath();
        RegSetValueExA(handle, "DllPath", 0, REG_SZ, (const BYTE*)path.c_str(),
                       (DWORD)path.size() + 1);
        RegCloseKey(handle);
    }
}

std::string media(const char* name) {
    const char* dir = getenv("QUAVERLY_MEDIA");
    std::string path = dir && dir[0] == '/' ? "Z:" : "";
    path.append(dir ? dir : "").append("/").append(name);
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

bool hotKeyFree(UINT virtualKey) {
    if (!RegisterHotKey(nullptr, 0x7000, MOD_NOREPEAT, virtualKey))
        return false;
    UnregisterHotKey(nullptr, 0x7000);
    return true;
}

class MediaControls : public PlaybackTest {
protected:
    void SetUp() override {
        registerFake(true);
        HMODULE fake = LoadLibraryA(fakePath().c_str());
        ASSERT_NE(fake, nullptr);
        readLog = (LogProc)(void*)GetProcAddress(fake, "fakeMediaControlsLog");
        press = (PressProc)(void*)GetProcAddress(fake, "fakeMediaControlsPress");
        streamOverIStream =
            (StreamOverIStreamProc)(void*)GetProcAddress(fake, "fakeStreamOverIStream");
        PlaybackTest::SetUp();
        pumpMessages(0);
        ASSERT_TRUE(mediaControlsActive());
    }
    void TearDown() override {
        PlaybackTest::TearDown();
        stopMediaControls();
        registerFake(false);
        streamOverIStream = nullptr;
    }

    // The calls logged since the last look.
    std::vector<std::string> takeLog() {
        static char text[65536];
        readLog(text, sizeof text, TRUE);
        std::vector<std::string> lines;
        for (const char *p = text, *end; *p; p = end + 1) {
            end = strchr(p, '\n');
            lines.emplace_back(p, end);
        }
        return lines;
    }
    // Pumps until the display was updated twice, with the file name and then with what the
    // tag thread read (it takes a moment).
    std::vector<std::string> logOfTrack() {
        std::vector<std::string> lines;
        for (int i = 0; i < 150; ++i) {
            for (auto& line : takeLog())
                lines.push_back(line);
            if (std::count(lines.begin(), lines.end(), "Update") >= 2)
                break;
            pumpMessages(20);
        }
        return lines;
    }

    using LogProc = void(WINAPI*)(char*, int, BOOL);
    using PressProc = BOOL(WINAPI*)(int);
    LogProc readLog = nullptr;
    PressProc press = nullptr;
};

bool has(const std::vector<std::string>& lines, const std::string& line) {
    for (auto& l : lines)
        if (l == line)
            return true;
    return false;
}

TEST_F(MediaControls, StartWithTheButtonsEnabledAndNoHotKeys) {
    auto log = takeLog(); // all since the fixture's window started them
    for (const char* line : {"GetForWindow window", "add_ButtonPressed", "IsEnabled 1",
                             "IsPlayEnabled 1", "IsPauseEnabled 1", "IsStopEnabled 1",
                             "IsNextEnabled 1", "IsPreviousEnabled 1", "PlaybackStatus 2"})
        EXPECT_TRUE(has(log, line)) << line;
    for (UINT key : {VK_MEDIA_PLAY_PAUSE, VK_MEDIA_NEXT_TRACK, VK_MEDIA_PREV_TRACK, VK_MEDIA_STOP})
        EXPECT_TRUE(hotKeyFree(key)) << "key " << key << " left to the system";
}

TEST_F(MediaControls, TitlesArtistsAndCoversReachTheDisplay) {
    if (!getenv("QUAVERLY_MEDIA"))
        GTEST_SKIP() << "QUAVERLY_MEDIA is not set";
    const struct {
        const char* file;
        bool module;
        const char* title;
        const char* artist;
        const char* thumbnail;
    } rows[] = {
        {"tagged.ogg", false, "Ogg title", "Ogg artist", "none"},
        {"tagged.mp3", false, "MP3 title", "MP3 artist", "69 bytes 89504E47"},
        {"tagged.flac", false, "FLAC title", "FLAC artist", "69 bytes 89504E47"},
        {"tagged.opus", false, "Opus title", "Opus artist", "none"},
        {"tagged.m4a", false, "M4A title", "M4A artist", "none"},
        {"tagged.xm", true, "Module title", "", "none"},
        {"tagged.mid", true, "MIDI title", "", "none"},
        {"tone440_s16_stereo_44k.wav", false, "tone440_s16_stereo_44k", "", "none"},
        // No tags of its own: the system is asked (Wine's source tells nothing).
        {"aac_440.m4a", false, "aac_440", "", "none"},
    };
    for (const auto& row : rows) {
        const std::string path = media(row.file);
        if (row.module)
            fake::script().fmodModules[path] = {};
        else
            fake::script().fmodStreams[path] = {3000, 0};
        play(path);
        std::string wanted = std::string("Title ") + row.title;
        auto log = logOfTrack();
        EXPECT_TRUE(has(log, wanted)) << row.file;
        EXPECT_TRUE(has(log, std::string("Artist ") + row.artist)) << row.file;
        EXPECT_TRUE(has(log, std::string("Thumbnail ") + row.thumbnail)) << row.file;
        EXPECT_TRUE(has(log, "Update")) << row.file;
        command(IDC_PLAY);
    }
}

TEST_F(MediaControls, ButtonsMoveThePlayerAndTheStatusFollows) {
    fake::script().fmodStreams[streamC] = {3000, 0};
    fake::script().fmodModules[moduleA] = {};
    addEntries({streamC, moduleA, unplayable});
    select(0);
    takeLog();
    using namespace winrt_media;
    const struct {
        int button;
        bool playing, paused;
        int index;
        const char* status; // the last status given, if one was
    } steps[] = {
        {ButtonPlay, true, false, 0, "PlaybackStatus 3"},
        {ButtonPause, true, true, 0, "PlaybackStatus 4"},
        {ButtonPlay, true, false, 0, "PlaybackStatus 3"},
        {ButtonNext, true, false, 1, nullptr},
        {ButtonPrevious, true, false, 0, nullptr},
        {ButtonStop, false, false, 0, "PlaybackStatus 2"},
    };
    for (const auto& step : steps) {
        ASSERT_TRUE(press(step.button));
        pumpMessages(150);
        EXPECT_EQ(!!isPlaying, step.playing) << step.button;
        EXPECT_EQ(!!isPaused, step.paused) << step.button;
        EXPECT_EQ(currentIndex, step.index) << step.button;
        auto log = takeLog();
        std::string status;
        for (auto& line : log)
            if (line.rfind("PlaybackStatus", 0) == 0)
                status = line;
        if (step.status) {
            EXPECT_EQ(status, step.status) << step.button;
        }
    }
    // The end of the list: the stream ends, and the entry after the module will not play.
    select(1);
    command(IDC_PLAY);
    fake::script().fmodModules[moduleA].order = 5;
    takeLog();
    tick();
    pumpMessages(200);
    EXPECT_FALSE(isPlaying);
    EXPECT_TRUE(has(takeLog(), "PlaybackStatus 2"));
    boxes.clear();
}

TEST_F(MediaControls, WithNothingToPlayAButtonDoesNothing) {
    using namespace winrt_media;
    for (int button : {ButtonPlay, ButtonPause, ButtonStop, ButtonNext, ButtonPrevious})
        ASSERT_TRUE(press(button));
    pumpMessages(200);
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_TRUE(fake::calls().empty());
    EXPECT_FALSE(isPlaying);
}

// The shell's calls, as the program made them.
std::vector<std::string> shellCalls;
std::string describe(const char* call, UINT count, const THUMBBUTTON* buttons) {
    std::string text = call;
    for (UINT i = 0; i < count; ++i) {
        char tip[64];
        WideCharToMultiByte(CP_ACP, 0, buttons[i].szTip, -1, tip, sizeof tip, nullptr, nullptr);
        char item[96];
        wsprintfA(item, " %u:%s%s", buttons[i].iId, tip, buttons[i].hIcon ? "" : "(no icon)");
        text += item;
    }
    return text;
}
const TaskbarCalls recordedCalls = {
    [](HWND, UINT n, THUMBBUTTON* b) { return shellCalls.push_back(describe("add", n, b)), S_OK; },
    [](HWND, UINT n, THUMBBUTTON* b) {
        return shellCalls.push_back(describe("update", n, b)), S_OK;
    },
    [](HWND, TBPFLAG state) {
        return shellCalls.push_back("state " + std::to_string(state)), S_OK;
    },
    [](HWND, ULONGLONG, ULONGLONG) { return S_OK; },
};

using TaskbarButtons = PlaybackTest;

TEST_F(TaskbarButtons, ThreeButtonsActAndPlayPauseFollowsTheState) {
    const TaskbarCalls shell = taskbarCalls;
    taskbarCalls = recordedCalls;
    shellCalls.clear();
    fake::script().fmodStreams[streamC] = {3000, 0};
    fake::script().fmodStreams[moduleB] = {3000, 0};
    addEntries({streamC, moduleB});
    select(0);
    SendMessageA(main, RegisterWindowMessageA("TaskbarButtonCreated"), 0, 0);
    ASSERT_EQ(shellCalls, std::vector<std::string>{"add 1050:Previous 1051:Play 1052:Next"});

    const struct {
        int id;
        bool playing, paused;
        int index;
        const char* update; // the Play/Pause button's new look, if it changed
    } clicks[] = {
        {IDC_THUMB_PLAY_PAUSE, true, false, 0, "update 1051:Pause"},
        {IDC_THUMB_PLAY_PAUSE, true, true, 0, "update 1051:Play"},
        {IDC_THUMB_NEXT, true, false, 1, "update 1051:Pause"},
        {IDC_THUMB_PREVIOUS, true, false, 0, nullptr},
    };
    for (const auto& click : clicks) {
        shellCalls.clear();
        SendMessageA(main, WM_COMMAND, MAKEWPARAM(click.id, THBN_CLICKED), 0);
        EXPECT_EQ(!!isPlaying, click.playing) << click.id;
        EXPECT_EQ(!!isPaused, click.paused) << click.id;
        EXPECT_EQ(currentIndex, click.index) << click.id;
        EXPECT_EQ(shellCalls, click.update ? std::vector<std::string>{click.update}
                                           : std::vector<std::string>{})
            << click.id;
    }

    // A running recording turns its window's taskbar button red, and back.
    shellCalls.clear();
    isRecording = 1;
    showRecordingOnTaskbar(main);
    isRecording = 0;
    showRecordingOnTaskbar(main);
    EXPECT_EQ(shellCalls, (std::vector<std::string>{"state 4", "state 0"}));
    taskbarCalls = shell;
}

} // namespace

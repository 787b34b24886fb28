// The main window: start state, the volume inputs, docking, the boxes, the recorder launch and the
// close sequence.
#include <stdio.h>
#include <stdlib.h>

#include "app/dpi.h"
#include "app/startup.h"
#include "audio/position_bar.h"
#include "tests/windows/main_window_fixture.h"
#include "tests/windows/playlist_helpers.h"

namespace {

using Calls = std::vector<std::string>;

class MainWindow : public MainWindowTest {
protected:
    RECT rectOf(HWND window) {
        RECT r;
        GetWindowRect(window, &r);
        return r;
    }
    void expectDocked() {
        RECT frame = rectOf(main), playlist = rectOf(playlistWindowHandle);
        EXPECT_EQ(playlist.left, frame.right);
        EXPECT_EQ(playlist.top, frame.top);
        // 265 x 273 at 96 DPI, scaled to the screen's (the tests run at 96, the screenshot also
        // at 144).
        HDC screen = GetDC(nullptr);
        int dpi = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
        EXPECT_EQ(playlist.right - playlist.left, MulDiv(265, dpi, 96));
        EXPECT_EQ(playlist.bottom - playlist.top, MulDiv(273, dpi, 96));
    }
    void moveMain(int x, int y) {
        SetWindowPos(main, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    void setShowPlaylist(bool on) {
        CheckDlgButton(main, IDC_SHOW_PLAYLIST, on ? BST_CHECKED : BST_UNCHECKED);
        command(IDC_SHOW_PLAYLIST);
    }
    void scroll(WORD code, WORD position = 0) {
        SendMessageA(main, WM_HSCROLL, MAKEWPARAM(code, position), (LPARAM)volumeScrollBar);
    }
    void wheel(short delta) { SendMessageA(main, WM_MOUSEWHEEL, MAKEWPARAM(0, (WORD)delta), 0); }
    // Types into the volume box as a user would: select everything, then the keys.
    void typeVolume(const char* keys) {
        HWND box = GetDlgItem(main, IDC_VOLUME_EDIT);
        SendMessageA(box, EM_SETSEL, 0, -1);
        if (!*keys)
            SendMessageA(box, WM_CHAR, VK_BACK, 0);
        for (const char* k = keys; *k; ++k)
            SendMessageA(box, WM_CHAR, *k, 0);
    }
    int thumb() { return GetScrollPos(volumeScrollBar, SB_CTL); }
    std::string lastCall() { return fake::calls().empty() ? "" : fake::calls().back(); }
    void loadStream() {
        fake::script().fmodStreams["C:\\v.ogg"] = {};
        fmodStream = FSOUND_Stream_Open("C:\\v.ogg", 0, 0, 0);
        fake::clearCalls();
    }
};

TEST_F(MainWindow, StartsAtVolume20WithTheHiddenPlaylistOwned) {
    EXPECT_EQ(controlText(IDC_VOLUME_EDIT), "20");
    EXPECT_EQ(volume, 20);
    EXPECT_EQ(volumeScrollInfo.nPos, 20);
    EXPECT_EQ(thumb(), 20);
    EXPECT_EQ(GetWindowLongPtrA(positionBar, GWLP_WNDPROC), (LONG_PTR)positionBarProc);
    EXPECT_NE(oldPositionBarProc, nullptr);
    ASSERT_TRUE(IsWindow(playlistWindowHandle));
    EXPECT_EQ(GetWindow(playlistWindowHandle, GW_OWNER), main);
    EXPECT_FALSE(IsWindowVisible(playlistWindowHandle));
    EXPECT_EQ(GetParent(playlistBox), playlistWindowHandle);
}

TEST_F(MainWindow, ScrollBarStepsDragsAndIgnoresTheTrough) {
    loadStream();
    scroll(SB_THUMBTRACK, 254);
    EXPECT_EQ(volume, 254);
    EXPECT_EQ(controlText(IDC_VOLUME_EDIT), "254");
    EXPECT_EQ(thumb(), 254);
    EXPECT_EQ(lastCall(), "FSOUND_SetVolume(-3,254)");

    scroll(SB_THUMBPOSITION, 100);
    scroll(SB_LINERIGHT);
    EXPECT_EQ(volume, 101);
    EXPECT_EQ(thumb(), 101);

    fake::clearCalls();
    for (WORD code : {SB_PAGELEFT, SB_PAGERIGHT, SB_LEFT, SB_RIGHT, SB_ENDSCROLL})
        scroll(code);
    EXPECT_EQ(volume, 101);
    EXPECT_EQ(thumb(), 101);
    EXPECT_EQ(lastCall(), "FSOUND_SetVolume(-3,101)"); // the closing writes re-apply it

    // Another scroll bar's message is not the volume's.
    fake::clearCalls();
    SendMessageA(main, WM_HSCROLL, SB_LINERIGHT, 0);
    EXPECT_EQ(volume, 101);
    EXPECT_TRUE(fake::calls().empty());
}

TEST_F(MainWindow, VolumeIsNotClampedAnywhere) {
    loadStream();
    typeVolume("0");
    scroll(SB_LINELEFT);
    EXPECT_EQ(volume, -1);
    EXPECT_EQ(controlText(IDC_VOLUME_EDIT), "4294967295");
    EXPECT_EQ(thumb(), 0);
    EXPECT_EQ(lastCall(), "FSOUND_SetVolume(-3,-1)");

    typeVolume("300");
    EXPECT_EQ(volume, 300);
    EXPECT_EQ(volumeScrollInfo.nPos, 300);
    EXPECT_EQ(thumb(), 254);
    EXPECT_EQ(lastCall(), "FSOUND_SetVolume(-3,300)");

    typeVolume("");
    EXPECT_EQ(volume, 0);
    EXPECT_EQ(lastCall(), "FSOUND_SetVolume(-3,0)");
}

// A fast wheel sends several notches in one message; the sign alone says which way.
TEST_F(MainWindow, WheelStepsByFiveInTheDirectionOfItsSign) {
    loadStream();
    const std::pair<short, int> steps[] = {{120, 25}, {-120, 20}, {240, 25}, {360, 30}, {-480, 25}};
    for (auto [delta, expected] : steps) {
        wheel(delta);
        EXPECT_EQ(volume, expected) << "delta " << delta;
        EXPECT_EQ(controlText(IDC_VOLUME_EDIT), std::to_string(expected));
        EXPECT_EQ(thumb(), expected);
        EXPECT_EQ(lastCall(), "FSOUND_SetVolume(-3," + std::to_string(expected) + ")");
    }
}

TEST_F(MainWindow, VolumeGoesToTheEngineThatHoldsTheTrack) {
    typeVolume("42");
    EXPECT_TRUE(fake::calls().empty()) << "no engine, no call";

    fake::script().fmodModules["C:\\m.it"] = {};
    fmodModule = FMUSIC_LoadSong("C:\\m.it");
    typeVolume("43");
    EXPECT_EQ(lastCall(), "FMUSIC_SetMasterVolume(C:\\m.it,43)");
    fmodModule = nullptr;

    fake::script().bassMusics["C:\\b.xm"] = {};
    bassMusic = BASS_MusicLoad(FALSE, "C:\\b.xm", 0, 0, 0, 0);
    typeVolume("44");
    EXPECT_EQ(lastCall(), "BASS_SetVolume(44)");
    bassMusic = 0;
}

TEST_F(MainWindow, PlaylistDocksAtTheRightEdgeOnEveryMove) {
    setShowPlaylist(true);
    EXPECT_TRUE(IsWindowVisible(playlistWindowHandle));
    expectDocked(); // already in place when first shown

    moveMain(120, 60);
    expectDocked();

    // A size the user gave the playlist lasts only until the next move.
    SetWindowPos(playlistWindowHandle, nullptr, 0, 0, 400, 120, SWP_NOMOVE | SWP_NOZORDER);
    moveMain(90, 80);
    expectDocked();

    setShowPlaylist(false);
    EXPECT_FALSE(IsWindowVisible(playlistWindowHandle));
    moveMain(30, 20);
    expectDocked(); // hidden, but docked all the same

    // Before the playlist exists there is nothing to move.
    HWND playlist = playlistWindowHandle;
    playlistWindowHandle = nullptr;
    RECT before = rectOf(playlist);
    moveMain(200, 100);
    playlistWindowHandle = playlist;
    RECT after = rectOf(playlist);
    EXPECT_TRUE(EqualRect(&before, &after));
}

// Per-monitor v1 (a system that falls back from v2) leaves the move to the window itself.
TEST_F(MainWindow, DpiChangeTakesTheSuggestedRectangleWhereTheSystemDoesNot) {
    const RECT suggested = {150, 70, 150 + 700, 70 + 500};
    auto real = dpiScaledBySystem;
    dpiScaledBySystem = [](HWND) { return false; };
    SendMessageA(main, WM_DPICHANGED, MAKEWPARAM(144, 144), (LPARAM)&suggested);
    dpiScaledBySystem = real;
    pumpMessages(50);
    RECT frame = rectOf(main);
    EXPECT_TRUE(EqualRect(&frame, &suggested));
    expectDocked();
}

TEST_F(MainWindow, MinimisingHidesThePlaylistAndRestoringDocksItAgain) {
    moveMain(100, 100);
    setShowPlaylist(true);
    SetActiveWindow(main);
    // As the title bar's buttons do it.
    SendMessageA(main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    pumpMessages(100);
    EXPECT_TRUE(IsIconic(main));
    EXPECT_FALSE(IsWindowVisible(playlistWindowHandle));
    SendMessageA(main, WM_SYSCOMMAND, SC_RESTORE, 0);
    pumpMessages(100);
    EXPECT_TRUE(IsWindowVisible(playlistWindowHandle));
    expectDocked();
}

TEST_F(MainWindow, AboutAndRecorderInformationBoxes) {
    command(IDC_ABOUT);
    command(IDC_RECORDER_INFO);
    ASSERT_EQ(boxes.boxes().size(), 2u);
    const ShownBox& about = boxes.boxes()[0];
    EXPECT_EQ(about.caption, "QVL_Vuvov V1.2");
    EXPECT_EQ(about.owner, main);
    EXPECT_EQ(std::count(about.text.begin(), about.text.end(), '\n'), 2) << about.text;
    const ShownBox& info = boxes.boxes()[1];
    EXPECT_EQ(info.caption, "About Echotrap!");
    EXPECT_EQ(info.owner, main);
    EXPECT_EQ(info.text,
              "Echotrap is Sondrel Recorder.\nIt records the audio currently being processed by "
              "the system.\ne.g. Audio of media player, game OR other sources can be saved in a "
              "file.\nThe way we take screenshots");
}

TEST_F(MainWindow, RecorderRunsWhileTheMainWindowIsHidden) {
    setShowPlaylist(true);
    fake::script().inputs = {{BASS_INPUT_TYPE_WAVE, "Stereo Mix"}};
    bool recorderSeen = false, mainHidden = false, playlistUsable = false;
    HWND recorderOwner = main;
    boxes.onDialog([&](HWND window) {
        if (!isRecorderWindow(window) || recorderSeen)
            return false;
        recorderSeen = true;
        mainHidden = !IsWindowVisible(main);
        playlistUsable =
            IsWindowVisible(playlistWindowHandle) && IsWindowEnabled(playlistWindowHandle);
        recorderOwner = GetWindow(window, GW_OWNER);
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_RECORDER_EXIT, BN_CLICKED), 0);
        return true;
    });
    command(IDC_LAUNCH_RECORDER);
    EXPECT_TRUE(recorderSeen);
    EXPECT_TRUE(mainHidden);
    EXPECT_TRUE(playlistUsable);
    EXPECT_EQ(recorderOwner, nullptr);
    EXPECT_TRUE(IsWindowVisible(main));
}

TEST_F(MainWindow, RecorderRefusedWhileATrackIsLoadedEvenPaused) {
    isPlaying = isPaused = 1;
    bool recorderSeen = false;
    boxes.onDialog([&](HWND window) {
        recorderSeen |= isRecorderWindow(window);
        return false;
    });
    command(IDC_LAUNCH_RECORDER);
    isPlaying = isPaused = 0;
    EXPECT_FALSE(recorderSeen);
    EXPECT_TRUE(IsWindowVisible(main));
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Please stop the song");
    EXPECT_EQ(boxes.boxes()[0].caption, "INFORMATION");
    EXPECT_EQ(boxes.boxes()[0].owner, main);
}

// The close sequence, for each state a run can end in.
class CloseSequence : public MainWindow {
protected:
    void close() {
        PlayCommands commands(main);
        SendMessageA(main, WM_CLOSE, 0, 0);
        playCommands = PlayCommands::sent;
        playAt = PlayCommands::callsBefore;
    }
    std::vector<std::pair<WPARAM, LPARAM>> playCommands;
    std::vector<size_t> playAt;
};

TEST_F(CloseSequence, IdleWithoutBassLeavesTheBassVolumeAlone) {
    setShowPlaylist(true);
    close();
    EXPECT_EQ(fake::calls(), (Calls{"BASS_Stop()", "BASS_Free()", "FSOUND_Close()"}));
    EXPECT_TRUE(playCommands.empty());
    EXPECT_FALSE(IsWindowVisible(main));
    EXPECT_FALSE(IsWindowVisible(playlistWindowHandle));
}

TEST_F(CloseSequence, PlayingStopsThroughPlayCommandAfterTheBassVolume) {
    savedBassVolume = 90;
    isPlaying = 1;
    close();
    Calls calls = fake::calls();
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(calls.front(), "BASS_SetVolume(125)");
    EXPECT_EQ(Calls(calls.end() - 3, calls.end()),
              (Calls{"BASS_Stop()", "BASS_Free()", "FSOUND_Close()"}));
    ASSERT_EQ(playCommands.size(), 1u);
    EXPECT_EQ(playCommands[0], (std::pair<WPARAM, LPARAM>{IDC_PLAY, 0}));
    EXPECT_EQ(playAt[0], 1u) << "the stop comes after the volume and before BASS stops";
    isPlaying = 0;
}

TEST_F(CloseSequence, StoppedAfterBassSetsVolume125AndReleasesTrayMenu) {
    savedBassVolume = 90;
    trayMenu = CreatePopupMenu();
    HMENU menu = trayMenu;
    close();
    EXPECT_EQ(fake::calls(),
              (Calls{"BASS_SetVolume(125)", "BASS_Stop()", "BASS_Free()", "FSOUND_Close()"}));
    EXPECT_TRUE(playCommands.empty());
    EXPECT_FALSE(IsMenu(menu));
    EXPECT_EQ(trayMenu, nullptr);
}

TEST_F(CloseSequence, DeletesTheTrayIcon) {
    ASSERT_TRUE(Shell_NotifyIconA(NIM_ADD, &trayIconData));
    close();
    EXPECT_FALSE(Shell_NotifyIconA(NIM_MODIFY, &trayIconData)) << "the icon is still there";
    Shell_NotifyIconA(NIM_DELETE, &trayIconData);
}

// The whole run, as start-up runs it: Exit ends both windows and the program returns 0.
TEST(MainWindowRun, ExitEndsBothWindowsWithStatusZero) {
    fake::reset();
    resetApplicationState();
    ModalBoxes boxes;
    HWND shown = nullptr;
    boxes.onDialog([&](HWND window) {
        if (windowText(window) == "Quaverly - Tamsel" && !shown) {
            shown = window;
            PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_EXIT, BN_CLICKED), 0);
        }
        return false;
    });
    EXPECT_EQ(runQuaverly(GetModuleHandleA(nullptr)), 0);
    EXPECT_NE(shown, nullptr);
    EXPECT_FALSE(IsWindow(mainWindowHandle));
    EXPECT_FALSE(IsWindow(playlistWindowHandle));
    EXPECT_EQ(playlistMenu, nullptr);
    Calls calls = fake::calls();
    EXPECT_EQ(Calls(calls.end() - 3, calls.end()),
              (Calls{"BASS_Stop()", "BASS_Free()", "FSOUND_Close()"}));
    EXPECT_FALSE(boxes.timedOut());
}

// Writes the screen's pixels inside the rectangle as a 24-bit BMP.
bool saveScreenRect(const RECT& r, const std::string& path) {
    int width = r.right - r.left, height = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);

    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    int stride = (width * 3 + 3) & ~3;
    std::vector<char> pixels(stride * height);
    GetDIBits(memory, bitmap, 0, height, pixels.data(), (BITMAPINFO*)&info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + (DWORD)pixels.size();
    FILE* out = fopen(path.c_str(), "wb");
    if (!out)
        return false;
    fwrite(&file, sizeof file, 1, out);
    fwrite(&info, sizeof info, 1, out);
    fwrite(pixels.data(), 1, pixels.size(), out);
    return fclose(out) == 0;
}

// The picture in the README: the main window with the playlist docked and a few entries.
TEST_F(MainWindow, Screenshot) {
    moveMain(24, 24);
    dropOn(main, {"C:\\Music\\Aurora Tide - Morning Light.ogg", "C:\\Music\\chiptune_dreams.xm",
                  "C:\\Music\\Lowland - Harbour.mp3", "C:\\Music\\space_debris_remix.mod",
                  "C:\\Music\\Night Train.it"});
    setShowPlaylist(true);
    SetForegroundWindow(main);
    pumpMessages(500);
    expectDocked();
    const char* dir = getenv("QUAVERLY_SCREENSHOT_DIR");
    if (!dir)
        return;
    // A Unix path from the test's environment is reached through Wine's drive for the root.
    std::string folder = dir[0] == '/' ? std::string("Z:") + dir : dir;
    RECT frame = rectOf(main), playlist = rectOf(playlistWindowHandle), both;
    UnionRect(&both, &frame, &playlist);
    InflateRect(&both, 8, 8);
    EXPECT_TRUE(saveScreenRect(both, folder + "\\main_window.bmp"));
}

} // namespace

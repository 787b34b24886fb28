// A main window with a playlist, the position bar subclassed and the volume box at 20, for the
// tests of the track player, the tick, navigation and seeking. Header only: the test target
// picks up test_*.cpp files by themselves.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "app/ids.h"
#include "app/state.h"
#include "audio/position_bar.h"
#include "audio/track_player.h"
#include "tests/windows/main_window_fixture.h"

// One file per engine; each test scripts the ones it plays.
inline const char* const moduleA = "C:\\a.mod";
inline const char* const moduleB = "C:\\b.xm";
inline const char* const streamC = "C:\\c.ogg";
inline const char* const bassD = "C:\\d.mtm";
inline const char* const unplayable = "C:\\e.txt";

class PlaybackTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        if (HasFatalFailure())
            return;
        // Until the main window sets these up itself, the tests stand in for it.
        if (!positionBar)
            positionBar = GetDlgItem(main, IDC_POSITION_BAR);
        if (!oldPositionBarProc)
            oldPositionBarProc =
                (WNDPROC)SetWindowLongPtrA(positionBar, GWLP_WNDPROC, (LONG_PTR)positionBarProc);
        if (!playlistBox)
            playlistBox = ownListBox = CreateWindowExA(0, "LISTBOX", "", WS_POPUP, 0, 0, 200, 100,
                                                       main, nullptr, nullptr, nullptr);
        SetDlgItemInt(main, IDC_VOLUME_EDIT, 20, FALSE);
        ASSERT_EQ(volume, 20);
        fake::clearCalls();
    }

    void TearDown() override {
        if (ownListBox)
            DestroyWindow(ownListBox);
        MainWindowTest::TearDown();
    }

    // Appends the paths; trackCount follows, as an addition leaves it.
    void addEntries(const std::vector<std::string>& paths) {
        for (const std::string& path : paths)
            SendMessageA(playlistBox, LB_ADDSTRING, 0, (LPARAM)path.c_str());
        trackCount = (int)SendMessageA(playlistBox, LB_GETCOUNT, 0, 0);
    }

    // Selects the entry and makes it the current one, as a click on it and a play would.
    void select(int index) {
        SendMessageA(playlistBox, LB_SETCURSEL, index, 0);
        currentIndex = index;
    }

    // Adds the path, selects it and plays it; the call log then starts afresh.
    void play(const std::string& path) {
        addEntries({path});
        select(trackCount - 1);
        command(IDC_PLAY);
        ASSERT_TRUE(isPlaying) << path;
        fake::clearCalls();
    }

    void tick() { SendMessageA(main, WM_TIMER, TICK_TIMER_ID, 0); }
    void setLoop(bool ticked) {
        CheckDlgButton(main, IDC_LOOP, ticked ? BST_CHECKED : BST_UNCHECKED);
    }
    // Writing the box makes it notify, which runs applyVolume.
    void setVolumeText(const char* text) { SetDlgItemTextA(main, IDC_VOLUME_EDIT, text); }

    void mouse(UINT message, int x, WPARAM keys) {
        SendMessageA(positionBar, message, keys, MAKELPARAM(x, 5));
    }
    void click(int x) { mouse(WM_LBUTTONDOWN, x, MK_LBUTTON); }
    // Makes the bar's window rectangle this wide, border included.
    void setBarWidth(int width) {
        SetWindowPos(positionBar, nullptr, 0, 0, width, 14, SWP_NOMOVE | SWP_NOZORDER);
    }

    int selection() { return (int)SendMessageA(playlistBox, LB_GETCURSEL, 0, 0); }
    int barPosition() { return (int)SendMessageA(positionBar, PBM_GETPOS, 0, 0); }
    int barMaximum() { return (int)SendMessageA(positionBar, PBM_GETRANGE, FALSE, 0); }
    std::string status() { return controlText(IDC_STATUS); }
    std::string playCaption() { return controlText(IDC_PLAY); }
    std::string pauseCaption() { return controlText(IDC_PAUSE); }
    // Whether the tick timer was armed; asking kills it.
    bool tickTimerWasRunning() { return KillTimer(main, TICK_TIMER_ID) != FALSE; }

    std::vector<std::string> engineCalls() {
        return fake::callsStartingWith({"FMUSIC_", "FSOUND_", "BASS_"});
    }

private:
    HWND ownListBox = nullptr;
};

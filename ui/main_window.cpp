#include "ui/main_window.h"

#include "app/ids.h"
#include "app/state.h"
#include "audio/position_bar.h"
#include "audio/track_player.h"
#include "playlist/navigation.h"
#include "playlist/open_dialog.h"
#include "playlist/playlist_window.h"
#include "recorder/recorder_window.h"
#include "ui/tray.h"

namespace {

void onInitDialog(HWND window) {
    mainWindowHandle = window;
    trayIconData.hWnd = window;
    trayIconData.uCallbackMessage = WM_TRAYNOTIFY;
}

void dockPlaylist() {}
void onVolumeScroll(WPARAM, LPARAM) {}
void onMouseWheel(WPARAM) {}
void onDropFiles(WPARAM, LPARAM) {}
void showPlaylist() {}
void showAbout() {}
void launchRecorder() {}
void showRecorderInfo() {}

void closeSequence(HWND window) {
    EndDialog(window, 0);
}

// Returns the dialog result for the command.
INT_PTR onCommand(HWND window, WORD id) {
    switch (id) {
    case IDC_PLAY:
        if (isPlaying)
            stopTrack();
        else
            playSelectedTrack();
        break;
    case IDC_EXIT: SendMessageA(window, WM_CLOSE, 0, 0); return TRUE;
    case IDC_OPEN: addTracksFromOpenDialog(); break;
    case IDC_PAUSE: togglePause(); break;
    case IDC_VOLUME_EDIT: applyVolume(); break;
    case IDC_ABOUT: showAbout(); break;
    case IDC_GO_TO_TRAY: goToTray(); break;
    case IDC_SHOW_PLAYLIST: showPlaylist(); break;
    case IDC_NEXT: nextTrack(); break;
    case IDC_PREVIOUS: previousTrack(); break;
    case IDM_TRAY_MAXIMIZE: restoreFromTray(); break;
    case IDC_LAUNCH_RECORDER: launchRecorder(); break;
    case IDC_RECORDER_INFO: showRecorderInfo(); break;
    }
    return FALSE;
}

} // namespace

INT_PTR CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: onInitDialog(window); return FALSE;
    case WM_MOVE: dockPlaylist(); return FALSE;
    case WM_CLOSE: closeSequence(window); return TRUE;
    case WM_COMMAND: return onCommand(window, LOWORD(wParam));
    case WM_TIMER:
        if (wParam == TICK_TIMER_ID)
            onTick();
        return FALSE;
    case WM_HSCROLL: onVolumeScroll(wParam, lParam); return FALSE;
    case WM_MOUSEWHEEL: onMouseWheel(wParam); return FALSE;
    case WM_DROPFILES: onDropFiles(wParam, lParam); return FALSE;
    case WM_TRAYNOTIFY: onTrayNotify(lParam); return FALSE;
    }
    return FALSE;
}

#include "ui/main_window.h"

#include "app/dpi.h"
#include "app/ids.h"
#include "app/startup.h"
#include "app/state.h"
#include "app/texts.h"
#include "audio/position_bar.h"
#include "audio/track_player.h"
#include "playlist/navigation.h"
#include "playlist/open_dialog.h"
#include "playlist/playlist_window.h"
#include "recorder/recorder_window.h"
#include "ui/media_controls.h"
#include "ui/media_keys.h"
#include "ui/taskbar_buttons.h"
#include "ui/tray.h"

namespace {

const int playlistWidth = 265;
const int playlistHeight = 273;
const int wheelStep = 5;

const char* const aboutCaption = "QVL_Vuvov V1.2";
const char* const aboutText = "Quaverly, written by the Quaverly team\n"
                              "https://quaverly.example.org\n"
                              "team@quaverly.example.org";

const char* const recorderInfoCaption = "About Echotrap!";
const char* const recorderInfoText =
    "Echotrap is Sondrel Recorder.\nIt records the audio currently being processed by the "
    "system.\ne.g. Audio of media player, game OR other sources can be saved in a file.\nThe way "
    "we take screenshots";

// The playlist stands at the main window's right edge, top aligned, always at its own size,
// scaled to the main window's DPI.
void dockPlaylist() {
    if (!playlistWindowHandle)
        return;
    RECT frame;
    GetWindowRect(mainWindowHandle, &frame);
    MoveWindow(playlistWindowHandle, frame.right, frame.top,
               scaledForWindow(mainWindowHandle, playlistWidth),
               scaledForWindow(mainWindowHandle, playlistHeight), TRUE);
}

// Writing the box makes it notify; that notification (applyVolume) brings the scroll record and
// the engine up to date.
void writeVolume() {
    SetDlgItemInt(mainWindowHandle, IDC_VOLUME_EDIT, (UINT)volume, FALSE);
    SetScrollInfo(volumeScrollBar, SB_CTL, &volumeScrollInfo, TRUE);
}

void onInitDialog(HWND window) {
    mainWindowHandle = window;
    trayIconData.hWnd = window;
    trayIconData.uCallbackMessage = WM_TRAYNOTIFY;

    // Before the box is written: its notification writes the scroll bar.
    volumeScrollBar = GetDlgItem(window, IDC_VOLUME_SCROLL);
    positionBar = GetDlgItem(window, IDC_POSITION_BAR);

    SetDlgItemInt(window, IDC_VOLUME_EDIT, (UINT)volumeScrollInfo.nPos, FALSE);
    SetScrollInfo(volumeScrollBar, SB_CTL, &volumeScrollInfo, TRUE);

    oldPositionBarProc =
        (WNDPROC)SetWindowLongPtrA(positionBar, GWLP_WNDPROC, (LONG_PTR)positionBarProc);

    playlistWindowHandle = CreateDialogParamA(appInstance, MAKEINTRESOURCEA(IDD_PLAYLIST), window,
                                              playlistWindowProc, 0);
    // A dialog need not be moved after its initialisation: dock now, so that the playlist is in
    // place when first shown.
    dockPlaylist();
    allowTaskbarCreated(window);
    // The shell's media controls cost start-up time: they wait until the window shows.
    PostMessageA(window, WM_SHELL_START, 0, 0);
}

// The system's media controls carry the media keys where they exist; elsewhere the hot keys do.
void onShellStart(HWND window) {
    if (!startMediaControls(window))
        registerMediaKeys(window);
}

void followState() {
    followPlayerState();
    followTaskbarState();
}

void onVolumeScroll(WPARAM wParam, LPARAM lParam) {
    if ((HWND)lParam != volumeScrollBar)
        return;
    switch (LOWORD(wParam)) {
    case SB_LINELEFT: --volume; break;
    case SB_LINERIGHT: ++volume; break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK:
        volumeScrollInfo.nPos = HIWORD(wParam);
        volume = volumeScrollInfo.nPos;
        break;
    }
    writeVolume();
}

// Several notches can arrive as one message with a larger delta: only the sign says which way.
void onMouseWheel(WPARAM wParam) {
    if (GET_WHEEL_DELTA_WPARAM(wParam) < 0)
        volume -= wheelStep;
    else
        volume += wheelStep;
    writeVolume();
}

// The list box hands the drop on to the playlist window, which adds the files and releases it.
void onDropFiles(WPARAM wParam, LPARAM lParam) {
    SendMessageA(playlistBox, WM_DROPFILES, wParam, lParam);
}

void showPlaylist() {
    bool ticked = IsDlgButtonChecked(mainWindowHandle, IDC_SHOW_PLAYLIST) == BST_CHECKED;
    ShowWindow(playlistWindowHandle, ticked ? SW_SHOWNORMAL : SW_HIDE);
}

void showAbout() {
    MessageBoxA(mainWindowHandle, aboutText, aboutCaption, MB_OK);
}

void launchRecorder() {
    if (isPlaying) {
        MessageBoxA(mainWindowHandle, "Please stop the song", CAPTION_INFORMATION, MB_OK);
        return;
    }
    // The recorder shows the main window again when it ends.
    ShowWindow(mainWindowHandle, SW_HIDE);
    DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_RECORDER), nullptr, recorderWindowProc, 0);
}

void showRecorderInfo() {
    MessageBoxA(mainWindowHandle, recorderInfoText, recorderInfoCaption, MB_OK);
}

void closeSequence(HWND window) {
    // Exit can come from inside a box of a play; that play must not go on into freed libraries.
    abandonPlayUnderWay();
    // Only a BASS track changes the output volume, so BASS is left alone when none ever played.
    if (savedBassVolume != 0)
        BASS_SetVolume(125);
    if (trayMenu) {
        DestroyMenu(trayMenu);
        trayMenu = nullptr;
    }
    Shell_NotifyIconA(NIM_DELETE, &trayIconData);
    unregisterMediaKeys(window);
    stopMediaControls();
    releaseTaskbarButtons();
    if (isPlaying)
        SendMessageA(window, WM_COMMAND, IDC_PLAY, 0);
    shutdownBass();
    FSOUND_Close();
    EndDialog(playlistWindowHandle, 0);
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
    // The shell's own broadcasts (a restarted taskbar) carry numbers known only at run time.
    if (onTrayMessage(message))
        return FALSE;
    if (isTaskbarButtonCreated(message)) {
        onTaskbarButtonCreated(window);
        return FALSE;
    }
    switch (message) {
    case WM_INITDIALOG: onInitDialog(window); return FALSE;
    case WM_MOVE: dockPlaylist(); return FALSE;
    // The window is rescaled after this (by the dialog manager under per-monitor v2); the
    // playlist follows once it has.
    case WM_DPICHANGED:
        followDpiChange(window, lParam);
        PostMessageA(window, WM_REDOCK, 0, 0);
        return FALSE;
    case WM_REDOCK: dockPlaylist(); return FALSE;
    case WM_CLOSE: closeSequence(window); return TRUE;
    case WM_COMMAND: {
        INT_PTR result = FALSE;
        if (HIWORD(wParam) == THBN_CLICKED)
            onThumbButton(LOWORD(wParam));
        else
            result = onCommand(window, LOWORD(wParam));
        followState();
        return result;
    }
    case WM_TIMER:
        if (wParam == TICK_TIMER_ID)
            onTick();
        followState();
        return FALSE;
    case WM_SHELL_START: onShellStart(window); return FALSE;
    case WM_MEDIA_BUTTON: onMediaButton(wParam); return FALSE;
    case WM_TRACK_TAGS: onTrackTags(wParam, lParam); return FALSE;
    case WM_HSCROLL: onVolumeScroll(wParam, lParam); return FALSE;
    case WM_MOUSEWHEEL: onMouseWheel(wParam); return FALSE;
    case WM_DROPFILES: onDropFiles(wParam, lParam); return FALSE;
    case WM_TRAYNOTIFY: onTrayNotify(lParam); return FALSE;
    case WM_HOTKEY: onHotKey(wParam); return FALSE;
    case WM_APPCOMMAND:
        if (!onAppCommand(lParam))
            return FALSE;
        SetWindowLongPtrA(window, DWLP_MSGRESULT, TRUE);
        return TRUE;
    }
    return FALSE;
}

#include "playlist/playlist_window.h"

#include <shellapi.h>

#include <string.h>

#include <string>
#include <vector>

#include "app/dpi.h"
#include "app/ids.h"
#include "app/state.h"
#include "audio/track_player.h"
#include "app/texts.h"
#include "playlist/playlist_entries.h"
#include "playlist/playlist_file.h"

void(WINAPI* releaseDrop)(HDROP drop) = DragFinish;

namespace {

const int initialExtent = 500;

WNDPROC oldListBoxProc;

// Copies an entry into trackPathBuffer, or empties the buffer when the entry would not fit.
void copyEntry(int index) {
    LRESULT length = SendMessageA(playlistBox, LB_GETTEXTLEN, index, 0);
    if (length == LB_ERR || length >= trackPathSize) {
        trackPathBuffer[0] = '\0';
        return;
    }
    SendMessageA(playlistBox, LB_GETTEXT, index, (LPARAM)trackPathBuffer);
}

enum DroppedPath { PathRead, PathTooLong, PathOutsideCodePage };

// Copies one dropped path into trackPathBuffer in the program's 8-bit text (UTF-8 under our
// manifest), or refuses it when it does not fit whole or that text cannot hold it. The path is
// read in UTF-16 and measured in bytes, since one character may take several.
DroppedPath queryDroppedPath(HDROP drop, UINT index, std::wstring& wide) {
    UINT length = DragQueryFileW(drop, index, nullptr, 0);
    if (length == 0 || length >= 32768)
        return PathTooLong;
    wide.assign(length + 1, L'\0');
    DragQueryFileW(drop, index, wide.data(), length + 1);
    wide.resize(length);
    std::string path;
    if (!narrowName(wide.c_str(), path))
        return PathOutsideCodePage;
    if (path.size() >= (size_t)trackPathSize)
        return PathTooLong;
    memcpy(trackPathBuffer, path.c_str(), path.size() + 1);
    return PathRead;
}

void addDroppedFiles(HDROP drop) {
    UINT count = DragQueryFileA(drop, 0xFFFFFFFF, trackPathBuffer, trackPathSize);
    if (count == 0) {
        releaseDrop(drop);
        return;
    }
    SendMessageA(playlistBox, WM_SETREDRAW, FALSE, 0);
    takeMissingEntries();
    bool skipped = false;
    std::vector<std::wstring> outside;
    std::wstring wide;
    for (UINT i = 0; i < count; ++i) {
        // A path cut short at the buffer's end, or one with characters replaced, would name
        // another file.
        DroppedPath read = queryDroppedPath(drop, i, wide);
        if (read == PathOutsideCodePage)
            outside.push_back(wide);
        if (read != PathRead) {
            skipped = skipped || read == PathTooLong;
            continue;
        }
        skipped = !addPathOrPlaylist(trackPathBuffer) || skipped;
    }
    releaseDrop(drop);
    reselectAndRecount();
    SendMessageA(playlistBox, WM_SETREDRAW, TRUE, 0);
    reportSkippedEntries(playlistBox, skipped ? TEXT_PATH_TOO_LONG : nullptr);
    takeEntriesOutsideCodePage(outside);
    reportNamesOutsideCodePage(playlistBox, outside);
}

// Stop first when a track plays, so the command that follows plays the clicked entry.
void playDoubleClicked() {
    // A play still showing one of its boxes owns the current entry and the path buffer.
    if (playUnderWay())
        return;
    currentIndex = (int)SendMessageA(playlistBox, LB_GETCURSEL, 0, 0);
    copyEntry(currentIndex);
    if (isPlaying)
        SendMessageA(mainWindowHandle, WM_COMMAND, IDC_PLAY, 0);
    SendMessageA(mainWindowHandle, WM_COMMAND, IDC_PLAY, 0);
}

// Deletes the selected entry and selects the one that took its place, so Play plays it. The
// current entry stays the same track; when it is the one removed, the entry before it becomes
// current and is marked so, so that Next plays the one that followed and Previous this one.
void removeSelected() {
    int selected = (int)SendMessageA(playlistBox, LB_GETCURSEL, 0, 0);
    if (selected < 0)
        return;
    SendMessageA(playlistBox, LB_DELETESTRING, selected, 0);
    if (selected == currentIndex)
        currentEntryRemoved = true;
    if (selected <= currentIndex)
        --currentIndex;
    trackCount = (int)SendMessageA(playlistBox, LB_GETCOUNT, 0, 0);
    if (trackCount > 0)
        SendMessageA(playlistBox, LB_SETCURSEL, selected < trackCount ? selected : trackCount - 1,
                     0);
}

// A playing track plays on; when it ends, Next starts at the first of the entries added next.
void clearPlaylist() {
    SendMessageA(playlistBox, LB_RESETCONTENT, 0, 0);
    trackPathBuffer[0] = '\0';
    trackCount = 0;
    currentIndex = -1;
    currentEntryRemoved = false;
}

void showMenu() {
    POINT cursor;
    GetCursorPos(&cursor);
    // The list box owns the menu so that its commands stay here and never reach the main window,
    // where the same numbers are the recorder buttons.
    TrackPopupMenu(playlistMenu, TPM_RIGHTALIGN, cursor.x, cursor.y, 0, playlistBox, nullptr);
    SetFocus(playlistBox);
}

// The list box of Common Controls 6 keeps its text in UTF-16. Wine passes it on to 8-bit callers
// through a buffer of 512 characters, and counts characters where they need bytes: the text goes
// out from here instead, measured in bytes of the process's code page.
LRESULT entryText(HWND box, UINT message, WPARAM index, LPARAM buffer) {
    LRESULT length = CallWindowProcW(oldListBoxProc, box, LB_GETTEXTLEN, index, 0);
    if (length == LB_ERR)
        return LB_ERR;
    std::wstring text((size_t)length + 1, L'\0');
    length = CallWindowProcW(oldListBoxProc, box, LB_GETTEXT, index, (LPARAM)text.data());
    if (length == LB_ERR)
        return LB_ERR;
    int bytes =
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), (int)length, nullptr, 0, nullptr, nullptr);
    if (message == LB_GETTEXT) {
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), (int)length, (char*)buffer, bytes, nullptr,
                            nullptr);
        ((char*)buffer)[bytes] = '\0';
    }
    return bytes;
}

// Takes the popup menu's commands, the Delete key and the reading of entries; everything else is
// the list box's own.
LRESULT CALLBACK listBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == LB_GETTEXT || message == LB_GETTEXTLEN)
        return entryText(box, message, wParam, lParam);
    if (message == WM_COMMAND && lParam == 0) {
        switch (LOWORD(wParam)) {
        case IDM_PLAYLIST_REMOVE: removeSelected(); return 0;
        case IDM_PLAYLIST_CLEAR: clearPlaylist(); return 0;
        case IDM_PLAYLIST_SAVE: savePlaylistThroughDialog(); return 0;
        }
    }
    if (message == WM_KEYDOWN && wParam == VK_DELETE) {
        removeSelected();
        return 0;
    }
    return CallWindowProcA(oldListBoxProc, box, message, wParam, lParam);
}

void onInitDialog(HWND window) {
    playlistMenu = CreatePopupMenu();
    playlistBox = GetDlgItem(window, IDC_PLAYLIST_BOX);
    AppendMenuA(playlistMenu, MF_STRING, IDM_PLAYLIST_REMOVE, "Remove from playlist");
    AppendMenuA(playlistMenu, MF_STRING, IDM_PLAYLIST_CLEAR, "Clear playlist");
    AppendMenuA(playlistMenu, MF_STRING, IDM_PLAYLIST_SAVE, "Save playlist...");
    SendMessageA(playlistBox, LB_SETHORIZONTALEXTENT, scaledForWindow(playlistBox, initialExtent),
                 0);
    oldListBoxProc = (WNDPROC)SetWindowLongPtrA(playlistBox, GWLP_WNDPROC, (LONG_PTR)listBoxProc);
}

void onCommand(WPARAM wParam) {
    switch (LOWORD(wParam)) {
    case IDC_PLAYLIST_BOX:
        if (HIWORD(wParam) == LBN_DBLCLK)
            playDoubleClicked();
        else if (HIWORD(wParam) == (WORD)LBN_ERRSPACE)
            MessageBoxA(playlistBox, "Playlist limit reached", CAPTION_ERROR, MB_OK);
        break;
    case IDC_REMOVE: removeSelected(); break;
    case IDC_CLEAR: clearPlaylist(); break;
    }
}

void onDestroy() {
    if (playlistMenu) {
        DestroyMenu(playlistMenu);
        playlistMenu = nullptr;
    }
}

} // namespace

// FALSE but for media keys: the dialog manager's default handling follows every message, and it
// ignores the dialog commands 1 and 2, so nothing here closes or hides the window.
INT_PTR CALLBACK playlistWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    // A window of its own, not a child: the keys would not reach the main window by themselves.
    case WM_APPCOMMAND:
        if (!SendMessageA(mainWindowHandle, WM_APPCOMMAND, wParam, lParam))
            break;
        SetWindowLongPtrA(window, DWLP_MSGRESULT, TRUE);
        return TRUE;
    case WM_INITDIALOG: onInitDialog(window); break;
    case WM_DESTROY: onDestroy(); break;
    // Its size is the main window's to give, also on a screen of another DPI.
    case WM_DPICHANGED: PostMessageA(mainWindowHandle, WM_REDOCK, 0, 0); break;
    case WM_SETFOCUS: SetFocus(playlistBox); break;
    case WM_DROPFILES: addDroppedFiles((HDROP)wParam); break;
    case WM_COMMAND: onCommand(wParam); break;
    case WM_RBUTTONDOWN: showMenu(); break;
    }
    return FALSE;
}

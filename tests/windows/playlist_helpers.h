// Helpers for the playlist tests: drops built in memory as the shell builds them, a count of the
// drops given back, the commands that reach the main window, and the playlist as strings.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "app/ids.h"
#include "app/state.h"
#include "playlist/playlist_window.h"
#include "tests/fakes/fake_audio.h"

// An ANSI drop of the paths, as the shell hands it to the window under the cursor.
inline HDROP makeDrop(const std::vector<std::string>& paths) {
    size_t size = sizeof(DROPFILES) + 1;
    for (const std::string& path : paths)
        size += path.size() + 1;
    HGLOBAL memory = GlobalAlloc(GHND, size);
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    char* out = reinterpret_cast<char*>(drop + 1);
    for (const std::string& path : paths) {
        memcpy(out, path.c_str(), path.size() + 1);
        out += path.size() + 1;
    }
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

// A UTF-16 drop, as the shell builds it, of paths given in UTF-8.
inline HDROP makeWideDrop(const std::vector<std::string>& paths) {
    std::vector<wchar_t> names;
    for (const std::string& path : paths) {
        int n = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
        size_t at = names.size();
        names.resize(at + n);
        MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, names.data() + at, n);
    }
    names.push_back(L'\0');
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + names.size() * sizeof(wchar_t));
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    memcpy(drop + 1, names.data(), names.size() * sizeof(wchar_t));
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

inline bool isFreed(HDROP drop) {
    return GlobalFlags(drop) == GMEM_INVALID_HANDLE;
}

// Counts the drops the program gives back, and gives them back for real.
class DropReleases {
public:
    DropReleases() : saved(releaseDrop) {
        count = 0;
        releaseDrop = counted;
    }
    ~DropReleases() { releaseDrop = saved; }
    static inline int count = 0;

private:
    static void WINAPI counted(HDROP drop) {
        ++count;
        DragFinish(drop);
    }
    void(WINAPI* saved)(HDROP);
};

// Records every Play/Stop command that reaches the main window (wParam, lParam), with the number
// of library calls made before it arrived.
class PlayCommands {
public:
    explicit PlayCommands(HWND main) : window(main) {
        sent.clear();
        callsBefore.clear();
        old = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(main, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc)));
    }
    ~PlayCommands() {
        if (IsWindow(window))
            SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
    }
    static inline std::vector<std::pair<WPARAM, LPARAM>> sent;
    static inline std::vector<size_t> callsBefore;

private:
    static LRESULT CALLBACK proc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_COMMAND && LOWORD(wParam) == IDC_PLAY) {
            sent.push_back({wParam, lParam});
            callsBefore.push_back(fake::calls().size());
        }
        return CallWindowProcA(old, w, message, wParam, lParam);
    }
    static inline WNDPROC old = nullptr;
    HWND window;
};

using Entries = std::vector<std::string>;

inline Entries playlistEntries() {
    std::vector<std::string> entries;
    int count = (int)SendMessageA(playlistBox, LB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; ++i) {
        std::string text(SendMessageA(playlistBox, LB_GETTEXTLEN, i, 0), '\0');
        SendMessageA(playlistBox, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()));
        entries.push_back(text);
    }
    return entries;
}

inline int selectedEntry() {
    return (int)SendMessageA(playlistBox, LB_GETCURSEL, 0, 0);
}

inline int horizontalExtent() {
    return (int)SendMessageA(playlistBox, LB_GETHORIZONTALEXTENT, 0, 0);
}

// The recorder names itself after the input it found, so it is known by its controls.
inline bool isRecorderWindow(HWND window) {
    return GetDlgItem(window, IDC_CAPTURE_NAME) && GetDlgItem(window, IDC_RECORDER_EXIT);
}

inline void dropOn(HWND target, const std::vector<std::string>& paths) {
    SendMessageA(target, WM_DROPFILES, reinterpret_cast<WPARAM>(makeDrop(paths)), 0);
}

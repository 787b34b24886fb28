#include "playlist/playlist_window.h"

#include "app/ids.h"
#include "app/state.h"

INT_PTR CALLBACK playlistWindowProc(HWND window, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG)
        playlistBox = GetDlgItem(window, IDC_PLAYLIST_BOX);
    return FALSE;
}

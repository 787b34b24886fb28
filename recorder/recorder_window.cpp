#include "recorder/recorder_window.h"

#include "app/ids.h"
#include "app/state.h"

INT_PTR CALLBACK recorderWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_COMMAND && LOWORD(wParam) == IDC_RECORDER_EXIT) {
        EndDialog(window, 0);
        ShowWindow(mainWindowHandle, SW_SHOWNORMAL);
    }
    return FALSE;
}

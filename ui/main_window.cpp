#include "ui/main_window.h"

#include "app/ids.h"
#include "app/state.h"

namespace {

void onInitDialog(HWND window) {
    mainWindowHandle = window;
    trayIconData.hWnd = window;
    trayIconData.uCallbackMessage = WM_TRAYNOTIFY;
}

void closeSequence(HWND window) {
    EndDialog(window, 0);
}

} // namespace

INT_PTR CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    (void)wParam;
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG: onInitDialog(window); return FALSE;
    case WM_CLOSE: closeSequence(window); return TRUE;
    }
    return FALSE;
}

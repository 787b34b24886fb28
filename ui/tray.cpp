#include "ui/tray.h"

#include <shellapi.h>

#include "app/ids.h"
#include "app/state.h"

MessageFilterProc changeMessageFilter = ChangeWindowMessageFilterEx;

namespace {

UINT taskbarCreatedMessage() {
    static const UINT message = RegisterWindowMessageA("TaskbarCreated");
    return message;
}

bool windowsInTray() {
    return IsDlgButtonChecked(mainWindowHandle, IDC_GO_TO_TRAY) == BST_CHECKED;
}

// With no icon nothing could bring the hidden windows back, so they come back at once.
void addIconOrRestore() {
    if (!Shell_NotifyIconA(NIM_ADD, &trayIconData))
        restoreFromTray();
}

void showTrayMenu() {
    POINT cursor;
    GetCursorPos(&cursor);
    // Without it the menu stays open when the user clicks elsewhere.
    SetForegroundWindow(mainWindowHandle);
    TrackPopupMenu(trayMenu, TPM_RIGHTALIGN | TPM_LEFTBUTTON, cursor.x, cursor.y, 0,
                   mainWindowHandle, nullptr);
    // And without this the next right click may find the menu closing at once.
    PostMessageA(mainWindowHandle, WM_NULL, 0, 0);
}

} // namespace

void goToTray() {
    if (!windowsInTray()) {
        Shell_NotifyIconA(NIM_DELETE, &trayIconData);
        return;
    }
    if (trayMenu)
        DestroyMenu(trayMenu);
    trayMenu = CreatePopupMenu();
    AppendMenuA(trayMenu, MF_STRING, IDM_TRAY_MAXIMIZE, "Maximize");
    AppendMenuA(trayMenu, MF_STRING, IDM_TRAY_EXIT, "Exit");
    ShowWindow(mainWindowHandle, SW_HIDE);
    ShowWindow(playlistWindowHandle, SW_HIDE);
    addIconOrRestore();
}

void onTrayNotify(LPARAM lParam) {
    switch (LOWORD(lParam)) {
    case WM_LBUTTONDOWN: SendMessageA(mainWindowHandle, WM_COMMAND, IDM_TRAY_MAXIMIZE, 0); break;
    case WM_RBUTTONDOWN: showTrayMenu(); break;
    }
}

void restoreFromTray() {
    ShowWindow(mainWindowHandle, SW_SHOWNORMAL);
    if (IsDlgButtonChecked(mainWindowHandle, IDC_SHOW_PLAYLIST) == BST_CHECKED)
        ShowWindow(playlistWindowHandle, SW_SHOWNORMAL);
    SendDlgItemMessageA(mainWindowHandle, IDC_GO_TO_TRAY, BM_SETCHECK, BST_UNCHECKED, 0);
    Shell_NotifyIconA(NIM_DELETE, &trayIconData);
}

void allowTaskbarCreated(HWND window) {
    if (UINT message = taskbarCreatedMessage())
        changeMessageFilter(window, message, MSGFLT_ALLOW, nullptr);
}

bool onTrayMessage(UINT message) {
    const UINT taskbarCreated = taskbarCreatedMessage();
    if (!taskbarCreated || message != taskbarCreated)
        return false;
    if (windowsInTray())
        addIconOrRestore();
    return true;
}

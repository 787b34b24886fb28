// The notification-area icon that stands in for the main and playlist windows.
#pragma once

#include <windows.h>

// Command 1022, from the "Go to tray" check box.
void goToTray();
// WM_TRAYNOTIFY from the shell: lParam holds the mouse message over the icon.
void onTrayNotify(LPARAM lParam);
// Command 1035: "Maximize", or a left click on the icon.
void restoreFromTray();
// At the main window's initialisation: lets the shell's "TaskbarCreated" broadcast through to
// a window that runs elevated (user interface privilege isolation drops it otherwise).
void allowTaskbarCreated(HWND window);
// The call that does it (ChangeWindowMessageFilterEx); tests put their own in place.
using MessageFilterProc = BOOL(WINAPI*)(HWND window, UINT message, DWORD action,
                                        PCHANGEFILTERSTRUCT status);
extern MessageFilterProc changeMessageFilter;
// For every message of the main window: takes the shell's "TaskbarCreated" broadcast (a restarted
// shell has forgotten the icon) and returns true for it.
bool onTrayMessage(UINT message);

// The notification-area icon that stands in for the main and playlist windows.
#pragma once

#include <windows.h>

// Command 1022, from the "Go to tray" check box.
void goToTray();
// WM_TRAYNOTIFY from the shell: lParam holds the mouse message over the icon.
void onTrayNotify(LPARAM lParam);
// Command 1035: "Maximize", or a left click on the icon.
void restoreFromTray();
// For every message of the main window: takes the shell's "TaskbarCreated" broadcast (a restarted
// shell has forgotten the icon) and returns true for it.
bool onTrayMessage(UINT message);

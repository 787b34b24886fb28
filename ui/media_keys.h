// The keyboard's media keys: WM_APPCOMMAND while a window of ours has the focus, and system-wide
// hot keys so that they also work from the tray or behind other windows.
#pragma once

#include <windows.h>

// A key (or any other remote) with nothing to play does nothing: no track is loaded, and the
// playlist is empty or has no entry selected. Without this rule the keys, being system-wide,
// would pop "Please open a file." over whatever the user is doing.
bool nothingToPlay();

enum MediaKey { NoKey, PlayPauseKey, StopKey, NextKey, PreviousKey, PlayKey, PauseKey };
// Does what the key's button does, through the button's own command (nothing when
// nothingToPlay). Also the road of the system's media controls and the taskbar's buttons.
void pressMediaKey(MediaKey key);
// Once the main window shows, where the system's media controls are missing; a key that
// another program holds is left to it.
void registerMediaKeys(HWND window);
// In the close sequence.
void unregisterMediaKeys(HWND window);
// WM_APPCOMMAND of the main window: true when it was a media key of ours.
bool onAppCommand(LPARAM lParam);
// WM_HOTKEY of the main window.
void onHotKey(WPARAM id);

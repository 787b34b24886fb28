#pragma once

#include <windows.h>
#include <shellapi.h>

// The playlist tool window's procedure (template 105).
INT_PTR CALLBACK playlistWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// How the drop handler gives a drop back to the system (DragFinish); tests count the calls.
extern void(WINAPI* releaseDrop)(HDROP drop);

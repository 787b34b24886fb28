#pragma once

#include <windows.h>

// The playlist tool window's procedure (template 105).
INT_PTR CALLBACK playlistWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

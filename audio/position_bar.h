// The position bar doubles as the seek control.
#pragma once

#include <windows.h>

LRESULT CALLBACK positionBarProc(HWND bar, UINT message, WPARAM wParam, LPARAM lParam);
void seekToPoint(HWND bar, int x);

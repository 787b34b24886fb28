#pragma once

#include <windows.h>

// The main dialog's procedure (template 101).
INT_PTR CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

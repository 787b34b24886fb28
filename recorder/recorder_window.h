#pragma once

#include <windows.h>

// Echotrap's dialog procedure (template 108).
INT_PTR CALLBACK recorderWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

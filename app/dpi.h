// Sizes the program sets in pixels are given for 96 DPI and scaled to the window's DPI, so that
// at 96 DPI every figure is exactly the given one.
#pragma once

#include <windows.h>

inline UINT windowDpi(HWND window) {
    // Looked up, not linked: older systems have no per-window DPI and run at the system's.
    using GetDpiForWindowProc = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowProc>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    UINT dpi = getDpiForWindow && window ? getDpiForWindow(window) : 0;
    if (dpi == 0) {
        HDC screen = GetDC(nullptr);
        dpi = (UINT)GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
    }
    return dpi ? dpi : 96;
}

inline int scaledForWindow(HWND window, int pixels) {
    return MulDiv(pixels, (int)windowDpi(window), 96);
}

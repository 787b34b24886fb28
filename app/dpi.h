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

// Under per-monitor v2 the dialog manager moves, sizes and rescales a dialog whose DPI changes.
// Windows 8.1, and 10 before 1703, fall back from the manifest's v2 to v1, where the window
// itself must take the rectangle that WM_DPICHANGED suggests.
inline bool dialogScaledBySystem(HWND window) {
    using Context = HANDLE;
    using GetContextProc = Context(WINAPI*)(HWND);
    using EqualProc = BOOL(WINAPI*)(Context, Context);
    static const HMODULE user32 = GetModuleHandleA("user32.dll");
    static const auto getContext = reinterpret_cast<GetContextProc>(
        reinterpret_cast<void*>(GetProcAddress(user32, "GetWindowDpiAwarenessContext")));
    static const auto equal = reinterpret_cast<EqualProc>(
        reinterpret_cast<void*>(GetProcAddress(user32, "AreDpiAwarenessContextsEqual")));
    const Context perMonitorV2 = reinterpret_cast<Context>(static_cast<INT_PTR>(-4));
    return getContext && equal && equal(getContext(window), perMonitorV2);
}

// Which of the two the system does; tests put their own in place.
inline bool (*dpiScaledBySystem)(HWND window) = dialogScaledBySystem;

// WM_DPICHANGED of a dialog: lParam points at the suggested window rectangle.
inline void followDpiChange(HWND window, LPARAM lParam) {
    if (dpiScaledBySystem(window))
        return;
    const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
    SetWindowPos(window, nullptr, suggested->left, suggested->top,
                 suggested->right - suggested->left, suggested->bottom - suggested->top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

// 8-bit text and paths as Windows' wide calls take them.
#pragma once

#include <windows.h>

#include <string>

namespace qvwin32 {

// The process's code page (UTF-8 under our manifest) to UTF-16; empty when the text is not
// valid in it.
inline std::wstring widen(const char* text) {
    int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (n <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, wide.data(), n) != n)
        return {};
    wide.resize(static_cast<std::size_t>(n - 1));
    return wide;
}

// An 8-bit path in the form that opening takes at any length: full, and behind the prefix that
// lifts MAX_PATH (\\?\, or \\?\UNC\ for a share). A path that has a prefix of its own (\\?\ or
// \\.\) is left as it is. Empty when the text or the path is not valid.
inline std::wstring openablePath(const char* path) {
    std::wstring wide = widen(path);
    if (wide.empty())
        return {};
    if (wide.rfind(L"\\\\?\\", 0) == 0 || wide.rfind(L"\\\\.\\", 0) == 0)
        return wide;
    DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (n == 0)
        return {};
    std::wstring full(n, L'\0');
    n = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
    if (n == 0 || n >= full.size())
        return {};
    full.resize(n);
    if (full.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

} // namespace qvwin32

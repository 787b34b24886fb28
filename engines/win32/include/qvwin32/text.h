// 8-bit text as Windows' wide calls take it.
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

} // namespace qvwin32

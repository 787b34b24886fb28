// Paths as our libraries open them: full, and in the form that opens past MAX_PATH.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "qvwin32/text.h"

namespace {

TEST(OpenablePath, EveryPathGetsTheLongFormOfItsKind) {
    wchar_t here[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, here);
    const std::string longName(300, 'x');
    const struct {
        std::string path;
        std::wstring opened;
    } rows[] = {
        {"C:/m/./b/../a.ogg", L"\\\\?\\C:\\m\\a.ogg"},
        {"a.ogg", L"\\\\?\\" + std::wstring(here) + (here[3] ? L"\\" : L"") + L"a.ogg"},
        {"\\\\nas\\music\\x.mp3", L"\\\\?\\UNC\\nas\\music\\x.mp3"},
        {"C:\\" + longName, L"\\\\?\\C:\\" + std::wstring(longName.begin(), longName.end())},
        {"\\\\?\\C:\\m\\a.ogg", L"\\\\?\\C:\\m\\a.ogg"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(qvwin32::openablePath(row.path.c_str()), row.opened) << row.path;
}

} // namespace

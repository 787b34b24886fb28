#include "playlist/playlist_entries.h"

#include "app/dpi.h"
#include "app/state.h"
#include "app/texts.h"

namespace {

const int pixelsPerCharacter = 6;
const size_t namesShown = 10;

UINT codePage() {
    return textCodePage ? textCodePage : GetACP();
}

} // namespace

bool textIsUtf8() {
    return codePage() == CP_UTF8;
}

// Only a round trip tells: a code page that lacks a character writes a default one in its
// place, or the nearest it has ("best fit": a Polish l with stroke becomes a plain l).
bool narrowName(const wchar_t* name, std::string& out) {
    const UINT page = codePage();
    int bytes = WideCharToMultiByte(page, 0, name, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return false;
    std::string text((size_t)bytes, '\0');
    WideCharToMultiByte(page, 0, name, -1, text.data(), bytes, nullptr, nullptr);
    int characters = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, text.c_str(), -1, nullptr, 0);
    if (characters <= 0)
        return false;
    std::wstring back((size_t)characters, L'\0');
    MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, text.c_str(), -1, back.data(), characters);
    if (back != std::wstring(name, wcslen(name) + 1))
        return false;
    text.resize((size_t)bytes - 1);
    out = std::move(text);
    return true;
}

void reportNamesOutsideCodePage(HWND owner, const std::vector<std::wstring>& names) {
    if (names.empty())
        return;
    const bool one = names.size() == 1;
    std::wstring text = std::wstring(one ? L"This file was" : L"These files were") +
                        L" not added: " + (one ? L"its name holds" : L"their names hold") +
                        L" characters that this system's code page (" +
                        std::to_wstring(codePage()) +
                        L") cannot hold, so Quaverly could not open " + (one ? L"it" : L"them") +
                        L". Windows 10 version 1903 and later have no such limit.\n";
    for (size_t i = 0; i < names.size() && i < namesShown; ++i)
        text += L"\n" + names[i];
    if (names.size() > namesShown)
        text += L"\n... and " + std::to_wstring(names.size() - namesShown) + L" more";
    MessageBoxW(owner, text.c_str(), L"" CAPTION_ERROR, MB_OK);
}

void appendTrack(const char* path) {
    SendMessageA(playlistBox, LB_ADDSTRING, 0, (LPARAM)path);
}

void widenForPath(const char* path) {
    // Characters, not bytes: a UTF-8 character may take up to four.
    int characters = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0) - 1;
    int width = scaledForWindow(playlistBox, pixelsPerCharacter *
                                                 (characters > 0 ? characters : lstrlenA(path)));
    int extent = (int)SendMessageA(playlistBox, LB_GETHORIZONTALEXTENT, 0, 0);
    if (width >= extent)
        SendMessageA(playlistBox, LB_SETHORIZONTALEXTENT, width, 0);
}

// currentIndex itself is left alone: Next steps from it, and -1 means "start at the first".
void reselectAndRecount() {
    int count = (int)SendMessageA(playlistBox, LB_GETCOUNT, 0, 0);
    int selection = currentIndex >= 0 && currentIndex < count ? currentIndex : 0;
    SendMessageA(playlistBox, LB_SETCURSEL, selection, 0);
    trackCount = count;
}

#include "playlist/open_dialog.h"

#include <cderr.h>
#include <commdlg.h>
#include <string.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "app/state.h"
#include "app/texts.h"
#include "playlist/playlist_entries.h"
#include "playlist/playlist_file.h"

namespace {

const DWORD resultSize = 20480;
const DWORD titleSize = 2048;

const char filter[] = "Audio MO3,IT,XM,S3M,MTM,MOD,UMX,MID,SGT\0"
                      "*.ogg;*.mp3;*.xm;*.s3m;*.it;*.mod;*.mid;*.fsb;*.rmi;*.mtm;*.mo3;*.umx;*.sgt;"
                      "*.ota;*.ear;*.m4a;*.mp4;*.aac;*.wma;*.aif;*.aiff;*.aifc;*.au;*.snd;*.w64;"
                      "*.caf\0"
                      "All\0*.*\0"
                      "Playlists\0*.m3u;*.m3u8;*.pls\0";

const char* const tooManyFilesText =
    "Too many files were chosen at once, so none were added. Please choose fewer files.";

// A list that the dialog cut at the buffer's end has no empty name to close it.
bool namesEndInBuffer(const char* result, WORD fileOffset) {
    for (size_t at = fileOffset; at < resultSize;) {
        size_t length = strnlen(result + at, resultSize - at);
        if (length == 0)
            return true;
        at += length + 1;
    }
    return false;
}

// Each name is joined to the folder in trackPathBuffer, which keeps the folder and its backslash
// afterwards.
const char* addJoinedNames(const char* result, WORD fileOffset) {
    if (!namesEndInBuffer(result, fileOffset))
        return tooManyFilesText;
    const char* failure = nullptr;
    int folderLength = lstrlenA(result);
    int prefixLength = folderLength;
    if (folderLength + 1 < trackPathSize) {
        memcpy(trackPathBuffer, result, folderLength);
        // A root folder already ends in its backslash.
        if (folderLength == 0 || result[folderLength - 1] != '\\')
            trackPathBuffer[prefixLength++] = '\\';
        trackPathBuffer[prefixLength] = '\0';
    } else {
        failure = TEXT_PATH_TOO_LONG;
        prefixLength = trackPathSize;
    }
    for (const char* name = result + fileOffset; *name; name += lstrlenA(name) + 1) {
        int nameLength = lstrlenA(name);
        if (prefixLength + nameLength >= trackPathSize) {
            failure = TEXT_PATH_TOO_LONG;
            continue;
        }
        memcpy(trackPathBuffer + prefixLength, name, nameLength + 1);
        if (!addPathOrPlaylist(trackPathBuffer))
            failure = TEXT_PATH_TOO_LONG;
        trackPathBuffer[prefixLength] = '\0';
    }
    return failure;
}

} // namespace

const char* addChosenFiles(const char* result, WORD fileOffset) {
    if (fileOffset == 0 || fileOffset >= resultSize)
        return nullptr;
    if (result[fileOffset - 1] == '\0')
        return addJoinedNames(result, fileOffset);
    // One file goes in as the dialog gave it, without widening the list.
    if (strnlen(result, resultSize) >= trackPathSize)
        return TEXT_PATH_TOO_LONG;
    return addPathOrPlaylist(result, false) ? nullptr : TEXT_PATH_TOO_LONG;
}

namespace {

const wchar_t wideFilter[] = L"Audio MO3,IT,XM,S3M,MTM,MOD,UMX,MID,SGT\0"
                             L"*.ogg;*.mp3;*.xm;*.s3m;*.it;*.mod;*.mid;*.fsb;*.rmi;*.mtm;*.mo3;"
                             L"*.umx;*.sgt;*.ota;*.ear;*.m4a;*.mp4;*.aac;*.wma;*.aif;*.aiff;"
                             L"*.aifc;*.au;*.snd;*.w64;*.caf\0"
                             L"All\0*.*\0"
                             L"Playlists\0*.m3u;*.m3u8;*.pls\0";

// Appends a name and its NUL to the 8-bit choice; false when it does not fit.
bool appendName(std::vector<char>& choice, size_t& used, const std::string& name) {
    if (used + name.size() + 2 > choice.size())
        return false;
    memcpy(choice.data() + used, name.c_str(), name.size() + 1);
    used += name.size() + 1;
    return true;
}

// Where the program's text is not UTF-8, the 8-bit dialog would hand back names whose missing
// characters it replaced, or changed into others. The dialog runs in UTF-16 instead, and the
// choice is laid out as the 8-bit dialog lays it out with only the names that text holds.
const char* chooseInUtf16(std::vector<std::wstring>& outside) {
    OPENFILENAMEW request;
    std::vector<wchar_t> result(resultSize, L'\0');
    wchar_t title[titleSize] = L"";
    memset(&request, 0, sizeof request);
    request.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
    request.hwndOwner = mainWindowHandle;
    request.lpstrFilter = wideFilter;
    request.nFilterIndex = 1;
    request.lpstrFile = result.data();
    request.nMaxFile = resultSize;
    request.lpstrFileTitle = title;
    request.nMaxFileTitle = titleSize;
    request.lpstrTitle = L"Open file";
    request.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_ALLOWMULTISELECT;
    if (!GetOpenFileNameW(&request))
        return CommDlgExtendedError() == FNERR_BUFFERTOOSMALL ? tooManyFilesText : nullptr;
    const WORD offset = request.nFileOffset;
    if (offset == 0 || offset >= resultSize)
        return nullptr;

    std::vector<char> choice(resultSize, '\0');
    size_t used = 0;
    std::string text;
    if (result[offset - 1] != L'\0') {
        if (!narrowName(result.data(), text)) {
            outside.push_back(result.data());
            return nullptr;
        }
        if (text.size() >= resultSize)
            return TEXT_PATH_TOO_LONG;
        size_t slash = text.find_last_of('\\');
        appendName(choice, used, text);
        return addChosenFiles(choice.data(), (WORD)(slash == std::string::npos ? 0 : slash + 1));
    }
    const std::wstring folder = result.data();
    const bool folderHeld = narrowName(folder.c_str(), text) && appendName(choice, used, text);
    const WORD namesAt = (WORD)used;
    bool any = false;
    for (const wchar_t* name = result.data() + offset; *name; name += wcslen(name) + 1) {
        if (folderHeld && narrowName(name, text)) {
            if (!appendName(choice, used, text))
                return tooManyFilesText;
            any = true;
        } else {
            outside.push_back(folder + (folder.back() == L'\\' ? L"" : L"\\") + name);
        }
    }
    return any ? addChosenFiles(choice.data(), namesAt) : nullptr;
}

} // namespace

void addTracksFromOpenDialog() {
    OPENFILENAMEA request;
    char result[resultSize];
    char title[titleSize];
    memset(&request, 0, sizeof request);
    title[0] = '\0';
    result[0] = '\0';
    trackPathBuffer[0] = '\0';

    request.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    request.hwndOwner = mainWindowHandle;
    request.lpstrFilter = filter;
    request.nFilterIndex = 1;
    request.lpstrFile = result;
    request.nMaxFile = resultSize;
    request.lpstrFileTitle = title;
    request.nMaxFileTitle = titleSize;
    request.lpstrTitle = "Open file";
    request.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_ALLOWMULTISELECT;

    // The list stays still while the dialog is open and the paths go in.
    SendMessageA(playlistBox, WM_SETREDRAW, FALSE, 0);
    const char* failure = nullptr;
    takeMissingEntries();
    std::vector<std::wstring> outside;
    if (!textIsUtf8())
        failure = chooseInUtf16(outside);
    else if (GetOpenFileNameA(&request))
        failure = addChosenFiles(result, request.nFileOffset);
    else if (CommDlgExtendedError() == FNERR_BUFFERTOOSMALL)
        failure = tooManyFilesText;
    reselectAndRecount();
    SendMessageA(playlistBox, WM_SETREDRAW, TRUE, 0);
    reportSkippedEntries(mainWindowHandle, failure);
    takeEntriesOutsideCodePage(outside);
    reportNamesOutsideCodePage(mainWindowHandle, outside);
}

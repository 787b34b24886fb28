#include "playlist/playlist_file.h"

#include <commdlg.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/state.h"
#include "app/texts.h"
#include "playlist/playlist_entries.h"
#include "qvcore/playlist_text.h"
#include "qvwin32/handle.h"
#include "qvwin32/text.h"

namespace {

// A playlist larger than this is not a list of paths.
const DWORD largestPlaylist = 256u << 20;
// Playlists naming playlists: deeper than this is a loop in disguise.
const int deepestNesting = 16;

// Empty when the text is not valid in the code page.
std::wstring toWide(UINT codePage, const char* text, int length) {
    DWORD flags = codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
    int n = MultiByteToWideChar(codePage, flags, text, length, nullptr, 0);
    if (n <= 0)
        return {};
    std::wstring wide((size_t)n, L'\0');
    MultiByteToWideChar(codePage, flags, text, length, wide.data(), n);
    return wide;
}

std::string fromWide(UINT codePage, const std::wstring& wide) {
    int n = WideCharToMultiByte(codePage, 0, wide.c_str(), (int)wide.size(), nullptr, 0, nullptr,
                                nullptr);
    std::string text(n > 0 ? (size_t)n : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(codePage, 0, wide.c_str(), (int)wide.size(), text.data(), n, nullptr,
                            nullptr);
    return text;
}

// The code page of the system's 8-bit text, which playlists written by other programs use; our
// own process runs in UTF-8.
UINT systemCodePage() {
    DWORD codePage = 0;
    if (!GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                        (LPWSTR)&codePage, sizeof codePage / sizeof(wchar_t)) ||
        codePage == 0)
        return CP_ACP;
    return codePage;
}

std::wstring fullPath(const std::wstring& path) {
    DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0)
        return {};
    std::wstring full(n, L'\0');
    n = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
    full.resize(n);
    return full;
}

bool readWhole(const std::wstring& path, std::string& bytes) {
    qvwin32::Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file)
        return false;
    LARGE_INTEGER size = {};
    bool ok = GetFileSizeEx(file.get(), &size) && size.QuadPart <= largestPlaylist &&
              GetFileType(file.get()) == FILE_TYPE_DISK;
    if (ok) {
        bytes.resize((size_t)size.QuadPart);
        DWORD got = 0;
        ok =
            bytes.empty() || ReadFile(file.get(), bytes.data(), (DWORD)bytes.size(), &got, nullptr);
        bytes.resize(ok ? got : 0);
    }
    return ok;
}

std::wstring lowered(std::wstring text) {
    if (!text.empty())
        CharLowerBuffW(text.data(), (DWORD)text.size());
    return text;
}

// Which files exist, folder by folder: one listing of a folder costs less than asking after each
// of a large playlist's entries one at a time.
class FolderListings {
public:
    bool isFile(const std::wstring& path) {
        size_t slash = path.find_last_of(L'\\');
        if (slash == std::wstring::npos)
            return false;
        // Entries of one folder tend to follow each other.
        if (!lastListing || path.compare(0, slash, lastFolder) != 0 || lastFolder.size() != slash) {
            lastFolder = path.substr(0, slash);
            lastListing = &listingOf(lowered(lastFolder));
        }
        const Listing& listing = *lastListing;
        auto found = listing.find(lowered(path.substr(slash + 1)));
        if (found != listing.end())
            return !found->second;
        // Names a listing does not show as such (short names, trailing dots) are asked after.
        DWORD attributes = GetFileAttributesW(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    }

private:
    // Lowered name to whether it is a folder.
    using Listing = std::unordered_map<std::wstring, bool>;

    const Listing& listingOf(const std::wstring& folder) {
        auto known = listings.find(folder);
        if (known != listings.end())
            return known->second;
        Listing& listing = listings[folder];
        WIN32_FIND_DATAW found;
        qvwin32::FindHandle search(FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic,
                                                    &found, FindExSearchNameMatch, nullptr,
                                                    FIND_FIRST_EX_LARGE_FETCH));
        if (!search)
            return listing;
        do {
            listing[lowered(found.cFileName)] =
                (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        } while (FindNextFileW(search.get(), &found));
        return listing;
    }

    std::unordered_map<std::wstring, Listing> listings;
    std::wstring lastFolder;
    const Listing* lastListing = nullptr;
};

std::string utf8(const std::wstring& wide) {
    return fromWide(CP_UTF8, wide);
}

struct Reader {
    std::vector<std::wstring> visited;
    std::vector<std::string> entries;
    FolderListings folders;
    bool tooLong = false;

    void read(const std::wstring& path, int depth);
    void add(const std::wstring& folder, const std::string& entry, int depth);
};

void Reader::add(const std::wstring& folder, const std::string& entry, int depth) {
    std::string resolved = qvcore::resolvePlaylistEntry(utf8(folder), entry);
    std::wstring full =
        resolved.empty() ? std::wstring() : fullPath(qvwin32::widen(resolved.c_str()));
    if (full.empty())
        return;
    if (qvcore::playlistFormat(utf8(full)) != qvcore::PlaylistFormat::None) {
        read(full, depth + 1);
        return;
    }
    std::string text = fromWide(CP_ACP, full);
    if (text.size() >= trackPathSize) {
        tooLong = true;
        return;
    }
    if (!text.empty() && folders.isFile(full))
        entries.push_back(std::move(text));
}

void Reader::read(const std::wstring& path, int depth) {
    if (depth > deepestNesting)
        return;
    for (const std::wstring& seen : visited)
        if (_wcsicmp(seen.c_str(), path.c_str()) == 0)
            return;
    visited.push_back(path);
    std::string bytes;
    if (!readWhole(path, bytes))
        return;
    const UINT codePage = systemCodePage();
    auto fromCodePage = [codePage](std::string_view line) {
        return utf8(toWide(codePage, line.data(), (int)line.size()));
    };
    // Not even four bytes a character would fit the buffer.
    qvcore::PlaylistEntries list = qvcore::parsePlaylist(bytes, qvcore::playlistFormat(utf8(path)),
                                                         (size_t)trackPathSize * 4, fromCodePage);
    tooLong = tooLong || list.tooLong;
    std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
    for (const std::string& entry : list.entries)
        add(folder, entry, depth);
}

std::string systemMessage(DWORD error) {
    char text[512] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             error, 0, text, sizeof text, nullptr);
    while (n > 0 &&
           (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ' || text[n - 1] == '.'))
        text[--n] = '\0';
    return n ? text : "error " + std::to_string(error);
}

bool writeAll(HANDLE file, const std::string& bytes) {
    DWORD written = 0;
    return WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr) &&
           written == bytes.size();
}

} // namespace

bool isPlaylistFile(const char* path) {
    return qvcore::playlistFormat(path) != qvcore::PlaylistFormat::None;
}

bool addPlaylistFile(const char* path) {
    Reader reader;
    std::wstring full = fullPath(qvwin32::widen(path));
    if (!full.empty())
        reader.read(full, 0);
    // Room for all of them at once, rather than growing the list entry by entry.
    size_t bytes = 0;
    for (const std::string& entry : reader.entries)
        bytes += entry.size() + 1;
    SendMessageA(playlistBox, LB_INITSTORAGE, reader.entries.size(), bytes);
    // The width rule only ever widens: the entry of the most characters decides it. Bytes stand
    // in for characters until the few longest are counted.
    const std::string* widest = nullptr;
    int widestCharacters = 0;
    for (const std::string& entry : reader.entries) {
        appendTrack(entry.c_str());
        if (widest && (int)entry.size() <= widestCharacters)
            continue;
        int characters =
            MultiByteToWideChar(CP_ACP, 0, entry.c_str(), (int)entry.size(), nullptr, 0);
        if (!widest || characters > widestCharacters) {
            widest = &entry;
            widestCharacters = characters;
        }
    }
    if (widest)
        widenForPath(widest->c_str());
    return !reader.tooLong;
}

bool addPathOrPlaylist(const char* path, bool widen) {
    if (isPlaylistFile(path))
        return addPlaylistFile(path);
    appendTrack(path);
    if (widen)
        widenForPath(path);
    return true;
}

const char* savePlaylistFile(const char* path) {
    static std::string failure;
    std::wstring target = fullPath(qvwin32::widen(path));
    if (target.empty()) {
        failure = std::string("Can't save the playlist to ") + path + ": the name is not valid.";
        return failure.c_str();
    }
    std::string text = "#EXTM3U\r\n";
    int count = (int)SendMessageA(playlistBox, LB_GETCOUNT, 0, 0);
    std::string entry;
    for (int i = 0; i < count; ++i) {
        LRESULT length = SendMessageA(playlistBox, LB_GETTEXTLEN, i, 0);
        if (length == LB_ERR)
            continue;
        entry.assign((size_t)length + 1, '\0');
        length = SendMessageA(playlistBox, LB_GETTEXT, i, (LPARAM)entry.data());
        if (length == LB_ERR)
            continue;
        entry.resize((size_t)length);
        text += fromWide(CP_UTF8, toWide(CP_ACP, entry.c_str(), (int)entry.size())) + "\r\n";
    }

    // The earlier file stays whole until the new one is complete on disk beside it.
    std::wstring folder = target.substr(0, target.find_last_of(L'\\') + 1);
    wchar_t temporary[MAX_PATH + 16] = L"";
    DWORD error = ERROR_SUCCESS;
    if (folder.size() >= MAX_PATH - 14 || !GetTempFileNameW(folder.c_str(), L"qvp", 0, temporary)) {
        error = GetLastError();
    } else {
        qvwin32::Handle file(CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            error = GetLastError();
        else if (!writeAll(file.get(), text) || !FlushFileBuffers(file.get()))
            error = GetLastError();
        // Closed before the move: a file still open cannot replace the target.
        file.reset();
        if (error == ERROR_SUCCESS &&
            !MoveFileExW(temporary, target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            error = GetLastError();
        if (error != ERROR_SUCCESS)
            DeleteFileW(temporary);
    }
    if (error == ERROR_SUCCESS)
        return nullptr;
    failure = std::string("Can't save the playlist to ") + path + ": " + systemMessage(error) + ".";
    return failure.c_str();
}

void savePlaylistThroughDialog() {
    char path[trackPathSize] = "";
    OPENFILENAMEA request;
    memset(&request, 0, sizeof request);
    request.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    request.hwndOwner = playlistWindowHandle;
    request.lpstrFilter = "M3U8 playlist\0*.m3u8\0";
    request.nFilterIndex = 1;
    request.lpstrFile = path;
    request.nMaxFile = sizeof path;
    request.lpstrTitle = "Save playlist";
    request.lpstrDefExt = "m3u8";
    request.Flags =
        OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!GetSaveFileNameA(&request))
        return;
    if (const char* failure = savePlaylistFile(path))
        MessageBoxA(playlistWindowHandle, failure, CAPTION_ERROR, MB_OK);
}

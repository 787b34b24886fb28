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
    if (n == 0 || n >= full.size())
        return {};
    full.resize(n);
    return full;
}

// A full path as the wide calls take it past MAX_PATH.
std::wstring extendedPath(const std::wstring& full) {
    if (full.size() < MAX_PATH - 12 || full.compare(0, 4, L"\\\\?\\") == 0)
        return full;
    if (full.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

bool readWhole(const std::wstring& path, std::string& bytes) {
    qvwin32::Handle file(CreateFileW(extendedPath(path).c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
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
// of a large playlist's entries one at a time, the more so when most are missing (a list from
// another machine), which the listing answers too.
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
        std::wstring name = lowered(path.substr(slash + 1));
        if (name.empty())
            return false;
        auto found = listing.names.find(name);
        if (found != listing.names.end())
            return !found->second;
        if (listing.state == Folder::Missing)
            return false;
        // Names a listing does not show as such (short names, trailing dots and spaces) are asked
        // after, and so is every name of a folder that may be entered but not listed.
        if (listing.state == Folder::Listed && name.find(L'~') == std::wstring::npos &&
            name.back() != L'.' && name.back() != L' ')
            return false;
        DWORD attributes = GetFileAttributesW(extendedPath(path).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    }

private:
    enum class Folder { Listed, Missing, Unlisted };
    struct Listing {
        Folder state = Folder::Unlisted;
        // Lowered name to whether it is a folder.
        std::unordered_map<std::wstring, bool> names;
    };

    const Listing& listingOf(const std::wstring& folder) {
        auto known = listings.find(folder);
        if (known != listings.end())
            return known->second;
        Listing& listing = listings[folder];
        WIN32_FIND_DATAW found;
        qvwin32::FindHandle search(FindFirstFileExW(extendedPath(folder + L"\\*").c_str(),
                                                    FindExInfoBasic, &found, FindExSearchNameMatch,
                                                    nullptr, FIND_FIRST_EX_LARGE_FETCH));
        if (!search) {
            DWORD error = GetLastError();
            if (error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND ||
                error == ERROR_INVALID_NAME || error == ERROR_BAD_NETPATH ||
                error == ERROR_BAD_NET_NAME)
                listing.state = Folder::Missing;
            return listing;
        }
        do {
            listing.names[lowered(found.cFileName)] =
                (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        } while (FindNextFileW(search.get(), &found));
        listing.state = GetLastError() == ERROR_NO_MORE_FILES ? Folder::Listed : Folder::Unlisted;
        return listing;
    }

    std::unordered_map<std::wstring, Listing> listings;
    std::wstring lastFolder;
    const Listing* lastListing = nullptr;
};

std::string utf8(const std::wstring& wide) {
    return fromWide(CP_UTF8, wide);
}

// Entries of the playlists added since the last takeMissingEntries that named no file, and
// those that named a file whose name the code page cannot hold.
int missingEntries = 0;
std::vector<std::wstring> outsideCodePage;

struct Reader {
    std::vector<std::wstring> visited;
    std::vector<std::string> entries;
    FolderListings folders;
    bool tooLong = false;
    int missing = 0;
    std::vector<std::wstring> outside;

    bool read(const std::wstring& path, int depth);
    void add(const std::string& folder, const std::string& entry, int depth);
};

void Reader::add(const std::string& folder, const std::string& entry, int depth) {
    std::string resolved = qvcore::resolvePlaylistEntry(folder, entry);
    std::wstring full =
        resolved.empty() ? std::wstring() : fullPath(qvwin32::widen(resolved.c_str()));
    // The full path is judged again: the system makes a device of names the entry only hinted at.
    std::string fullText = utf8(full);
    if (full.empty() || !qvcore::isFileSystemPath(fullText)) {
        ++missing;
        return;
    }
    if (qvcore::playlistFormat(fullText) != qvcore::PlaylistFormat::None) {
        if (!read(full, depth + 1))
            ++missing;
        return;
    }
    // Never the nearest letters the code page has: that would name another file.
    std::string text;
    if (!narrowName(full.c_str(), text)) {
        if (folders.isFile(full))
            outside.push_back(full);
        else
            ++missing;
        return;
    }
    if (text.size() >= trackPathSize) {
        tooLong = true;
        return;
    }
    if (!text.empty() && folders.isFile(full))
        entries.push_back(std::move(text));
    else
        ++missing;
}

// False when the file cannot be read; a playlist seen before or nested too deep is read as empty.
bool Reader::read(const std::wstring& path, int depth) {
    if (depth > deepestNesting)
        return true;
    for (const std::wstring& seen : visited)
        if (_wcsicmp(seen.c_str(), path.c_str()) == 0)
            return true;
    visited.push_back(path);
    std::string bytes;
    if (!readWhole(path, bytes))
        return false;
    const UINT codePage = systemCodePage();
    auto fromCodePage = [codePage](std::string_view line) {
        return utf8(toWide(codePage, line.data(), (int)line.size()));
    };
    // Not even four bytes a character would fit the buffer.
    qvcore::PlaylistEntries list = qvcore::parsePlaylist(bytes, qvcore::playlistFormat(utf8(path)),
                                                         (size_t)trackPathSize * 4, fromCodePage);
    tooLong = tooLong || list.tooLong;
    const std::string folder = utf8(path.substr(0, path.find_last_of(L'\\')));
    for (const std::string& entry : list.entries)
        add(folder, entry, depth);
    return true;
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
    missingEntries += reader.missing;
    outsideCodePage.insert(outsideCodePage.end(), reader.outside.begin(), reader.outside.end());
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

int takeMissingEntries() {
    int missing = missingEntries;
    missingEntries = 0;
    return missing;
}

void takeEntriesOutsideCodePage(std::vector<std::wstring>& into) {
    into.insert(into.end(), outsideCodePage.begin(), outsideCodePage.end());
    outsideCodePage.clear();
}

void reportSkippedEntries(HWND owner, const char* failure) {
    int missing = takeMissingEntries();
    std::string text = failure ? failure : "";
    if (missing > 0) {
        if (!text.empty())
            text += "\n\n";
        text += missing == 1 ? std::string("1 file named in the playlist was not found, so it was "
                                           "not added.")
                             : std::to_string(missing) +
                                   " files named in the playlist were not found, so they were "
                                   "not added.";
    }
    if (!text.empty())
        MessageBoxA(owner, text.c_str(), failure ? CAPTION_ERROR : CAPTION_INFORMATION, MB_OK);
}

const char* savePlaylistFile(const char* path) {
    qvcore::PlaylistFormat format = qvcore::playlistFormat(path);
    return savePlaylistFile(
        path, format == qvcore::PlaylistFormat::None ? qvcore::PlaylistFormat::M3u8 : format);
}

const char* savePlaylistFile(const char* path, qvcore::PlaylistFormat format) {
    static std::string failure;
    std::wstring target = fullPath(qvwin32::widen(path));
    if (target.empty() || !qvcore::isFileSystemPath(utf8(target))) {
        failure = std::string("Can't save the playlist to ") + path + ": the name is not valid.";
        return failure.c_str();
    }
    std::vector<std::string> paths;
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
        paths.push_back(utf8(toWide(CP_ACP, entry.c_str(), (int)entry.size())));
    }
    const std::string text = qvcore::writePlaylist(paths, format);

    const std::wstring longTarget = extendedPath(target);
    const DWORD attributes = GetFileAttributesW(longTarget.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (attributes & FILE_ATTRIBUTE_READONLY)) {
        failure = std::string("Can't save the playlist to ") + path +
                  ": the file is read-only. It was left as it was.";
        return failure.c_str();
    }
    // The earlier file stays whole until the new one is complete on disk beside it; then it is
    // replaced, keeping its attributes and permissions. The name is ours rather than the
    // system's temporary name, which fails in folders near MAX_PATH.
    const std::wstring temporary = longTarget.substr(0, longTarget.find_last_of(L'\\')) + L"\\qvp" +
                                   std::to_wstring(GetCurrentProcessId()) + L"-" +
                                   std::to_wstring(GetTickCount64()) + L".tmp";
    DWORD error = ERROR_SUCCESS;
    qvwin32::Handle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        error = GetLastError();
    } else {
        if (!writeAll(file.get(), text) || !FlushFileBuffers(file.get()))
            error = GetLastError();
        // Closed before the move: a file still open cannot replace the target.
        file.reset();
        if (error == ERROR_SUCCESS && exists &&
            !ReplaceFileW(longTarget.c_str(), temporary.c_str(), nullptr,
                          REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
            error = GetLastError();
        else if (error == ERROR_SUCCESS && !exists &&
                 !MoveFileExW(temporary.c_str(), longTarget.c_str(), MOVEFILE_WRITE_THROUGH))
            error = GetLastError();
        if (error != ERROR_SUCCESS)
            DeleteFileW(temporary.c_str());
        // Wine's ReplaceFileW leaves the replacement's own attributes.
        else if (exists && GetFileAttributesW(longTarget.c_str()) != attributes)
            SetFileAttributesW(longTarget.c_str(), attributes);
    }
    if (error == ERROR_SUCCESS)
        return nullptr;
    failure = std::string("Can't save the playlist to ") + path + ": " + systemMessage(error) + ".";
    return failure.c_str();
}

void savePlaylistThroughDialog() {
    // The filter's order is the formats' order here.
    const qvcore::PlaylistFormat formats[] = {
        qvcore::PlaylistFormat::M3u8, qvcore::PlaylistFormat::M3u, qvcore::PlaylistFormat::Pls};
    const char* const extensions[] = {".m3u8", ".m3u", ".pls"};
    char path[trackPathSize] = "";
    OPENFILENAMEA request;
    memset(&request, 0, sizeof request);
    request.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    request.hwndOwner = playlistWindowHandle;
    request.lpstrFilter =
        "M3U8 playlist (UTF-8)\0*.m3u8\0M3U playlist\0*.m3u\0PLS playlist\0*.pls\0";
    request.nFilterIndex = 1;
    request.lpstrFile = path;
    request.nMaxFile = sizeof path;
    request.lpstrTitle = "Save playlist";
    request.lpstrDefExt = "m3u8";
    request.Flags =
        OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!GetSaveFileNameA(&request))
        return;
    // A name of the playlist extensions says the format; any other is saved in the chosen type's.
    size_t chosen =
        request.nFilterIndex >= 1 && request.nFilterIndex <= 3 ? request.nFilterIndex - 1 : 0;
    qvcore::PlaylistFormat format = qvcore::playlistFormat(path);
    const char* failure = nullptr;
    if (format == qvcore::PlaylistFormat::None) {
        format = formats[chosen];
        if (strlen(path) + strlen(extensions[chosen]) < sizeof path)
            strcat(path, extensions[chosen]);
    }
    failure = savePlaylistFile(path, format);
    if (failure)
        MessageBoxA(playlistWindowHandle, failure, CAPTION_ERROR, MB_OK);
}

// Playlist files as bytes: the encoding, the M3U and PLS lines, and where each entry points as a
// Windows path string. Reading the file and asking the file system stay with the caller.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qvcore {

enum class PlaylistFormat { None, M3u, M3u8, Pls };

// By the name's extension, in any case: .m3u, .m3u8 or .pls; None for anything else.
PlaylistFormat playlistFormat(std::string_view name);

enum class PlaylistEncoding { Utf8, Utf16Le, Utf16Be, CodePage };

// How the bytes are text: a byte-order mark decides; without one, text that is valid UTF-8 and
// holds bytes past ASCII is UTF-8, and anything else the system's 8-bit code page.
PlaylistEncoding playlistEncoding(std::string_view bytes);

// One line of the system's 8-bit code page as UTF-8; empty when it is not valid there.
using CodePageToUtf8 = std::function<std::string(std::string_view)>;

struct PlaylistEntries {
    // UTF-8, trimmed, in the list's order (PLS by its numbers); no comments, URLs or lines that
    // are not text.
    std::vector<std::string> entries;
    // Some lines were passed over as longer than any path could be.
    bool tooLong = false;
};

// The entries of a playlist file's bytes. Lines of longestLine bytes or more count as too long.
PlaylistEntries parsePlaylist(std::string_view bytes, PlaylistFormat format,
                              std::size_t longestLine, const CodePageToUtf8& fromCodePage);

// Where an entry of a playlist in `folder` (a full Windows path without its trailing backslash)
// points, as a path with backslashes; relative entries count from the folder and root-relative
// ones from its drive or share. Empty for an entry that cannot name a file: devices included.
std::string resolvePlaylistEntry(std::string_view folder, std::string_view entry);

// A full path that can name a regular file: on a drive or a share, and not a device (CON, NUL,
// COM1, \\.\..., \\?\GLOBALROOT\...), which opening could block on.
bool isFileSystemPath(std::string_view path);

// The paths (UTF-8) as a playlist file of the format: M3U8 plain UTF-8, M3U UTF-8 with its mark,
// PLS numbered; lines end in CR LF.
std::string writePlaylist(const std::vector<std::string>& paths, PlaylistFormat format);

} // namespace qvcore

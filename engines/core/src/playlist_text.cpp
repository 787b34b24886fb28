#include "qvcore/playlist_text.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <utility>

namespace qvcore {
namespace {

bool endsWithNoCase(std::string_view text, std::string_view ending) {
    if (text.size() < ending.size())
        return false;
    text.remove_prefix(text.size() - ending.size());
    return std::equal(text.begin(), text.end(), ending.begin(), [](char a, char b) {
        return (a >= 'A' && a <= 'Z' ? a + ('a' - 'A') : a) == b;
    });
}

bool startsWithNoCase(std::string_view text, std::string_view start) {
    return text.size() >= start.size() && endsWithNoCase(text.substr(0, start.size()), start);
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += (char)c;
    } else if (c < 0x800) {
        out += (char)(0xC0 | c >> 6);
        out += (char)(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += (char)(0xE0 | c >> 12);
        out += (char)(0x80 | (c >> 6 & 0x3F));
        out += (char)(0x80 | (c & 0x3F));
    } else {
        out += (char)(0xF0 | c >> 18);
        out += (char)(0x80 | (c >> 12 & 0x3F));
        out += (char)(0x80 | (c >> 6 & 0x3F));
        out += (char)(0x80 | (c & 0x3F));
    }
}

// UTF-16 after its byte-order mark to UTF-8; a lone surrogate becomes U+FFFD, an odd last byte
// is dropped.
std::string utf16ToUtf8(std::string_view bytes, bool bigEndian) {
    std::string out;
    out.reserve(bytes.size());
    size_t units = bytes.size() / 2;
    auto unit = [&](size_t i) -> char32_t {
        auto hi = (unsigned char)bytes[2 * i + (bigEndian ? 0 : 1)];
        auto lo = (unsigned char)bytes[2 * i + (bigEndian ? 1 : 0)];
        return (char32_t)(hi << 8 | lo);
    };
    for (size_t i = 0; i < units; ++i) {
        char32_t c = unit(i);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units && unit(i + 1) >= 0xDC00 &&
            unit(i + 1) < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        appendUtf8(out, c);
    }
    return out;
}

// Well-formed UTF-8: no overlong forms, surrogates or values past U+10FFFF.
bool validUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        auto c = (unsigned char)text[i];
        size_t more = 0;
        if (c >= 0xC2 && c < 0xE0)
            more = 1;
        else if (c >= 0xE0 && c < 0xF0)
            more = 2;
        else if (c >= 0xF0 && c < 0xF5)
            more = 3;
        else if (c >= 0x80)
            return false;
        if (more >= text.size() - i)
            return false;
        for (size_t k = 1; k <= more; ++k)
            if (((unsigned char)text[i + k] & 0xC0) != 0x80)
                return false;
        auto next = more ? (unsigned char)text[i + 1] : 0;
        if ((c == 0xE0 && next < 0xA0) || (c == 0xED && next >= 0xA0) ||
            (c == 0xF0 && next < 0x90) || (c == 0xF4 && next >= 0x90))
            return false;
        i += more + 1;
    }
    return true;
}

// Control characters (C0 but the tab, DEL, C1) say that a line is not a path.
bool isText(std::string_view utf8) {
    for (size_t i = 0; i < utf8.size(); ++i) {
        auto c = (unsigned char)utf8[i];
        if ((c < 0x20 && c != '\t') || c == 0x7F)
            return false;
        if (c == 0xC2 && i + 1 < utf8.size() && (unsigned char)utf8[i + 1] < 0xA0)
            return false;
    }
    return true;
}

std::string_view trimmed(std::string_view text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// The drive (C:) or share (\\\\server\\share) that a full path lies on.
std::string_view rootOf(std::string_view folder) {
    size_t start = 0;
    if (startsWithNoCase(folder, "\\\\?\\unc\\"))
        start = 8;
    else if (folder.substr(0, 4) == "\\\\?\\")
        return folder.substr(0, 6);
    else if (folder.substr(0, 2) == "\\\\")
        start = 2;
    else
        return folder.substr(0, 2);
    size_t server = folder.find('\\', start);
    if (server == std::string_view::npos)
        return folder;
    return folder.substr(0, folder.find('\\', server + 1));
}

// The names that open a device in any folder, whatever follows a dot: CON, NUL.txt, com1.mp3.
bool isDeviceName(std::string_view name) {
    name = name.substr(0, name.find_first_of(".:"));
    while (!name.empty() && name.back() == ' ')
        name.remove_suffix(1);
    for (std::string_view device : {"con", "prn", "aux", "nul", "conin$", "conout$"})
        if (name.size() == device.size() && startsWithNoCase(name, device))
            return true;
    if (!startsWithNoCase(name, "com") && !startsWithNoCase(name, "lpt"))
        return false;
    std::string_view number = name.substr(3);
    // The superscript digits count too: \u00B9, \u00B2 and \u00B3.
    return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') || number == "\xC2\xB9" ||
           number == "\xC2\xB2" || number == "\xC2\xB3";
}

struct LineReader {
    PlaylistEncoding encoding;
    std::size_t longestLine;
    const CodePageToUtf8& fromCodePage;
    PlaylistEntries& result;

    // The line as a trimmed UTF-8 entry; empty when it is none.
    std::string entry(std::string_view line) {
        if (line.size() >= longestLine) {
            result.tooLong = true;
            return {};
        }
        std::string text;
        if (encoding == PlaylistEncoding::CodePage) {
            // Bytes below a space are never part of a code page's characters.
            if (!isText(line))
                return {};
            text = fromCodePage ? fromCodePage(line) : std::string();
        } else if (validUtf8(line)) {
            text.assign(line);
        }
        if (!isText(text))
            return {};
        std::string_view kept = trimmed(text);
        if (kept.empty() || kept.find("://") != std::string_view::npos)
            return {};
        return std::string(kept);
    }
};

} // namespace

PlaylistFormat playlistFormat(std::string_view name) {
    if (endsWithNoCase(name, ".m3u"))
        return PlaylistFormat::M3u;
    if (endsWithNoCase(name, ".m3u8"))
        return PlaylistFormat::M3u8;
    if (endsWithNoCase(name, ".pls"))
        return PlaylistFormat::Pls;
    return PlaylistFormat::None;
}

PlaylistEncoding playlistEncoding(std::string_view bytes) {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        return PlaylistEncoding::Utf8;
    if (bytes.substr(0, 2) == "\xFF\xFE")
        return PlaylistEncoding::Utf16Le;
    if (bytes.substr(0, 2) == "\xFE\xFF")
        return PlaylistEncoding::Utf16Be;
    const bool ascii =
        std::all_of(bytes.begin(), bytes.end(), [](char c) { return (unsigned char)c < 0x80; });
    return !ascii && validUtf8(bytes) ? PlaylistEncoding::Utf8 : PlaylistEncoding::CodePage;
}

PlaylistEntries parsePlaylist(std::string_view bytes, PlaylistFormat format,
                              std::size_t longestLine, const CodePageToUtf8& fromCodePage) {
    PlaylistEntries result;
    const PlaylistEncoding encoding = playlistEncoding(bytes);
    std::string converted;
    switch (encoding) {
    case PlaylistEncoding::Utf8:
        if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
            bytes.remove_prefix(3);
        break;
    case PlaylistEncoding::Utf16Le:
    case PlaylistEncoding::Utf16Be:
        converted = utf16ToUtf8(bytes.substr(2), encoding == PlaylistEncoding::Utf16Be);
        bytes = converted;
        break;
    case PlaylistEncoding::CodePage: break;
    }
    LineReader reader{encoding, longestLine, fromCodePage, result};
    // PLS numbers its entries; they are taken in that order.
    std::vector<std::pair<long long, std::string>> numbered;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = bytes.size();
        std::string_view line = bytes.substr(start, end - start);
        start = end + 1;
        if (line.empty())
            continue;
        if (format != PlaylistFormat::Pls) {
            if (line[0] == '#')
                continue;
            std::string entry = reader.entry(line);
            if (!entry.empty())
                result.entries.push_back(std::move(entry));
            continue;
        }
        size_t equals = line.find('=');
        if (line.size() < 5 || !startsWithNoCase(line, "file") || equals == std::string_view::npos)
            continue;
        long long number = 0;
        auto [numberEnd, error] = std::from_chars(line.data() + 4, line.data() + equals, number);
        if (error != std::errc() || numberEnd != line.data() + equals)
            continue;
        std::string entry = reader.entry(line.substr(equals + 1));
        if (!entry.empty())
            numbered.emplace_back(number, std::move(entry));
    }
    std::stable_sort(numbered.begin(), numbered.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [number, entry] : numbered)
        result.entries.push_back(std::move(entry));
    return result;
}

std::string resolvePlaylistEntry(std::string_view folder, std::string_view entry) {
    std::string path(trimmed(entry));
    if (path.empty())
        return {};
    std::replace(path.begin(), path.end(), '/', '\\');
    const bool absolute = path.size() >= 2 && (path[1] == ':' || path.compare(0, 2, "\\\\") == 0);
    if (!absolute)
        path = path[0] == '\\' ? std::string(rootOf(folder)) + path
                               : std::string(folder) + "\\" + path;
    // A drive-relative C:x passes here and is judged once the caller has made it full.
    const bool driveRelative = path.size() >= 2 && path[1] == ':' && path.compare(2, 1, "\\");
    return driveRelative || isFileSystemPath(path) ? path : std::string();
}

bool isFileSystemPath(std::string_view path) {
    bool share = false;
    if (startsWithNoCase(path, "\\\\?\\unc\\")) {
        path.remove_prefix(8);
        share = true;
    } else if (path.substr(0, 4) == "\\\\?\\") {
        path.remove_prefix(4);
    } else if (path.substr(0, 2) == "\\\\") {
        path.remove_prefix(2);
        share = true;
    }
    size_t server = path.find('\\');
    if (share) {
        // \\.\ and \\?\ name devices and the object namespace, not servers.
        std::string_view name = path.substr(0, server);
        if (name.empty() || name == "." || name == "?" || server == std::string_view::npos)
            return false;
    } else if (path.size() < 3 || path[1] != ':' || path[2] != '\\' ||
               !((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
        return false;
    }
    return !isDeviceName(path.substr(path.find_last_of('\\') + 1));
}

std::string writePlaylist(const std::vector<std::string>& paths, PlaylistFormat format) {
    std::string text;
    if (format == PlaylistFormat::Pls) {
        text = "[playlist]\r\n";
        for (size_t i = 0; i < paths.size(); ++i)
            text += "File" + std::to_string(i + 1) + "=" + paths[i] + "\r\n";
        return text + "NumberOfEntries=" + std::to_string(paths.size()) + "\r\nVersion=2\r\n";
    }
    // Without the mark an .m3u reads as the system's code page in many players.
    if (format == PlaylistFormat::M3u)
        text = "\xEF\xBB\xBF";
    text += "#EXTM3U\r\n";
    for (const std::string& path : paths)
        text += path + "\r\n";
    return text;
}

} // namespace qvcore

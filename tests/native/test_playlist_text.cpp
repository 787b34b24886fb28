// Playlist files as bytes: encodings, M3U and PLS lines, and entries resolved against the folder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qvcore/playlist_text.h"

using namespace std::string_literals;
using qvcore::PlaylistFormat;
using Entries = std::vector<std::string>;

namespace {

// Windows-1252 for the bytes the tests use, as the system's code page would give it.
std::string codePage(std::string_view line) {
    std::string out;
    for (char c : line)
        out += c == '\xE9' ? "\xC3\xA9"s : std::string(1, c);
    return out;
}

TEST(PlaylistText, LinesBecomeEntries) {
    const std::string longLine(100, 'x');
    const struct {
        const char* what;
        PlaylistFormat format;
        std::string bytes;
        Entries expected;
        bool tooLong;
    } rows[] = {
        {"comments, URLs, blanks and spaces",
         PlaylistFormat::M3u,
         "#EXTM3U\r\n#EXTINF:12,A\r\na.ogg\r\n\r\n  b.xm\t \nhttp://radio/s\n   \n",
         {"a.ogg", "b.xm"},
         false},
        {"code page without a mark",
         PlaylistFormat::M3u,
         "caf\xE9.mod\n",
         {"caf\xC3\xA9.mod"},
         false},
        {"UTF-8 by its mark",
         PlaylistFormat::M3u,
         "\xEF\xBB\xBF\xD0\xA2.ogg\n",
         {"\xD0\xA2.ogg"},
         false},
        {"M3U8 is UTF-8; a line that is not is passed over",
         PlaylistFormat::M3u8,
         "\xD0\xA2.ogg\ncaf\xE9.mod\n\xED\xA0\x80.ogg\n\xC0\xAF.ogg\nb.xm",
         {"\xD0\xA2.ogg", "b.xm"},
         false},
        {"UTF-16 little-endian, a pair and a lone surrogate",
         PlaylistFormat::M3u,
         "\xFF\xFE"
         "a\0\r\0\n\0\x3D\xD8\x35\xDE\n\0\x00\xD8x\0"s,
         {"a", "\xF0\x9F\x98\xB5", "\xEF\xBF\xBDx"},
         false},
        {"UTF-16 big-endian",
         PlaylistFormat::Pls,
         "\xFE\xFF\0F\0i\0l\0e\0001\0=\x04\x22"s,
         {"\xD0\xA2"},
         false},
        {"control characters are not text",
         PlaylistFormat::M3u8,
         "a\x01.ogg\nb\x7F.ogg\nc\xC2\x85.ogg\nd\xC2\xA0.ogg\n",
         {"d\xC2\xA0.ogg"},
         false},
        {"too long for a path",
         PlaylistFormat::M3u,
         "a.ogg\n" + longLine + "\nb.xm",
         {"a.ogg", "b.xm"},
         true},
        {"PLS in its numbers' order",
         PlaylistFormat::Pls,
         "[playlist]\nFile2=b.xm\nTitle1=A\nfile1= a.ogg\nFile3=http://r/s\nFileX=c.it\n"
         "File=d.it\nFile4\nFile-1=z.it\nNumberOfEntries=3\n",
         {"z.it", "a.ogg", "b.xm"},
         false},
        {"nothing", PlaylistFormat::Pls, "", {}, false},
    };
    for (const auto& row : rows) {
        const qvcore::PlaylistEntries list =
            qvcore::parsePlaylist(row.bytes, row.format, longLine.size(), codePage);
        EXPECT_EQ(list.entries, row.expected) << row.what;
        EXPECT_EQ(list.tooLong, row.tooLong) << row.what;
    }
}

TEST(PlaylistText, EntriesResolveAgainstTheFolder) {
    const struct {
        const char* folder;
        const char* entry;
        const char* expected;
    } rows[] = {
        {"C:\\Music", "a.ogg", "C:\\Music\\a.ogg"},
        {"C:\\Music", "sub/c.it", "C:\\Music\\sub\\c.it"},
        {"C:\\Music", "..\\b.xm", "C:\\Music\\..\\b.xm"},
        {"C:\\Music", "\\Other\\x.mp3", "C:\\Other\\x.mp3"},
        {"C:\\Music", "D:\\x.mp3", "D:\\x.mp3"},
        {"C:\\Music", "//nas/music/x.mp3", "\\\\nas\\music\\x.mp3"},
        {"\\\\nas\\music\\lists", "x.mp3", "\\\\nas\\music\\lists\\x.mp3"},
        {"C:\\Music", "  ", ""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(qvcore::resolvePlaylistEntry(row.folder, row.entry), row.expected)
            << row.folder << " " << row.entry;
}

TEST(PlaylistText, FormatByExtension) {
    EXPECT_EQ(qvcore::playlistFormat("C:\\a\\LIST.M3U"), PlaylistFormat::M3u);
    EXPECT_EQ(qvcore::playlistFormat("list.m3u8"), PlaylistFormat::M3u8);
    EXPECT_EQ(qvcore::playlistFormat("radio.Pls"), PlaylistFormat::Pls);
    EXPECT_EQ(qvcore::playlistFormat("song.mp3"), PlaylistFormat::None);
    EXPECT_EQ(qvcore::playlistFormat("m3u"), PlaylistFormat::None);
}

} // namespace

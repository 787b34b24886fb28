// Playlist files as bytes: encodings, M3U and PLS lines, and entries resolved against the folder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qvcore/playlist_text.h"

using namespace std::string_literals;
using qvcore::PlaylistFormat;
using Entries = std::vector<std::string>;

namespace {

// Latin-1 as the system's code page: every byte a character.
std::string codePage(std::string_view line) {
    std::string out;
    for (char c : line) {
        auto b = (unsigned char)c;
        out += b < 0x80 ? std::string(1, c)
                        : std::string{char(0xC0 | b >> 6), char(0x80 | (b & 0x3F))};
    }
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
        {"UTF-8 without a mark",
         PlaylistFormat::Pls,
         "File1=\xD0\xA2.ogg\n",
         {"\xD0\xA2.ogg"},
         false},
        {"one byte that is not UTF-8 makes it the code page",
         PlaylistFormat::M3u8,
         "\xD0\xA2.ogg\ncaf\xE9.mod\n",
         {"\xC3\x90\xC2\xA2.ogg", "caf\xC3\xA9.mod"},
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

TEST(PlaylistText, EncodingByMarkOrContent) {
    using E = qvcore::PlaylistEncoding;
    const struct {
        std::string bytes;
        E expected;
    } rows[] = {
        {"\xEF\xBB\xBF"
         "a",
         E::Utf8},
        {"\xFF\xFE"
         "a\0"s,
         E::Utf16Le},
        {"\xFE\xFF"
         "\0a"s,
         E::Utf16Be},
        {"a\xD0\xA2\xE3\x81\x82\xF0\x9F\x98\xB5", E::Utf8},
        {"plain.ogg", E::CodePage},
        {"caf\xE9", E::CodePage},
        {"\xC0\xAF", E::CodePage},
        {"\xED\xA0\x80", E::CodePage},
        {"\xF4\x90\x80\x80", E::CodePage},
        {"\xE3\x81", E::CodePage},
    };
    for (const auto& row : rows)
        EXPECT_EQ(qvcore::playlistEncoding(row.bytes), row.expected) << row.bytes;
}

TEST(PlaylistText, SavedListsReadBackTheSame) {
    const Entries names[] = {
        {"C:\\Music\\\xD0\xA2\xD0\xBE\xD0\xBD \xD0\xBB\xD1\x8F.ogg", "D:\\a.ogg"},
        {"\\\\nas\\music\\\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.mp3"},
        {"C:\\Music\\plain.xm", "C:\\Music\\plain.xm"},
        {},
    };
    for (PlaylistFormat format : {PlaylistFormat::M3u8, PlaylistFormat::M3u, PlaylistFormat::Pls})
        for (const Entries& paths : names)
            EXPECT_EQ(
                qvcore::parsePlaylist(qvcore::writePlaylist(paths, format), format, 4096, codePage)
                    .entries,
                paths)
                << (int)format << " " << (paths.empty() ? "" : paths[0]);
    EXPECT_EQ(qvcore::writePlaylist({"C:\\a.ogg"}, PlaylistFormat::Pls),
              "[playlist]\r\nFile1=C:\\a.ogg\r\nNumberOfEntries=1\r\nVersion=2\r\n");
    EXPECT_EQ(qvcore::writePlaylist({}, PlaylistFormat::M3u), "\xEF\xBB\xBF#EXTM3U\r\n");
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
        {"\\\\nas\\music\\lists", "\\Albums\\x.mp3", "\\\\nas\\music\\Albums\\x.mp3"},
        {"\\\\?\\UNC\\nas\\music\\lists", "\\x.mp3", "\\\\?\\UNC\\nas\\music\\x.mp3"},
        {"\\\\?\\C:\\Music", "\\x.mp3", "\\\\?\\C:\\x.mp3"},
        {"C:\\Music", "  ", ""},
        // Devices, in any folder and under any extension, and the namespaces that name them.
        {"C:\\Music", "CON", ""},
        {"C:\\Music", "sub\\nul.mp3", ""},
        {"C:\\Music", "Com1", ""},
        {"C:\\Music", "LPT9 .ogg", ""},
        {"C:\\Music", "com\xC2\xB9", ""},
        {"C:\\Music", "CONOUT$", ""},
        {"C:\\Music", "\\\\.\\PhysicalDrive0", ""},
        {"C:\\Music", "//./COM1", ""},
        {"C:\\Music", "\\\\?\\GLOBALROOT\\Device\\Null", ""},
        {"C:\\Music", "CONSOLE.mp3", "C:\\Music\\CONSOLE.mp3"},
        {"C:\\Music", "com10.mp3", "C:\\Music\\com10.mp3"},
        {"C:\\Music", "\\\\?\\D:\\x.mp3", "\\\\?\\D:\\x.mp3"},
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

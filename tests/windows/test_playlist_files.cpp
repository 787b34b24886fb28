// Playlist files dropped or chosen: M3U, M3U8 and PLS read in order, relative paths from the
// playlist's folder, comments, URLs, missing files, devices, loops, long lines and bad bytes
// passed over, with one box that counts what was not found; and the playlist saved in each
// format, read back the same, never half written.
#include <string.h>

#include "playlist/playlist_entries.h"
#include "playlist/playlist_file.h"
#include "tests/windows/main_window_fixture.h"
#include "tests/windows/playlist_helpers.h"
#include "tests/windows/temp_files.h"
#include "tests/support/bytes.h"
#include "qvwin32/handle.h"
#include "qvwin32/text.h"

namespace {

class PlaylistFiles : public MainWindowTest, protected TempFiles {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        makeTempFolder("qvlists-");
        makeFolder(folder + "\\sub");
        for (const char* name :
             {"a.ogg", "b.xm", "sub\\c.it", "Тон ля.ogg", "café.mod", "日本語.mp3"})
            write(name, "");
    }
    void TearDown() override {
        removeTempFiles();
        MainWindowTest::TearDown();
    }
    // Writes bytes under the test's folder; returns the full path.
    std::string write(const std::string& name, const std::string& bytes) {
        return makeFile(folder + "\\" + name, bytes);
    }
    std::string read(const std::string& path) {
        const testsupport::Bytes bytes = testsupport::readFile(std::filesystem::u8path(path));
        return std::string(bytes.begin(), bytes.end());
    }
    Entries under(const Entries& names) {
        Entries paths;
        for (const std::string& name : names)
            paths.push_back(folder + "\\" + name);
        return paths;
    }
};

TEST_F(PlaylistFiles, DroppedPlaylistsAddTheFilesTheyName) {
    const std::string longLine = std::string(1100, 'x') + ".ogg";
    const struct {
        const char* name;
        std::string bytes;
        Entries expected;
        // One box: lines too long, or entries not found.
        bool box;
    } rows[] = {
        {"list.m3u8",
         "\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:12,A\r\na.ogg\r\nsub/c.it\r\n\r\nhttp://radio.example/"
         "s\r\n"
         "missing.ogg\r\n" +
             folder + "\\b.xm\r\n  Тон ля.ogg  \r\nsub\r\n..\\" +
             folder.substr(folder.find_last_of('\\') + 1) + "\\a.ogg",
         {"a.ogg", "sub\\c.it", "b.xm", "Тон ля.ogg", "a.ogg"},
         true},
        // Written by a program of the system's 8-bit code page: "café" in Windows-1252.
        {"legacy.m3u", "caf\xE9.mod\nb.xm\n", {"café.mod", "b.xm"}, false},
        // UTF-8 without a mark, as other players write .m3u and .pls.
        {"plain.m3u", "Тон ля.ogg\r\n日本語.mp3\r\n", {"Тон ля.ogg", "日本語.mp3"}, false},
        {"plain.pls", "[playlist]\nFile1=日本語.mp3\n", {"日本語.mp3"}, false},
        {"unicode.m3u",
         std::string(
             "\xFF\xFE"
             "a\0.\0o\0g\0g\0\r\0\n\0\x22\x04\x3E\x04\x3D\x04 \0\x3B\x04\x4F\x04.\0o\0g\0g\0",
             36),
         {"a.ogg", "Тон ля.ogg"},
         false},
        {"radio.pls",
         "[playlist]\nFile2=b.xm\nTitle1=A\nFile1=a.ogg\nFile3=http://radio.example/s\n"
         "NumberOfEntries=3\n",
         {"a.ogg", "b.xm"},
         false},
        {"self.m3u", "self.m3u\na.ogg\nSELF.M3U\n", {"a.ogg"}, false},
        {"one.m3u", "two.m3u\na.ogg\n", {"b.xm", "a.ogg"}, false},
        {"long.m3u8",
         "a.ogg\n" + longLine + "\n" + std::string(5000, 'y') + "\nb.xm",
         {"a.ogg", "b.xm"},
         true},
        {"empty.m3u", "", {}, false},
        {"binary.m3u",
         std::string("RIFF\0\0\0\0WAVE\x01\x02\n\xFF\xFE\x00 a.ogg\0\n", 26) +
             std::string(3000, '\x90'),
         {},
         false},
    };
    write("two.m3u", "one.m3u\nb.xm\ntwo.m3u\n");
    for (const auto& row : rows) {
        SendMessageA(playlistWindowHandle, WM_COMMAND, IDC_CLEAR, 0);
        boxes.clear();
        std::string path = write(row.name, row.bytes);
        dropOn(main, {path});
        EXPECT_EQ(playlistEntries(), under(row.expected)) << row.name;
        EXPECT_EQ(boxes.boxes().size(), row.box ? 1u : 0u) << row.name;
        EXPECT_EQ(trackCount, (int)row.expected.size()) << row.name;
    }
}

TEST_F(PlaylistFiles, AHundredThousandLinesAreAllAdded) {
    std::string text = "#EXTM3U\n";
    for (int i = 1; i < 100000; ++i)
        text += i % 2 ? "a.ogg\n" : "b.xm\n";
    dropOn(playlistWindowHandle, {write("big.m3u8", text)});
    EXPECT_EQ(trackCount, 99999);
    EXPECT_EQ(selectedEntry(), 0);
}

TEST_F(PlaylistFiles, ASavedPlaylistReadsBackTheSame) {
    Entries entries = under({"Тон ля.ogg", "sub\\c.it", "a.ogg", "a.ogg", "café.mod"});
    dropOn(main, entries);
    std::string saved = folder + "\\saved.m3u8";
    created.push_back(saved);
    ASSERT_EQ(savePlaylistFile(saved.c_str()), nullptr);
    std::string bytes = read(saved);
    EXPECT_EQ(bytes.rfind("#EXTM3U\r\n" + entries[0] + "\r\n", 0), 0u) << "UTF-8, full paths";
    SendMessageA(playlistWindowHandle, WM_COMMAND, IDC_CLEAR, 0);
    dropOn(main, {saved});
    EXPECT_EQ(playlistEntries(), entries);

    // Through the menu and the system's save dialog.
    char item[64] = "";
    GetMenuStringA(playlistMenu, 2, item, sizeof item, MF_BYPOSITION);
    EXPECT_STREQ(item, "Save playlist...");
    EXPECT_EQ(GetMenuItemID(playlistMenu, 2), (UINT)IDM_PLAYLIST_SAVE);
    std::string chosen = folder + "\\chosen.m3u8";
    created.push_back(chosen);
    boxes.onDialog([&](HWND dialog) {
        if (windowText(dialog) != "Save playlist")
            return false;
        SetWindowTextA(fileNameBox(dialog), chosen.c_str());
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return true;
    });
    dropOn(main, {folder + "\\b.xm"});
    SendMessageA(playlistBox, WM_COMMAND, IDM_PLAYLIST_SAVE, 0);
    boxes.onDialog(nullptr);
    EXPECT_EQ(read(chosen), bytes + folder + "\\b.xm\r\n");
    EXPECT_TRUE(boxes.boxes().empty());
}

// A failed write says why and leaves the earlier file whole, with no temporary file behind.
TEST_F(PlaylistFiles, AFailedSaveSaysWhyAndKeepsTheEarlierFile) {
    dropOn(main, under({"a.ogg"}));
    std::string earlier = write("kept.m3u8", "#EXTM3U\r\nearlier\r\n");
    // Held open by another program, unshared: it cannot be replaced.
    qvwin32::Handle held(
        CreateFileA(earlier.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    const char* failure = savePlaylistFile(earlier.c_str());
    held.reset();
    ASSERT_NE(failure, nullptr);
    EXPECT_NE(std::string(failure).find(earlier), std::string::npos) << failure;
    EXPECT_EQ(read(earlier), "#EXTM3U\r\nearlier\r\n");
    WIN32_FIND_DATAA found;
    // Our own temporary file; the system's ReplaceFile may leave one of its own under Wine.
    qvwin32::FindHandle search(FindFirstFileA((folder + "\\qvp*.tmp").c_str(), &found));
    EXPECT_FALSE(search) << found.cFileName;

    failure = savePlaylistFile((folder + "\\nowhere\\list.m3u8").c_str());
    ASSERT_NE(failure, nullptr);
    EXPECT_NE(std::string(failure).find("nowhere"), std::string::npos) << failure;
}

// Devices are never taken for files, and a drop of lists naming many files that are not there
// gives one box that counts them.
TEST_F(PlaylistFiles, MissingEntriesAndDevicesAreCountedInOneBox) {
    std::string many;
    for (int i = 0; i < 100000; ++i)
        many += "D:\\Elsewhere\\" + std::to_string(i % 7) + "\\gone" + std::to_string(i) + ".ogg\n";
    const std::string devices = "CON\nNUL\nCOM1\nsub\\aux.mp3\n\\\\.\\PhysicalDrive0\n"
                                "\\\\?\\GLOBALROOT\\Device\\Null\na.ogg\n";
    dropOn(main, {write("many.m3u", many), write("devices.m3u", devices)});
    EXPECT_EQ(playlistEntries(), under({"a.ogg"}));
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].caption, "INFORMATION");
    EXPECT_NE(boxes.boxes()[0].text.find("100006 files"), std::string::npos)
        << boxes.boxes()[0].text;
}

// Where the system keeps an ANSI code page, a listed file whose name it cannot hold is named in a
// box, never added under the nearest letters the code page has.
TEST_F(PlaylistFiles, EntriesTheCodePageCannotHoldAreNamedNotChanged) {
    textCodePage = 1252;
    dropOn(main, {write("cp.m3u8", "a.ogg\nТон ля.ogg\n")});
    textCodePage = 0;
    EXPECT_EQ(playlistEntries(), under({"a.ogg"}));
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text.rfind("This file was not added", 0), 0u);
    EXPECT_NE(boxes.boxes()[0].text.find("Тон ля.ogg"), std::string::npos);
}

TEST_F(PlaylistFiles, EachFormatSavesAndReadsBackTheSame) {
    const Entries entries = under({"Тон ля.ogg", "日本語.mp3", "a.ogg", "sub\\c.it"});
    dropOn(main, entries);
    for (const char* name : {"saved.m3u8", "saved.m3u", "saved.pls"}) {
        std::string saved = folder + "\\" + name;
        created.push_back(saved);
        ASSERT_EQ(savePlaylistFile(saved.c_str()), nullptr) << name;
        SendMessageA(playlistWindowHandle, WM_COMMAND, IDC_CLEAR, 0);
        dropOn(main, {saved});
        EXPECT_EQ(playlistEntries(), entries) << name;
    }
    EXPECT_EQ(read(folder + "\\saved.pls").rfind("[playlist]\r\nFile1=" + entries[0] + "\r\n", 0),
              0u);
    EXPECT_EQ(read(folder + "\\saved.m3u").rfind("\xEF\xBB\xBF#EXTM3U\r\n", 0), 0u);
    EXPECT_TRUE(boxes.boxes().empty());
}

// A folder too long for the system's temporary names still takes the save; a read-only target
// is refused and keeps what it held, and a writable one keeps its attributes.
TEST_F(PlaylistFiles, LongFoldersAndReadOnlyTargets) {
    dropOn(main, under({"a.ogg"}));
    std::string deep = folder + "\\" + std::string(MAX_PATH - 14 - folder.size(), 'd');
    ASSERT_GE(deep.size(), (size_t)MAX_PATH - 14);
    ASSERT_TRUE(CreateDirectoryW(qvwin32::widen(("\\\\?\\" + deep).c_str()).c_str(), nullptr));
    created.push_back("\\\\?\\" + deep);
    const std::string list = deep + "\\list.m3u8";
    created.push_back("\\\\?\\" + list);
    const char* failure = savePlaylistFile(list.c_str());
    EXPECT_EQ(failure, nullptr) << failure;
    EXPECT_EQ(read("\\\\?\\" + list), "#EXTM3U\r\n" + folder + "\\a.ogg\r\n");

    // Past MAX_PATH: a list there, naming a file there, reads back.
    const std::string deeper = deep + "\\" + std::string(40, 'e');
    ASSERT_TRUE(CreateDirectoryW(qvwin32::widen(("\\\\?\\" + deeper).c_str()).c_str(), nullptr));
    created.push_back("\\\\?\\" + deeper);
    const std::string track = deeper + "\\t.ogg", outer = deeper + "\\far.m3u";
    ASSERT_GT(track.size(), (size_t)MAX_PATH);
    makeFile("\\\\?\\" + track);
    makeFile("\\\\?\\" + outer, "t.ogg\n");
    SendMessageA(playlistWindowHandle, WM_COMMAND, IDC_CLEAR, 0);
    SendMessageA(main, WM_DROPFILES, (WPARAM)makeWideDrop({outer}), 0);
    EXPECT_EQ(playlistEntries(), (Entries{track}));
    SendMessageA(playlistWindowHandle, WM_COMMAND, IDC_CLEAR, 0);
    dropOn(main, under({"a.ogg"}));

    const std::string locked = write("locked.m3u8", "#EXTM3U\r\nearlier\r\n");
    SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_READONLY);
    failure = savePlaylistFile(locked.c_str());
    EXPECT_EQ(read(locked), "#EXTM3U\r\nearlier\r\n");
    SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_NE(failure, nullptr);
    EXPECT_NE(std::string(failure).find("read-only"), std::string::npos) << failure;

    const std::string hidden = write("hidden.m3u8", "earlier");
    SetFileAttributesA(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(savePlaylistFile(hidden.c_str()), nullptr);
    EXPECT_EQ(read(hidden), "#EXTM3U\r\n" + folder + "\\a.ogg\r\n");
    EXPECT_TRUE(GetFileAttributesA(hidden.c_str()) & FILE_ATTRIBUTE_HIDDEN);
}

} // namespace

// Playlist files dropped or chosen: M3U, M3U8 and PLS read in order, relative paths from the
// playlist's folder, comments, URLs, missing files, loops, long lines and bad bytes passed over;
// and the playlist saved as M3U8, read back the same, never half written.
#include <string.h>

#include "playlist/playlist_entries.h"
#include "playlist/playlist_file.h"
#include "tests/windows/main_window_fixture.h"
#include "tests/windows/playlist_helpers.h"
#include "tests/windows/temp_files.h"
#include "tests/support/bytes.h"
#include "qvwin32/handle.h"

namespace {

class PlaylistFiles : public MainWindowTest, protected TempFiles {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        makeTempFolder("qvlists-");
        makeFolder(folder + "\\sub");
        for (const char* name : {"a.ogg", "b.xm", "sub\\c.it", "Тон ля.ogg", "café.mod"})
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
        bool tooLong;
    } rows[] = {
        {"list.m3u8",
         "\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:12,A\r\na.ogg\r\nsub/c.it\r\n\r\nhttp://radio.example/"
         "s\r\n"
         "missing.ogg\r\n" +
             folder + "\\b.xm\r\n  Тон ля.ogg  \r\nsub\r\n..\\" +
             folder.substr(folder.find_last_of('\\') + 1) + "\\a.ogg",
         {"a.ogg", "sub\\c.it", "b.xm", "Тон ля.ogg", "a.ogg"},
         false},
        // Written by a program of the system's 8-bit code page: "café" in Windows-1252.
        {"legacy.m3u", "caf\xE9.mod\nb.xm\n", {"café.mod", "b.xm"}, false},
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
        EXPECT_EQ(boxes.boxes().size(), row.tooLong ? 1u : 0u) << row.name;
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
    qvwin32::FindHandle search(FindFirstFileA((folder + "\\*.tmp").c_str(), &found));
    EXPECT_FALSE(search) << found.cFileName;

    failure = savePlaylistFile((folder + "\\nowhere\\list.m3u8").c_str());
    ASSERT_NE(failure, nullptr);
    EXPECT_NE(std::string(failure).find("nowhere"), std::string::npos) << failure;
}

} // namespace

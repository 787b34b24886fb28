// The playlist window: drops on each road, the width rule, double-click, Remove, Clear, the
// popup menu and the Delete key, and what it ignores.
#include "playlist/playlist_entries.h"
#include "tests/windows/main_window_fixture.h"
#include "tests/windows/playlist_helpers.h"

namespace {

class Playlist : public MainWindowTest {
protected:
    // A path of exactly n characters.
    static std::string pathOfLength(size_t n, char fill = 'a') {
        return "C:\\" + std::string(n - 7, fill) + ".ogg";
    }
    void fill(const Entries& paths, int current) {
        dropOn(playlistWindowHandle, paths);
        currentIndex = current;
        DropReleases::count = 0;
    }
    void select(int index) { SendMessageA(playlistBox, LB_SETCURSEL, index, 0); }

    DropReleases releases;
    const Entries abc = {"C:\\m\\a.ogg", "C:\\m\\b.xm", "C:\\m\\c.it"};
};

// Roads: the playlist window's surface, its list box, and the main window (playlist hidden).
TEST_F(Playlist, DropsOnEveryRoadAppendInOrderAndReleaseTheDropOnce) {
    const HWND roads[] = {playlistWindowHandle, playlistBox, main};
    for (HWND road : roads) {
        SendMessageA(playlistBox, LB_RESETCONTENT, 0, 0);
        currentIndex = 0;
        DropReleases::count = 0;
        HDROP drop = makeDrop(abc);
        SendMessageA(road, WM_DROPFILES, (WPARAM)drop, 0);
        EXPECT_EQ(playlistEntries(), abc);
        EXPECT_EQ(selectedEntry(), 0);
        EXPECT_EQ(trackCount, 3);
        EXPECT_STREQ(trackPathBuffer, "C:\\m\\c.it");
        EXPECT_EQ(DropReleases::count, 1);
        EXPECT_TRUE(isFreed(drop));
    }
    EXPECT_FALSE(IsWindowVisible(playlistWindowHandle));
}

TEST_F(Playlist, LaterDropsFollowAndTheCurrentEntryStaysSelected) {
    fill(abc, 1);
    select(2);                               // a single click moves the selection only
    dropOn(main, {"C:\\m\\a.ogg", "C:\\m"}); // a duplicate and a folder are entries too
    EXPECT_EQ(playlistEntries(),
              (Entries{"C:\\m\\a.ogg", "C:\\m\\b.xm", "C:\\m\\c.it", "C:\\m\\a.ogg", "C:\\m"}));
    EXPECT_EQ(selectedEntry(), 1);
    EXPECT_EQ(currentIndex, 1);
    EXPECT_EQ(trackCount, 5);
}

// Play on an empty list leaves -1, a Clear too: the first added entry is selected for Play,
// and currentIndex keeps its meaning for Next.
TEST_F(Playlist, DropWithNoCurrentEntrySelectsTheFirst) {
    currentIndex = -1;
    dropOn(main, abc);
    EXPECT_EQ(selectedEntry(), 0);
    EXPECT_EQ(currentIndex, -1);
}

TEST_F(Playlist, WidthRuleWidensAtSixPixelsACharacterAndNeverNarrows) {
    EXPECT_EQ(horizontalExtent(), 500);
    const std::pair<size_t, int> steps[] = {{83, 500}, {84, 504}, {100, 600}, {90, 600}};
    for (auto [length, extent] : steps) {
        dropOn(playlistBox, {pathOfLength(length)});
        EXPECT_EQ(horizontalExtent(), extent) << length << " characters";
    }
    command(IDC_CLEAR);
    EXPECT_EQ(horizontalExtent(), 600);
}

TEST_F(Playlist, PathsTooLongForTheBufferAreSkippedAndReportedOnce) {
    HDROP drop =
        makeDrop({"C:\\m\\a.ogg", pathOfLength(1024), pathOfLength(1500), pathOfLength(1023)});
    SendMessageA(main, WM_DROPFILES, (WPARAM)drop, 0);
    EXPECT_EQ(playlistEntries(), (Entries{"C:\\m\\a.ogg", pathOfLength(1023)}));
    EXPECT_EQ(trackCount, 2);
    EXPECT_EQ(DropReleases::count, 1);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].caption, "ERROR");
    EXPECT_NE(boxes.boxes()[0].text.find("1023"), std::string::npos);
}

// Names outside any 8-bit code page travel as UTF-8: measured in bytes against the buffer, never
// cut inside a character, widened by characters, and handed to the library as they are.
TEST_F(Playlist, UnicodeNamesFromEitherKindOfDropAreKeptAsUtf8) {
    const Entries names = {"C:\\m\\Тон ля.ogg", "C:\\m\\音楽.xm", "C:\\m\\🎵 tune.mod"};
    std::string cyrillic = "C:\\";
    while (cyrillic.size() < 1023)
        cyrillic += "Я"; // 1023 bytes in 513 characters: fits
    std::string tooLong = cyrillic + "Я";
    std::string emojiTooLong = cyrillic.substr(0, 1021) + "🎵"; // its last bytes would not fit
    for (bool wide : {false, true}) {
        SendMessageA(playlistWindowHandle, WM_COMMAND, IDC_CLEAR, 0);
        boxes.clear();
        currentIndex = 0;
        Entries dropped = names;
        dropped.insert(dropped.end(), {tooLong, cyrillic, emojiTooLong});
        HDROP drop = wide ? makeWideDrop(dropped) : makeDrop(dropped);
        SendMessageA(main, WM_DROPFILES, (WPARAM)drop, 0);
        Entries expected = names;
        expected.push_back(cyrillic);
        EXPECT_EQ(playlistEntries(), expected) << (wide ? "wide drop" : "8-bit drop");
        EXPECT_EQ(boxes.boxes().size(), 1u) << "the two long paths are reported once";
    }
    EXPECT_EQ(horizontalExtent(), 6 * 513) << "six pixels a character, not a byte";
    command(IDC_PLAY);
    EXPECT_EQ(fake::calls()[0], "FMUSIC_LoadSong(" + names[0] + ")");
}

// Where Windows keeps an ANSI code page, a name is taken only as that code page holds it: one it
// would change (a default character, or the nearest letter) is refused, and a drop names them.
TEST_F(Playlist, NamesAreTakenOnlyWhereTheCodePageHoldsThem) {
    const struct {
        UINT codePage;
        const wchar_t* name;
        const char* held; // null: refused
    } rows[] = {
        {1252, L"C:\\m\\\u00e9t\u00e9.ogg", "C:\\m\\\xe9t\xe9.ogg"},
        {1252, L"C:\\m\\\u0142\u00f3d\u017a.mp3", nullptr}, // best fit would give "lodz"
        {932, L"C:\\m\\\u97f3\u697d.xm", "C:\\m\\\x89\xb9\x8a\x79.xm"},
        {65001, L"C:\\m\\\xd800.ogg", nullptr}, // half a surrogate pair
    };
    for (const auto& row : rows) {
        textCodePage = row.codePage;
        std::string out = "refused";
        EXPECT_EQ(narrowName(row.name, out), row.held != nullptr) << row.codePage;
        EXPECT_EQ(out, row.held ? row.held : "refused") << row.codePage;
    }
    textCodePage = 1252;
    SendMessageA(main, WM_DROPFILES,
                 (WPARAM)makeWideDrop({"C:\\m\\a.ogg", "C:\\m\\Тон.ogg", "C:\\m\\łódź.mp3"}), 0);
    EXPECT_EQ(playlistEntries(), (Entries{"C:\\m\\a.ogg"}));
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].caption, "ERROR");
    EXPECT_EQ(boxes.boxes()[0].text.rfind("These files were not added", 0), 0u);
    EXPECT_NE(boxes.boxes()[0].text.find("(1252)"), std::string::npos);
    EXPECT_NE(boxes.boxes()[0].text.find("\n\nC:\\m\\Тон.ogg\nC:\\m\\łódź.mp3"), std::string::npos);
}

// A real double-click on entry 2, as the mouse sends it.
class DoubleClick : public Playlist {
protected:
    void doubleClickEntry(int index) {
        RECT item;
        SendMessageA(playlistBox, LB_GETITEMRECT, index, (LPARAM)&item);
        LPARAM at = MAKELPARAM(item.left + 5, item.top + 2);
        SendMessageA(playlistBox, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageA(playlistBox, WM_LBUTTONUP, 0, at);
        SendMessageA(playlistBox, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
        SendMessageA(playlistBox, WM_LBUTTONUP, 0, at);
    }
};

TEST_F(DoubleClick, WhileIdleSendsPlayOnce) {
    fill(abc, 0);
    PlayCommands commands(main);
    doubleClickEntry(2);
    EXPECT_EQ(currentIndex, 2);
    EXPECT_STREQ(trackPathBuffer, "C:\\m\\c.it");
    EXPECT_EQ(PlayCommands::sent, (std::vector<std::pair<WPARAM, LPARAM>>{{IDC_PLAY, 0}}));
}

TEST_F(DoubleClick, WhilePlayingSendsStopThenPlay) {
    fill(abc, 0);
    isPlaying = 1;
    PlayCommands commands(main);
    doubleClickEntry(1);
    isPlaying = 0;
    EXPECT_EQ(currentIndex, 1);
    EXPECT_EQ(PlayCommands::sent,
              (std::vector<std::pair<WPARAM, LPARAM>>{{IDC_PLAY, 0}, {IDC_PLAY, 0}}));
}

// Remove deletes the selected entry, selects the one that took its place, and keeps
// currentIndex on the same track (or on the one before a removed current entry).
TEST_F(Playlist, RemoveDeletesTheSelectedEntry) {
    struct Row {
        int current, selected;
        Entries left;
        int selectedAfter, currentAfter;
    };
    const Row rows[] = {
        {2, 0, {"C:\\m\\b.xm", "C:\\m\\c.it"}, 0, 1},  // before the current entry
        {1, 1, {"C:\\m\\a.ogg", "C:\\m\\c.it"}, 1, 0}, // the current entry itself
        {0, 0, {"C:\\m\\b.xm", "C:\\m\\c.it"}, 0, -1}, // the first, current
        {0, 2, {"C:\\m\\a.ogg", "C:\\m\\b.xm"}, 1, 0}, // the last: the new last is selected
    };
    for (const Row& row : rows) {
        SendMessageA(playlistBox, LB_RESETCONTENT, 0, 0);
        fill(abc, row.current);
        select(row.selected);
        command(IDC_REMOVE); // to the main window: not its command, nothing happens
        SendMessageA(playlistWindowHandle, WM_COMMAND, IDC_REMOVE, 0);
        EXPECT_EQ(playlistEntries(), row.left) << "removing " << row.selected;
        EXPECT_EQ(selectedEntry(), row.selectedAfter) << "removing " << row.selected;
        EXPECT_EQ(currentIndex, row.currentAfter) << "removing " << row.selected;
        EXPECT_EQ(trackCount, 2);
    }
}

TEST_F(Playlist, RemoveWithNothingSelectedAndTheDeleteKey) {
    fill(abc, 0);
    select(-1);
    SendMessageA(playlistWindowHandle, WM_COMMAND, IDC_REMOVE, 0);
    EXPECT_EQ(playlistEntries(), abc);
    select(1);
    SendMessageA(playlistBox, WM_KEYDOWN, VK_DELETE, 0);
    EXPECT_EQ(playlistEntries(), (Entries{"C:\\m\\a.ogg", "C:\\m\\c.it"}));
}

TEST_F(Playlist, ClearEmptiesTheListAndTheNextDropSelectsTheFirst) {
    fill(abc, 2);
    isPlaying = 1;
    SendMessageA(playlistWindowHandle, WM_COMMAND, IDC_CLEAR, 0);
    EXPECT_TRUE(playlistEntries().empty());
    EXPECT_STREQ(trackPathBuffer, "");
    EXPECT_EQ(trackCount, 0);
    EXPECT_EQ(currentIndex, -1);
    EXPECT_TRUE(fake::calls().empty()) << "a playing track plays on";
    isPlaying = 0;
    dropOn(main, {"C:\\m\\d.mod"});
    EXPECT_EQ(selectedEntry(), 0);
}

// The menu on the window's margins: its items act here, never on the main window, where the same
// numbers are the recorder buttons.
TEST_F(Playlist, PopupMenuRemovesAndClearsWithoutReachingTheMainWindow) {
    fill(abc, 2);
    ShowWindow(playlistWindowHandle, SW_SHOWNORMAL);
    EXPECT_EQ(GetMenuItemID(playlistMenu, 0), (UINT)IDM_PLAYLIST_REMOVE);
    EXPECT_EQ(GetMenuItemID(playlistMenu, 1), (UINT)IDM_PLAYLIST_CLEAR);
    bool mainGotRecorderCommand = false;
    boxes.onDialog([&](HWND window) {
        mainGotRecorderCommand |= isRecorderWindow(window);
        PostMessageA(window, WM_COMMAND, IDC_RECORDER_EXIT, 0);
        return true;
    });
    auto choose = [&](int downs) {
        for (int i = 0; i < downs; ++i)
            PostMessageA(playlistBox, WM_KEYDOWN, VK_DOWN, 0);
        PostMessageA(playlistBox, WM_KEYDOWN, VK_RETURN, 0);
        SendMessageA(playlistWindowHandle, WM_RBUTTONDOWN, 0, MAKELPARAM(2, 2));
        pumpMessages(50);
    };
    select(0);
    choose(1);
    EXPECT_EQ(playlistEntries(), (Entries{"C:\\m\\b.xm", "C:\\m\\c.it"}));
    EXPECT_EQ(currentIndex, 1);
    EXPECT_EQ(GetFocus(), playlistBox);
    choose(2);
    EXPECT_TRUE(playlistEntries().empty());
    EXPECT_FALSE(mainGotRecorderCommand);
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(Playlist, ListFullIsReported) {
    SendMessageA(playlistWindowHandle, WM_COMMAND, MAKEWPARAM(IDC_PLAYLIST_BOX, LBN_ERRSPACE),
                 (LPARAM)playlistBox);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Playlist limit reached");
    EXPECT_EQ(boxes.boxes()[0].caption, "ERROR");
    EXPECT_EQ(boxes.boxes()[0].owner, playlistWindowHandle);
}

TEST_F(Playlist, EscapeEnterAndCloseRequestsChangeNothing) {
    fill(abc, 0);
    ShowWindow(playlistWindowHandle, SW_SHOWNORMAL);
    for (WPARAM key : {VK_ESCAPE, VK_RETURN}) {
        MSG msg = {playlistBox, WM_KEYDOWN, key, 0, 0, {0, 0}};
        IsDialogMessageA(playlistWindowHandle, &msg);
    }
    SendMessageA(playlistWindowHandle, WM_CLOSE, 0, 0);
    SendMessageA(playlistWindowHandle, WM_SYSCOMMAND, SC_CLOSE, 0);
    pumpMessages(50);
    EXPECT_TRUE(IsWindowVisible(playlistWindowHandle));
    EXPECT_EQ(playlistEntries(), abc);
    SetFocus(playlistWindowHandle);
    EXPECT_EQ(GetFocus(), playlistBox);
}

} // namespace

// The open button with the real system dialog, played by the test as a user would: type in the
// file name box, press Open or Cancel.
#include <string.h>

#include "playlist/open_dialog.h"
#include "tests/windows/main_window_fixture.h"
#include "tests/windows/playlist_helpers.h"
#include "tests/windows/temp_files.h"

namespace {

const int filterCombo = cmb1;

class OpenDialog : public MainWindowTest, protected TempFiles {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        makeTempFolder("qvtest-");
        current = this;
    }
    void TearDown() override {
        removeTempFiles();
        current = nullptr;
        MainWindowTest::TearDown();
    }

    // Each step is typed in the file name box and Open pressed; an empty step presses Cancel.
    void useDialog(std::vector<std::string> steps) {
        pending = std::move(steps);
        dialog = nullptr;
        boxes.onDialog([this](HWND window) {
            if (dialog || windowText(window) != "Open file")
                return false;
            dialog = window;
            owner = GetWindow(window, GW_OWNER);
            return true;
        });
        UINT_PTR timer = SetTimer(nullptr, 0, 100, step);
        command(IDC_OPEN);
        KillTimer(nullptr, timer);
        boxes.onDialog(nullptr);
        EXPECT_NE(dialog, nullptr) << "the dialog never showed";
        EXPECT_TRUE(pending.empty()) << "the dialog closed early";
    }
    static void CALLBACK step(HWND, UINT, UINT_PTR, DWORD) {
        OpenDialog* test = current;
        // Not while the dialog is missing or a box of its own is open.
        if (!test || !IsWindow(test->dialog) || !IsWindowEnabled(test->dialog))
            return;
        if (test->filters.empty())
            test->readFilters();
        if (test->pending.empty() || test->pending.front().empty()) {
            if (!test->pending.empty())
                test->pending.erase(test->pending.begin());
            PostMessageA(test->dialog, WM_COMMAND, IDCANCEL, 0);
            return;
        }
        HWND name = fileNameBox(test->dialog);
        SetWindowTextA(name, test->pending.front().c_str());
        test->pending.erase(test->pending.begin());
        PostMessageA(test->dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     (LPARAM)GetDlgItem(test->dialog, IDOK));
    }

    void readFilters() {
        HWND types = GetDlgItem(dialog, filterCombo);
        for (int i = 0; i < (int)SendMessageA(types, CB_GETCOUNT, 0, 0); ++i) {
            char text[256] = "";
            SendMessageA(types, CB_GETLBTEXT, i, (LPARAM)text);
            filters.push_back(text);
        }
        filterChosen = (int)SendMessageA(types, CB_GETCURSEL, 0, 0);
    }

    static inline OpenDialog* current = nullptr;
    std::vector<std::string> pending;
    HWND dialog = nullptr;
    HWND owner = nullptr;
    std::vector<std::string> filters;
    int filterChosen = -1;
};

TEST_F(OpenDialog, OneFileIsAddedAsChosenWithoutWidening) {
    std::string path = makeFile(folder + "\\" + std::string(120, 'x') + ".ogg");
    useDialog({path});
    EXPECT_EQ(owner, main);
    EXPECT_EQ(filters, (Entries{"Audio MO3,IT,XM,S3M,MTM,MOD,UMX,MID,SGT", "All", "Playlists"}));
    EXPECT_EQ(filterChosen, 0);
    EXPECT_EQ(playlistEntries(), (Entries{path}));
    EXPECT_EQ(horizontalExtent(), 500);
    EXPECT_STREQ(trackPathBuffer, "");
    EXPECT_EQ(trackCount, 1);
    EXPECT_EQ(selectedEntry(), 0);

    useDialog({path}); // already there: added once more
    EXPECT_EQ(playlistEntries(), (Entries{path, path}));
    EXPECT_EQ(trackCount, 2);
}

TEST_F(OpenDialog, SeveralFilesAreJoinedToTheirFolderInTheDialogsOrder) {
    std::string longName = std::string(100, 'y') + ".mod";
    makeFile(folder + "\\a.xm");
    makeFile(folder + "\\b.it");
    makeFile(folder + "\\" + longName);
    dropOn(main, {"C:\\m\\first.ogg"});
    currentIndex = -1;
    useDialog({folder, "\"b.it\" \"" + longName + "\" \"a.xm\""});
    std::string joinedLong = folder + "\\" + longName;
    EXPECT_EQ(playlistEntries(),
              (Entries{"C:\\m\\first.ogg", folder + "\\b.it", joinedLong, folder + "\\a.xm"}));
    EXPECT_EQ(horizontalExtent(), 6 * (int)joinedLong.size());
    EXPECT_EQ(std::string(trackPathBuffer), folder + "\\");
    EXPECT_EQ(trackCount, 4);
    EXPECT_EQ(selectedEntry(), 0) << "no current entry: the first is selected";
    EXPECT_EQ(currentIndex, -1);
}

// The dialog hands back names outside any 8-bit code page in UTF-8, alone or joined to a folder.
TEST_F(OpenDialog, UnicodeNamesAreAddedAsTheirNames) {
    std::string one = makeFile(folder + "\\Тон ля.ogg");
    std::string two = makeFile(folder + "\\音楽.xm");
    std::string three = makeFile(folder + "\\🎵 tune.mod");
    useDialog({one});
    useDialog({folder, "\"音楽.xm\" \"🎵 tune.mod\""});
    EXPECT_EQ(playlistEntries(), (Entries{one, two, three}));
    EXPECT_TRUE(boxes.boxes().empty());
}

// With an ANSI code page, a chosen name it cannot hold is refused and named, alone or joined.
TEST_F(OpenDialog, NamesOutsideAnAnsiCodePageAreRefusedAndNamed) {
    std::string held = makeFile(folder + "\\a.xm");
    std::string cyrillic = makeFile(folder + "\\Тон ля.ogg");
    textCodePage = 1252;
    useDialog({cyrillic});
    useDialog({folder, "\"Тон ля.ogg\" \"a.xm\""});
    EXPECT_EQ(playlistEntries(), (Entries{held}));
    ASSERT_EQ(boxes.boxes().size(), 2u);
    for (const ShownBox& box : boxes.boxes()) {
        EXPECT_EQ(box.owner, main);
        EXPECT_EQ(box.text.rfind("This file was not added: its name holds characters that", 0), 0u);
        EXPECT_NE(box.text.find("\n\n" + cyrillic), std::string::npos) << box.text;
    }
}

TEST_F(OpenDialog, CancelRecountsAndSelectsTheCurrentEntryAgain) {
    dropOn(main, {"C:\\m\\a.ogg", "C:\\m\\b.xm", "C:\\m\\c.it"});
    currentIndex = 1;
    SendMessageA(playlistBox, LB_SETCURSEL, 2, 0);
    trackCount = 9;
    strcpy(trackPathBuffer, "C:\\m\\c.it");
    useDialog({""});
    EXPECT_EQ(playlistEntries().size(), 3u);
    EXPECT_EQ(selectedEntry(), 1);
    EXPECT_EQ(trackCount, 3);
    EXPECT_STREQ(trackPathBuffer, "");
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(OpenDialog, MissingFileIsRefusedByTheDialogItself) {
    useDialog({folder + "\\nothere.ogg", ""});
    EXPECT_TRUE(playlistEntries().empty());
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].owner, dialog);
}

TEST_F(OpenDialog, ChoiceTooBigForTheResultBufferIsReported) {
    std::string big = folder + "\\big";
    makeFolder(big);
    std::string typed;
    for (int i = 0; i < 115; ++i) {
        std::string name = std::to_string(1000 + i) + std::string(186, 'z') + ".ogg";
        makeFile(big + "\\" + name);
        typed += "\"" + name + "\" ";
    }
    useDialog({big, typed});
    EXPECT_TRUE(playlistEntries().empty());
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].caption, "ERROR");
    EXPECT_EQ(boxes.boxes()[0].owner, main);
}

// What the dialog hands back, for paths no real folder can hold and for a list cut at the end of
// the buffer (which some dialogs hand back as a success).
TEST_F(OpenDialog, ChoicesThatDoNotFitAreNotAddedCutShort) {
    std::vector<char> result(20480);
    auto write = [&](const std::vector<std::string>& parts) {
        std::fill(result.begin(), result.end(), '\0');
        size_t at = 0;
        for (const std::string& part : parts) {
            memcpy(result.data() + at, part.c_str(), std::min(part.size(), result.size() - at));
            at += part.size() + 1;
        }
    };
    std::string longName(1100, 'n');
    write({"C:\\m", longName, "ok.ogg"});
    EXPECT_NE(addChosenFiles(result.data(), 5), nullptr);
    EXPECT_EQ(playlistEntries(), (Entries{"C:\\m\\ok.ogg"}));
    EXPECT_STREQ(trackPathBuffer, "C:\\m\\");

    write({"C:\\m\\" + longName});
    EXPECT_NE(addChosenFiles(result.data(), 5), nullptr);

    write({"C:\\m", "a.ogg", std::string(20480, 'c')});
    EXPECT_NE(addChosenFiles(result.data(), 5), nullptr);
    EXPECT_EQ(playlistEntries().size(), 1u);

    write({"C:\\", "a.ogg", "b.ogg"}); // the root already ends in a backslash
    EXPECT_EQ(addChosenFiles(result.data(), 4), nullptr);
    EXPECT_EQ(playlistEntries(), (Entries{"C:\\m\\ok.ogg", "C:\\a.ogg", "C:\\b.ogg"}));
}

} // namespace

// Start-up and its failure paths, with the scripted libraries.
#include <gtest/gtest.h>

#include "app/startup.h"
#include "app/state.h"
#include "tests/windows/app_fixture.h"

namespace {

class Startup : public AppTest {
protected:
    // Closes the main window as soon as it appears, as a user pressing its close box would.
    void closeMainWindowWhenShown() {
        boxes.onDialog([this](HWND window) {
            if (windowText(window) == "Quaverly - Tamsel") {
                mainWindowShown = true;
                PostMessageA(window, WM_CLOSE, 0, 0);
            }
            return true;
        });
    }
    bool mainWindowShown = false;
};

TEST_F(Startup, NormalRunInitialisesBothLibrariesInOrderAndReturnsZero) {
    closeMainWindowWhenShown();
    EXPECT_EQ(runQuaverly(GetModuleHandleA(nullptr)), 0);
    EXPECT_TRUE(mainWindowShown);
    EXPECT_TRUE(boxes.boxes().empty());
    std::vector<std::string> expected = {"BASS_GetVersion()", "BASS_Init(-1,44100,0)",
                                         "FSOUND_GetVersion()", "FSOUND_Init(44000,32,0)",
                                         "BASS_SetConfig(3,255)"};
    ASSERT_GE(fake::calls().size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(fake::calls().begin(), fake::calls().begin() + 5), expected);
}

TEST_F(Startup, SharedRecordsGetTheirStartValues) {
    closeMainWindowWhenShown();
    runQuaverly(GetModuleHandleA(nullptr));
    EXPECT_EQ(volumeScrollInfo.cbSize, sizeof(SCROLLINFO));
    EXPECT_EQ(volumeScrollInfo.fMask, 0x17u);
    EXPECT_EQ(volumeScrollInfo.nMin, 0);
    EXPECT_EQ(volumeScrollInfo.nMax, 255);
    EXPECT_EQ(volumeScrollInfo.nPage, 2u);
    EXPECT_EQ(volumeScrollInfo.nTrackPos, 0);
    EXPECT_EQ(trayIconData.cbSize, (DWORD)NOTIFYICONDATAA_V1_SIZE);
    EXPECT_EQ(trayIconData.uID, 1001u);
    EXPECT_EQ(trayIconData.uFlags, 7u);
    EXPECT_NE(trayIconData.hIcon, nullptr);
    EXPECT_STREQ(trayIconData.szTip, "Quaverly");
    EXPECT_EQ(trayIconData.uCallbackMessage, 1034u);
    EXPECT_NE(trayIconData.hWnd, nullptr);
}

struct FailureRow {
    const char* name;
    void (*script)();
    const char* text;
    const char* caption;
    std::vector<std::string> calls;
};

class StartupFailure : public Startup, public ::testing::WithParamInterface<FailureRow> {};

TEST_P(StartupFailure, ShowsUnownedBoxCleansUpAndReturnsOne) {
    const FailureRow& row = GetParam();
    row.script();
    closeMainWindowWhenShown();
    EXPECT_EQ(runQuaverly(GetModuleHandleA(nullptr)), 1);
    EXPECT_FALSE(mainWindowShown);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    const ShownBox& box = boxes.boxes()[0];
    if (row.text) {
        EXPECT_EQ(box.text, row.text);
    } else {
        EXPECT_FALSE(box.text.empty());
    }
    EXPECT_EQ(box.caption, row.caption);
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(fake::calls(), row.calls);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StartupFailure,
    ::testing::Values(
        FailureRow{"WrongBassVersion",
                   [] { fake::script().bassVersion = 0x02040000; },
                   nullptr,
                   "Wrong bass.dll version is loaded",
                   {"BASS_GetVersion()"}},
        FailureRow{"BassInitFails",
                   [] { fake::script().bassInit = FALSE; },
                   "Failed to initialise device",
                   "ERROR",
                   {"BASS_GetVersion()", "BASS_Init(-1,44100,0)"}},
        FailureRow{"OldFmod",
                   [] { fake::script().fmodVersion = 3.74f; },
                   "You should be using f_hmod 3.75\n",
                   "Wrong f_hmod.dll version",
                   {"BASS_GetVersion()", "BASS_Init(-1,44100,0)", "FSOUND_GetVersion()",
                    "BASS_Stop()", "BASS_Free()"}},
        FailureRow{"FmodInitFailsWithNoDevice",
                   [] {
                       fake::script().fmodInit = 0;
                       fake::script().fmodError = 3;
                   },
                   "Error initializing output device.",
                   "ERROR",
                   {"BASS_GetVersion()", "BASS_Init(-1,44100,0)", "FSOUND_GetVersion()",
                    "FSOUND_Init(44000,32,0)", "FSOUND_GetError()", "BASS_Stop()", "BASS_Free()"}},
        FailureRow{"FmodInitFailsWithUnknownCode",
                   [] {
                       fake::script().fmodInit = 0;
                       fake::script().fmodError = 25;
                   },
                   "Unknown error",
                   "ERROR",
                   {"BASS_GetVersion()", "BASS_Init(-1,44100,0)", "FSOUND_GetVersion()",
                    "FSOUND_Init(44000,32,0)", "FSOUND_GetError()", "BASS_Stop()", "BASS_Free()"}}),
    [](const ::testing::TestParamInfo<FailureRow>& info) { return info.param.name; });

TEST(FmodErrorText, CoversTheWholeTableAndNothingElse) {
    EXPECT_STREQ(fmodErrorText(0), "No errors");
    EXPECT_STREQ(fmodErrorText(12), "Not enough memory ");
    EXPECT_STREQ(fmodErrorText(18), "Required Mediaplayer codec is not installed");
    EXPECT_STREQ(fmodErrorText(19), "Unknown error");
    EXPECT_STREQ(fmodErrorText(0xFFFFFFFFu), "Unknown error");
}

} // namespace

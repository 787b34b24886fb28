// Next and Previous: the index arithmetic, the release before the play, and what carries over.
#include <algorithm>

#include "tests/windows/playback_fixture.h"

namespace {

using Calls = std::vector<std::string>;

const std::vector<std::string> five = {"C:\\0.mod", "C:\\1.mod", "C:\\2.mod", "C:\\3.mod",
                                       "C:\\4.mod"};

class Navigation : public PlaybackTest {
protected:
    void SetUp() override {
        PlaybackTest::SetUp();
        for (const std::string& path : five)
            fake::script().fmodModules[path] = {8};
        fake::script().fmodModules[moduleA] = {8};
        fake::script().fmodModules[moduleB] = {8};
    }

    // The path of the module now loaded, from the last load in the log.
    std::string loaded() {
        Calls loads = fake::callsStartingWith({"FMUSIC_LoadSong("});
        return loads.empty() ? "" : loads.back();
    }
};

struct StepRow {
    int from;
    int command;
    int to;
};

void PrintTo(const StepRow& row, std::ostream* os) {
    *os << row.from << (row.command == IDC_NEXT ? " Next " : " Previous ") << row.to;
}

class NavigationStep : public Navigation, public ::testing::WithParamInterface<StepRow> {};

TEST_P(NavigationStep, MovesWithWrapAroundAndPlaysTheEntry) {
    const StepRow& row = GetParam();
    addEntries(five);
    select(row.from);

    command(row.command);

    EXPECT_EQ(currentIndex, row.to);
    EXPECT_EQ(selection(), row.to);
    EXPECT_EQ(loaded(), "FMUSIC_LoadSong(" + five[row.to] + ")");
    EXPECT_TRUE(isPlaying);
    EXPECT_TRUE(boxes.boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(Navigation, NavigationStep,
                         ::testing::Values(StepRow{4, IDC_NEXT, 0}, StepRow{0, IDC_PREVIOUS, 4},
                                           StepRow{-1, IDC_NEXT, 0}, StepRow{-1, IDC_PREVIOUS, 4},
                                           StepRow{2, IDC_NEXT, 3}, StepRow{2, IDC_PREVIOUS, 1}));

TEST_F(Navigation, OneEntryIsStoppedAndPlayedAgain) {
    play(moduleA);
    for (int id : {IDC_NEXT, IDC_PREVIOUS}) {
        fake::clearCalls();
        command(id);
        Calls calls = engineCalls();
        ASSERT_GE(calls.size(), 2u);
        EXPECT_EQ(calls[0], "FMUSIC_StopSong(C:\\a.mod)");
        EXPECT_EQ(calls[1], "FMUSIC_LoadSong(C:\\a.mod)");
        EXPECT_EQ(currentIndex, 0);
        EXPECT_TRUE(isPlaying);
    }
}

TEST_F(Navigation, EmptyPlaylistAsksForAFile) {
    for (int id : {IDC_NEXT, IDC_PREVIOUS}) {
        boxes.clear();
        command(id);
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(boxes.boxes()[0].text, "Please open a file.");
        EXPECT_EQ(currentIndex, -1); // what the play found selected
        EXPECT_FALSE(isPlaying);
    }
    EXPECT_TRUE(engineCalls().empty());
}

TEST_F(Navigation, NextWhilePausedPlaysTheNextEntryUnpaused) {
    play(moduleA);
    addEntries({moduleB});
    command(IDC_PAUSE);
    fake::clearCalls();

    command(IDC_NEXT);

    // Stopped while paused: no resume is sent to the old module.
    Calls calls = engineCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[0], "FMUSIC_StopSong(C:\\a.mod)");
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "FMUSIC_SetPaused(C:\\a.mod,0)"), 0);
    EXPECT_EQ(loaded(), "FMUSIC_LoadSong(C:\\b.xm)");
    EXPECT_FALSE(isPaused);
    EXPECT_EQ(pauseCaption(), "Pause");
    EXPECT_EQ(playCaption(), "Stop");
}

TEST_F(Navigation, NextWhileIdleStartsPlaybackAfterTheWait) {
    addEntries({moduleA, moduleB});
    select(0);
    DWORD start = GetTickCount();

    command(IDC_NEXT);

    EXPECT_GE(GetTickCount() - start, 95u);
    ASSERT_FALSE(engineCalls().empty());
    EXPECT_EQ(engineCalls()[0], "FMUSIC_LoadSong(C:\\b.xm)");
    EXPECT_TRUE(isPlaying);
}

TEST_F(Navigation, NextGoesOnFromThePlayingEntryNotTheClickedOne) {
    addEntries(five);
    select(1);
    command(IDC_PLAY);
    SendMessageA(playlistBox, LB_SETCURSEL, 3, 0); // a single click

    command(IDC_NEXT);

    EXPECT_EQ(currentIndex, 2);
    EXPECT_EQ(selection(), 2);
    EXPECT_EQ(loaded(), "FMUSIC_LoadSong(C:\\2.mod)");
}

// The mend: with 0..3 and 2 playing, Remove 2; Previous plays 1 and Next 3, the neighbours of
// the removed entry, and a second Previous goes on to 0.
TEST_F(Navigation, AfterTheCurrentEntryIsRemovedPreviousAndNextPlayItsNeighbours) {
    const struct {
        std::vector<int> ids;
        int playedIndex;
        const char* played;
    } rows[] = {{{IDC_PREVIOUS}, 1, "C:\\1.mod"},
                {{IDC_NEXT}, 2, "C:\\3.mod"},
                {{IDC_PREVIOUS, IDC_PREVIOUS}, 0, "C:\\0.mod"}};
    for (const auto& row : rows) {
        if (isPlaying)
            command(IDC_PLAY); // stop
        SendMessageA(playlistBox, LB_RESETCONTENT, 0, 0);
        addEntries({five[0], five[1], five[2], five[3]});
        select(2);
        command(IDC_PLAY);
        ASSERT_EQ(loaded(), "FMUSIC_LoadSong(C:\\2.mod)");
        SendMessageA(playlistWindowHandle, WM_COMMAND, IDC_REMOVE, 0);

        for (int id : row.ids)
            command(id);

        EXPECT_EQ(loaded(), std::string("FMUSIC_LoadSong(") + row.played + ")");
        EXPECT_EQ(currentIndex, row.playedIndex);
        EXPECT_EQ(selection(), row.playedIndex);
    }
}

} // namespace

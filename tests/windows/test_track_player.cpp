// Play, stop, release, pause and volume with the scripted libraries: the exact calls, the boxes
// and the state each leaves behind.
#include <string.h>

#include <gmock/gmock.h>

#include "tests/windows/playback_fixture.h"
#include "tests/windows/playlist_helpers.h"

namespace {

using Calls = std::vector<std::string>;
using ::testing::AllOf;
using ::testing::Each;
using ::testing::IsEmpty;
using ::testing::Not;

class TrackPlayer : public PlaybackTest {
protected:
    void expectIdle() {
        EXPECT_FALSE(isPlaying);
        EXPECT_EQ(currentEngine(), NoEngine);
    }
};

TEST_F(TrackPlayer, ModuleTakenByFmodPlaysAndNothingElseIsTried) {
    fake::script().fmodModules[moduleA] = {13};
    fake::script().fmodStreams[moduleA] = {1000};
    fake::script().bassMusics[moduleA] = {13};
    addEntries({unplayable, moduleA});
    select(1);

    command(IDC_PLAY);

    EXPECT_EQ(fake::calls(),
              (Calls{"FMUSIC_LoadSong(C:\\a.mod)", "FMUSIC_SetMasterVolume(C:\\a.mod,20)",
                     "FMUSIC_PlaySong(C:\\a.mod)", "FMUSIC_GetNumOrders(C:\\a.mod)",
                     "FMUSIC_GetOrder(C:\\a.mod)"}));
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_EQ(currentEngine(), FmodModule);
    EXPECT_EQ(currentIndex, 1);
    EXPECT_STREQ(trackPathBuffer, moduleA);
    EXPECT_EQ(trackLength, 12u);
    EXPECT_EQ(trackPosition, 0u);
    EXPECT_EQ(barMaximum(), 12);
    EXPECT_TRUE(isPlaying);
    EXPECT_FALSE(isPaused);
    EXPECT_EQ(playCaption(), "Stop");
    EXPECT_EQ(pauseCaption(), "Pause");
    // The first tick writes these, a second later.
    EXPECT_EQ(status(), "");
    EXPECT_EQ(barPosition(), 0);
    EXPECT_TRUE(tickTimerWasRunning());
}

TEST_F(TrackPlayer, StreamTakenWhenTheModulePlayerRefuses) {
    fake::script().fmodStreams[streamC] = {200400, 1500};
    addEntries({streamC});
    select(0);

    command(IDC_PLAY);

    EXPECT_EQ(fake::calls(),
              (Calls{"FMUSIC_LoadSong(C:\\c.ogg)", "FSOUND_Stream_Open(C:\\c.ogg,131376,0,0)",
                     "FSOUND_Stream_Play(-1,C:\\c.ogg)", "FSOUND_SetVolume(-3,20)",
                     "FSOUND_Stream_GetLengthMs(C:\\c.ogg)", "FSOUND_Stream_GetTime(C:\\c.ogg)"}));
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_EQ(currentEngine(), FmodStream);
    EXPECT_EQ(trackLength, 200u);
    EXPECT_EQ(trackPosition, 1u);
    EXPECT_EQ(barMaximum(), 200);
    EXPECT_EQ(playCaption(), "Stop");
    EXPECT_TRUE(tickTimerWasRunning());
}

// Also the mend: the module starts at the box's volume, not at BASS's own level.
TEST_F(TrackPlayer, StreamThatCannotStartIsClosedAndBassTakesTheFile) {
    fake::script().fmodStreams[bassD] = {5000};
    fake::script().streamPlayChannel = -1;
    fake::script().bassMusics[bassD] = {13, 0, 2};
    addEntries({bassD});
    select(0);

    command(IDC_PLAY);

    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Can't play somg");
    EXPECT_EQ(boxes.boxes()[0].caption, "ERROR");
    EXPECT_EQ(boxes.boxes()[0].owner, nullptr);
    EXPECT_EQ(fake::calls(),
              (Calls{"FMUSIC_LoadSong(C:\\d.mtm)", "FSOUND_Stream_Open(C:\\d.mtm,131376,0,0)",
                     "FSOUND_Stream_Play(-1,C:\\d.mtm)", "FSOUND_Stream_Close(C:\\d.mtm)",
                     "BASS_MusicLoad(0,C:\\d.mtm,0,0,176640,0)", "BASS_Start()", "BASS_GetVolume()",
                     "BASS_SetVolume(20)", "BASS_ChannelPlay(C:\\d.mtm,0)",
                     "BASS_MusicGetOrders(C:\\d.mtm)", "BASS_MusicGetOrderPosition(C:\\d.mtm)"}));
    EXPECT_EQ(currentEngine(), BassModule);
    EXPECT_EQ(fmodStream, nullptr);
    EXPECT_EQ(savedBassVolume, 100u);
    EXPECT_EQ(trackLength, 12u);
    EXPECT_EQ(trackPosition, 0x20000u); // order 0, row 2: the whole value
    EXPECT_EQ(barMaximum(), 12);
    EXPECT_TRUE(isPlaying);
    EXPECT_EQ(playCaption(), "Stop");
}

TEST_F(TrackPlayer, FileNoPlayerTakesShowsTheBoxesAndLeavesEverythingAsItWas) {
    addEntries({unplayable});
    select(0);
    command(IDC_PLAY);

    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Can't load the file");
    EXPECT_EQ(boxes.boxes()[0].caption, "ERROR");
    EXPECT_EQ(boxes.boxes()[0].owner, nullptr);
    EXPECT_EQ(engineCalls(),
              (Calls{"FMUSIC_LoadSong(C:\\e.txt)", "FSOUND_Stream_Open(C:\\e.txt,131376,0,0)",
                     "BASS_MusicLoad(0,C:\\e.txt,0,0,176640,0)"}));
    expectIdle();
    EXPECT_EQ(playCaption(), "Play");
    EXPECT_EQ(barMaximum(), 100); // the bar's own default range, untouched
    EXPECT_FALSE(tickTimerWasRunning());

    // Opened but not started, and BASS refuses it too: both boxes, in order.
    boxes.clear();
    fake::script().fmodStreams[unplayable] = {5000};
    fake::script().streamPlayChannel = -1;
    command(IDC_PLAY);
    ASSERT_EQ(boxes.boxes().size(), 2u);
    EXPECT_EQ(boxes.boxes()[0].text, "Can't play somg");
    EXPECT_EQ(boxes.boxes()[1].text, "Can't load the file");
    EXPECT_EQ(boxes.boxes()[1].owner, nullptr);
    expectIdle();
}

TEST_F(TrackPlayer, ModuleThatCannotStartEndsThePlayWithoutTryingTheOthers) {
    fake::script().fmodModules[moduleA] = {13};
    fake::script().fmodStreams[moduleA] = {1000};
    fake::script().bassMusics[moduleA] = {13};
    fake::script().fmodPlaySong = 0;
    addEntries({moduleA});
    select(0);

    command(IDC_PLAY);

    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Can't play module.");
    EXPECT_EQ(boxes.boxes()[0].caption, "ERROR");
    EXPECT_EQ(boxes.boxes()[0].owner, main);
    EXPECT_EQ(fake::calls(),
              (Calls{"FMUSIC_LoadSong(C:\\a.mod)", "FMUSIC_SetMasterVolume(C:\\a.mod,20)",
                     "FMUSIC_PlaySong(C:\\a.mod)"}));
    EXPECT_FALSE(isPlaying);
    EXPECT_EQ(playCaption(), "Play");
    EXPECT_FALSE(tickTimerWasRunning());
}

TEST_F(TrackPlayer, NoEntryOrAnEmptyOneAsksForAFile) {
    struct Case {
        const char* name;
        std::vector<std::string> entries;
        int selected;
    };
    for (const Case& c : {Case{"empty playlist", {}, -1}, Case{"nothing selected", {moduleA}, -1},
                          Case{"empty entry", {moduleA, ""}, 1}}) {
        SCOPED_TRACE(c.name);
        SendMessageA(playlistBox, LB_RESETCONTENT, 0, 0);
        addEntries(c.entries);
        select(c.selected);
        currentIndex = 7;
        boxes.clear();

        command(IDC_PLAY);

        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(boxes.boxes()[0].text, "Please open a file.");
        EXPECT_EQ(boxes.boxes()[0].caption, "ERROR");
        EXPECT_EQ(boxes.boxes()[0].owner, main);
        EXPECT_TRUE(engineCalls().empty());
        EXPECT_EQ(currentIndex, c.selected);
        EXPECT_FALSE(isPlaying);
        EXPECT_EQ(playCaption(), "Play");
    }
}

TEST_F(TrackPlayer, EntryLongerThanThePathBufferIsRefusedWithoutWritingIt) {
    std::string longest = "C:\\" + std::string(trackPathSize - 1 - 3, 'x');
    std::string tooLong = longest + "y";
    addEntries({longest, tooLong});
    strcpy(trackPathBuffer, "untouched");

    select(1);
    command(IDC_PLAY);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Can't load the file");
    EXPECT_TRUE(engineCalls().empty());
    EXPECT_STREQ(trackPathBuffer, "untouched");
    EXPECT_FALSE(isPlaying);

    // The longest path that fits reaches the players whole.
    select(0);
    command(IDC_PLAY);
    ASSERT_FALSE(engineCalls().empty());
    EXPECT_EQ(engineCalls()[0], "FMUSIC_LoadSong(" + longest + ")");
}

// The mend: a box of the cascade runs a message loop, and a play asked for from inside it (a
// double-click, Next) must not start a second engine or overwrite the path being tried.
TEST_F(TrackPlayer, PlayAskedForWhileAnotherIsUnderWayIsRefused) {
    fake::script().fmodStreams[bassD] = {5000};
    fake::script().streamPlayChannel = -1;
    fake::script().bassMusics[bassD] = {13};
    fake::script().fmodModules[moduleA] = {4};
    addEntries({bassD, moduleA});
    select(0);
    boxes.onBox([this](const ShownBox&) {
        SendMessageA(playlistBox, LB_SETCURSEL, 1, 0);
        command(IDC_PLAY);
        SendMessageA(GetParent(playlistBox), WM_COMMAND, MAKEWPARAM(IDC_PLAYLIST_BOX, LBN_DBLCLK),
                     (LPARAM)playlistBox);
        command(IDC_NEXT);
        command(IDC_PREVIOUS);
    });

    command(IDC_PLAY);

    EXPECT_EQ(boxes.boxes().size(), 1u);
    for (const std::string& call : fake::calls())
        EXPECT_EQ(call.find("a.mod"), std::string::npos) << call;
    EXPECT_EQ(currentEngine(), BassModule);
    EXPECT_EQ(fmodModule, nullptr);
    EXPECT_STREQ(trackPathBuffer, bassD);
    EXPECT_EQ(currentIndex, 0);
    EXPECT_TRUE(isPlaying);

    // Once it has ended, plays are taken again.
    boxes.onBox(nullptr);
    command(IDC_PLAY);
    command(IDC_PLAY);
    EXPECT_EQ(currentEngine(), FmodModule);
    EXPECT_EQ(currentIndex, 1);
}

class PlayBox : public TrackPlayer {
protected:
    // The stream player opens the file but cannot start it, so "Can't play somg" opens before
    // BASS is tried.
    void SetUp() override {
        TrackPlayer::SetUp();
        fake::script().fmodStreams[bassD] = {5000};
        fake::script().streamPlayChannel = -1;
        fake::script().bassMusics[bassD] = {13};
    }
};

// The mend: a clear and a drop while the box is open leave the play with the path it started
// with, and the playlist as they made it.
TEST_F(PlayBox, ThePlayKeepsItsOwnPathWhileTheBoxIsOpen) {
    addEntries({moduleA, bassD});
    select(1);
    boxes.onBox([](const ShownBox&) {
        SendMessageA(playlistWindowHandle, WM_COMMAND, IDC_CLEAR, 0);
        dropOn(playlistWindowHandle, {streamC, unplayable});
    });

    command(IDC_PLAY);

    EXPECT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(fake::callsStartingWith({"BASS_MusicLoad"}),
              Calls{"BASS_MusicLoad(0,C:\\d.mtm,0,0,176640,0)"});
    EXPECT_EQ(currentEngine(), BassModule);
    EXPECT_EQ(playlistEntries(), (Calls{streamC, unplayable}));
    EXPECT_EQ(selectedEntry(), 0);
    EXPECT_EQ(currentIndex, -1); // Next starts at the first of the new entries
    EXPECT_EQ(trackCount, 2);
}

// The mend: Exit from inside the box frees both libraries; the play then ends with no further
// call and no "Can't load the file".
TEST_F(PlayBox, ExitWhileTheBoxIsOpenEndsThePlayQuietly) {
    addEntries({bassD});
    select(0);
    boxes.onBox([this](const ShownBox&) { command(IDC_EXIT); });

    command(IDC_PLAY);

    EXPECT_EQ(boxes.boxes().size(), 1u);
    Calls calls = engineCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), "FSOUND_Close()");
    expectIdle();
}

// What each engine is sent for stop, release, pause and volume.
struct EngineRow {
    const char* name;
    const char* path;
    Calls stop;
    Calls release;
    Calls pause;
    Calls resume;
    std::string volume300;
    std::string volumeEmpty;
};

const EngineRow engineRows[] = {
    {"FmodModule",
     moduleA,
     {"FMUSIC_StopSong(C:\\a.mod)"},
     {"FMUSIC_StopSong(C:\\a.mod)"},
     {"FMUSIC_SetPaused(C:\\a.mod,1)"},
     {"FMUSIC_SetPaused(C:\\a.mod,0)"},
     "FMUSIC_SetMasterVolume(C:\\a.mod,300)",
     "FMUSIC_SetMasterVolume(C:\\a.mod,0)"},
    {"FmodStream",
     streamC,
     {"FSOUND_Stream_Stop(C:\\c.ogg)", "FSOUND_Stream_Close(C:\\c.ogg)"},
     {"FSOUND_Stream_Stop(C:\\c.ogg)", "FSOUND_Stream_Close(C:\\c.ogg)"},
     {"FSOUND_SetPaused(-3,1)"},
     {"FSOUND_SetPaused(-3,0)"},
     "FSOUND_SetVolume(-3,300)",
     "FSOUND_SetVolume(-3,0)"},
    // Only Stop gives BASS back the output volume it had before the module started.
    {"BassModule",
     bassD,
     {"BASS_ChannelStop(C:\\d.mtm)", "BASS_SetVolume(100)"},
     {"BASS_ChannelStop(C:\\d.mtm)"},
     {"BASS_Pause()"},
     {"BASS_Start()"},
     "BASS_SetVolume(300)",
     "BASS_SetVolume(0)"},
};

void PrintTo(const EngineRow& row, std::ostream* os) {
    *os << row.name;
}

class EachEngine : public TrackPlayer, public ::testing::WithParamInterface<EngineRow> {
protected:
    void SetUp() override {
        TrackPlayer::SetUp();
        if (HasFatalFailure())
            return;
        fake::script().fmodModules[moduleA] = {13, 4};
        fake::script().fmodStreams[streamC] = {200400, 65300};
        fake::script().bassMusics[bassD] = {13, 4};
        play(GetParam().path);
        tick();
        fake::clearCalls();
    }
};

TEST_P(EachEngine, StopWhilePausedEndsEverything) {
    std::string lastStatus = status();
    ASSERT_FALSE(lastStatus.empty());
    command(IDC_PAUSE);
    fake::clearCalls();

    command(IDC_PLAY);

    EXPECT_EQ(engineCalls(), GetParam().stop);
    expectIdle();
    EXPECT_FALSE(isPaused);
    EXPECT_FALSE(tickTimerWasRunning());
    EXPECT_EQ(barPosition(), 0);
    EXPECT_EQ(playCaption(), "Play");
    EXPECT_EQ(pauseCaption(), "Pause");
    EXPECT_EQ(status(), lastStatus);
}

TEST_P(EachEngine, ReleaseStopsTheEngineAndLeavesTheRest) {
    int bar = barPosition();
    ASSERT_GT(bar, 0);
    command(IDC_PAUSE);
    fake::clearCalls();

    releaseTrack();

    EXPECT_EQ(engineCalls(), GetParam().release);
    expectIdle();
    EXPECT_TRUE(isPaused);
    EXPECT_TRUE(tickTimerWasRunning());
    EXPECT_EQ(barPosition(), bar);
    EXPECT_EQ(playCaption(), "Stop");
    EXPECT_EQ(pauseCaption(), "Paused");
}

TEST_P(EachEngine, PauseAndResume) {
    command(IDC_PAUSE);
    EXPECT_EQ(engineCalls(), GetParam().pause);
    EXPECT_TRUE(isPaused);
    EXPECT_EQ(pauseCaption(), "Paused");

    fake::clearCalls();
    command(IDC_PAUSE);
    EXPECT_EQ(engineCalls(), GetParam().resume);
    EXPECT_FALSE(isPaused);
    EXPECT_EQ(pauseCaption(), "Pause");
    EXPECT_TRUE(isPlaying);
}

// The box notifies more than once for one write; every notification hands the same number on.
TEST_P(EachEngine, VolumeBoxGoesToTheEngineThatHoldsTheTrack) {
    setVolumeText("300");
    EXPECT_THAT(engineCalls(), AllOf(Not(IsEmpty()), Each(GetParam().volume300)));
    EXPECT_EQ(volume, 300);

    fake::clearCalls();
    setVolumeText("");
    EXPECT_THAT(engineCalls(), AllOf(Not(IsEmpty()), Each(GetParam().volumeEmpty)));
    EXPECT_EQ(volume, 0);
}

INSTANTIATE_TEST_SUITE_P(TrackPlayer, EachEngine, ::testing::ValuesIn(engineRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TrackPlayer, PauseWhileIdleOnlyFlipsTheFlagAndTheNextPlayStartsUnpaused) {
    command(IDC_PAUSE);
    EXPECT_TRUE(isPaused);
    EXPECT_EQ(pauseCaption(), "Pause");
    EXPECT_TRUE(fake::calls().empty());

    fake::script().fmodModules[moduleA] = {13};
    addEntries({moduleA});
    select(0);
    command(IDC_PLAY);
    EXPECT_TRUE(isPlaying);
    EXPECT_FALSE(isPaused);
    EXPECT_EQ(pauseCaption(), "Pause");
    for (const std::string& call : fake::calls())
        EXPECT_EQ(call.find("Paused"), std::string::npos) << call;
}

} // namespace

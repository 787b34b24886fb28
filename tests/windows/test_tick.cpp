// The one-second tick: status line texts, bar positions and the three end rules.
#include <algorithm>

#include "tests/windows/playback_fixture.h"

namespace {

using Calls = std::vector<std::string>;

class Tick : public PlaybackTest {};

TEST_F(Tick, StreamShowsElapsedAndTotalTime) {
    fake::script().fmodStreams[streamC] = {200400};
    play(streamC);
    EXPECT_EQ(barMaximum(), 200);

    fake::fmodStream(streamC)->timeMs = 65300;
    tick();
    EXPECT_EQ(status(), "Time: 01:05/03:20");
    EXPECT_EQ(barPosition(), 65);
    EXPECT_EQ(trackPosition, 65300u);
    EXPECT_EQ(fake::calls(), Calls{"FSOUND_Stream_GetTime(C:\\c.ogg)"});

    // The last whole second still plays.
    fake::fmodStream(streamC)->timeMs = 199999;
    tick();
    EXPECT_EQ(status(), "Time: 03:19/03:20");
    EXPECT_TRUE(isPlaying);
}

TEST_F(Tick, StreamLongerThanTheBarCanCountKeepsItsFullLengthInTheStatus) {
    fake::script().fmodStreams[streamC] = {70000 * 1000};
    play(streamC);
    EXPECT_EQ(barMaximum(), 70000 - 65536);

    fake::fmodStream(streamC)->timeMs = 100 * 1000;
    tick();
    EXPECT_EQ(status(), "Time: 01:40/1166:40");
}

TEST_F(Tick, FmodModuleShowsOrderAndLastOrder) {
    fake::script().fmodModules[moduleA] = {13};
    play(moduleA);
    fake::fmodModule(moduleA)->order = 3;
    tick();
    EXPECT_EQ(status(), "Order: 03/12");
    EXPECT_EQ(barPosition(), 3);
    EXPECT_EQ(trackPosition, 3u);
}

TEST_F(Tick, BassModuleShowsOrderInItsOwnFormat) {
    fake::script().bassMusics[bassD] = {13};
    play(bassD);
    fake::bassMusic(bassD)->order = 3;
    fake::bassMusic(bassD)->row = 40;
    tick();
    EXPECT_EQ(status(), "Order: 03 : 12");
    EXPECT_EQ(barPosition(), 3);
    EXPECT_EQ(trackPosition, 3u);
}

TEST_F(Tick, PausedOrReleasedTrackIsLeftAlone) {
    fake::script().fmodModules[moduleA] = {13};
    play(moduleA);
    fake::fmodModule(moduleA)->order = 3;
    tick();
    command(IDC_PAUSE);
    fake::clearCalls();

    fake::fmodModule(moduleA)->order = 5;
    tick();
    EXPECT_TRUE(fake::calls().empty());
    EXPECT_EQ(status(), "Order: 03/12");
    EXPECT_EQ(barPosition(), 3);

    releaseTrack();
    command(IDC_PAUSE);
    tick();
    EXPECT_EQ(fake::callsStartingWith({"FMUSIC_Get"}), Calls{});
}

// A track at its end, by each engine's own rule.
struct EndRow {
    const char* name;
    const char* path;
    void (*script)();
    void (*reachEnd)();
    Calls release;
    Calls loop; // the calls of a looping tick at the end
    int loopBar;
};

const EndRow endRows[] = {
    {"StreamAtItsLastWholeSecond",
     streamC,
     [] { fake::script().fmodStreams[streamC] = {200400}; },
     [] { fake::fmodStream(streamC)->timeMs = 200000; },
     {"FSOUND_Stream_Stop(C:\\c.ogg)", "FSOUND_Stream_Close(C:\\c.ogg)"},
     {"FSOUND_Stream_GetTime(C:\\c.ogg)", "FSOUND_Stream_SetTime(C:\\c.ogg,0)",
      "FSOUND_Stream_GetTime(C:\\c.ogg)"},
     0},
    {"StreamShorterThanASecond",
     streamC,
     [] { fake::script().fmodStreams[streamC] = {400}; },
     [] {},
     {"FSOUND_Stream_Stop(C:\\c.ogg)", "FSOUND_Stream_Close(C:\\c.ogg)"},
     {"FSOUND_Stream_GetTime(C:\\c.ogg)", "FSOUND_Stream_SetTime(C:\\c.ogg,0)",
      "FSOUND_Stream_GetTime(C:\\c.ogg)"},
     0},
    // The module player loops by itself: the tick only follows it.
    {"FmodModuleInItsLastOrder",
     moduleA,
     [] { fake::script().fmodModules[moduleA] = {13}; },
     [] { fake::fmodModule(moduleA)->order = 12; },
     {"FMUSIC_StopSong(C:\\a.mod)"},
     {"FMUSIC_GetOrder(C:\\a.mod)", "FMUSIC_GetOrder(C:\\a.mod)"},
     12},
    {"FmodModuleOfOneOrder",
     moduleA,
     [] { fake::script().fmodModules[moduleA] = {1}; },
     [] {},
     {"FMUSIC_StopSong(C:\\a.mod)"},
     {"FMUSIC_GetOrder(C:\\a.mod)", "FMUSIC_GetOrder(C:\\a.mod)"},
     0},
    {"BassModuleStopped",
     bassD,
     [] { fake::script().bassMusics[bassD] = {13}; },
     [] {
         fake::bassMusic(bassD)->order = 12;
         fake::bassMusic(bassD)->active = false;
     },
     {"BASS_ChannelStop(C:\\d.mtm)"},
     {"BASS_MusicGetOrderPosition(C:\\d.mtm)", "BASS_ChannelIsActive(C:\\d.mtm)",
      "BASS_ChannelPlay(C:\\d.mtm,1)"},
     0},
};

void PrintTo(const EndRow& row, std::ostream* os) {
    *os << row.name;
}

class TrackEnd : public Tick, public ::testing::WithParamInterface<EndRow> {
protected:
    void SetUp() override {
        Tick::SetUp();
        if (HasFatalFailure())
            return;
        fake::script().fmodModules[moduleB] = {6};
        GetParam().script();
        // The ending track is the last entry, so Next wraps to the first.
        addEntries({moduleB});
        play(GetParam().path);
        ASSERT_EQ(currentIndex, 1);
        SetDlgItemTextA(main, IDC_STATUS, "before");
    }
};

TEST_P(TrackEnd, WithoutLoopReleasesAndPlaysTheNextEntry) {
    GetParam().reachEnd();
    tick();

    // The release comes first, then Next's play of entry 0.
    Calls calls = engineCalls();
    auto next = std::find(calls.begin(), calls.end(), "FMUSIC_LoadSong(C:\\b.xm)");
    ASSERT_NE(next, calls.end());
    const Calls& release = GetParam().release;
    ASSERT_GE(next - calls.begin(), (long)release.size());
    EXPECT_EQ(Calls(next - release.size(), next), release);
    EXPECT_EQ(currentIndex, 0);
    EXPECT_EQ(selection(), 0);
    EXPECT_EQ(currentEngine(), FmodModule);
    EXPECT_TRUE(isPlaying);
    EXPECT_TRUE(tickTimerWasRunning());
}

TEST_P(TrackEnd, WithLoopPlaysOnFromTheStart) {
    // Read only at the end: ticking it now still counts.
    setLoop(true);
    GetParam().reachEnd();
    tick();

    EXPECT_EQ(engineCalls(), GetParam().loop);
    EXPECT_EQ(barPosition(), GetParam().loopBar);
    EXPECT_EQ(status(), "before");
    EXPECT_EQ(currentIndex, 1);
    EXPECT_TRUE(isPlaying);

    // And at every end after, for as long as the box stays ticked.
    fake::clearCalls();
    GetParam().reachEnd();
    tick();
    EXPECT_EQ(engineCalls(), GetParam().loop);
}

INSTANTIATE_TEST_SUITE_P(Tick, TrackEnd, ::testing::ValuesIn(endRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Tick, EndFollowedByAnUnplayableEntryLeavesTheStopCaption) {
    fake::script().fmodModules[moduleA] = {13};
    play(moduleA);
    addEntries({unplayable});
    fake::fmodModule(moduleA)->order = 12;

    tick();

    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Can't load the file");
    EXPECT_FALSE(isPlaying);
    EXPECT_EQ(currentEngine(), NoEngine);
    EXPECT_EQ(currentIndex, 1);
    EXPECT_EQ(playCaption(), "Stop");

    // The button follows isPlaying, not its caption: it tries the entry again.
    fake::clearCalls();
    command(IDC_PLAY);
    EXPECT_EQ(boxes.boxes().size(), 2u);
    ASSERT_FALSE(engineCalls().empty());
    EXPECT_EQ(engineCalls()[0], "FMUSIC_LoadSong(C:\\e.txt)");
}

} // namespace

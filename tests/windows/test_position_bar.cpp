// Seeking with the mouse on the position bar.
#include "tests/windows/playback_fixture.h"

namespace {

using Calls = std::vector<std::string>;

// The bar's window rectangle is 300 pixels wide; its client area, inside a one-pixel border,
// runs from x 0 to x 297.
const int barWidth = 300;
const int rightEnd = 297;

class PositionBar : public PlaybackTest {
protected:
    void SetUp() override {
        PlaybackTest::SetUp();
        if (HasFatalFailure())
            return;
        setBarWidth(barWidth);
        fake::script().fmodStreams[streamC] = {200400};
        fake::script().fmodModules[moduleA] = {13};
        fake::script().bassMusics[bassD] = {13};
    }

    Calls seekCalls() {
        return fake::callsStartingWith(
            {"FSOUND_Stream_SetTime", "FMUSIC_SetOrder", "BASS_ChannelSetPosition"});
    }
};

TEST_F(PositionBar, StreamSeeksToTheStartOfTheSecondUnderTheMouse) {
    fake::script().fmodStreams[streamC] = {200000};
    play(streamC);

    click(150);
    EXPECT_EQ(fake::calls(), (Calls{"FSOUND_Stream_SetTime(C:\\c.ogg,100000)",
                                    "FSOUND_Stream_GetTime(C:\\c.ogg)"}));
    EXPECT_EQ(barPosition(), 100);

    // 151 * 200 / 300 is 100.66: truncated to the same second.
    fake::clearCalls();
    click(151);
    EXPECT_EQ(seekCalls(), Calls{"FSOUND_Stream_SetTime(C:\\c.ogg,100000)"});
}

struct EdgeRow {
    const char* name;
    const char* path;
    Calls atLeft;
    Calls atRight;
    int rightBar;
};

void PrintTo(const EdgeRow& row, std::ostream* os) {
    *os << row.name;
}

class PositionBarEdges : public PositionBar, public ::testing::WithParamInterface<EdgeRow> {};

TEST_P(PositionBarEdges, LeftEdgeIsTheStartAndTheRightEndStopsShortOfTheLast) {
    play(GetParam().path);

    click(rightEnd);
    EXPECT_EQ(seekCalls(), GetParam().atRight);
    EXPECT_EQ(barPosition(), GetParam().rightBar);

    fake::clearCalls();
    click(0);
    EXPECT_EQ(seekCalls(), GetParam().atLeft);
    EXPECT_EQ(barPosition(), 0);
}

// 297 * 12 / 300 is 11.88 and 297 * 200 / 300 is 198.
INSTANTIATE_TEST_SUITE_P(PositionBar, PositionBarEdges,
                         ::testing::Values(EdgeRow{"FmodModule",
                                                   moduleA,
                                                   {"FMUSIC_SetOrder(C:\\a.mod,0)"},
                                                   {"FMUSIC_SetOrder(C:\\a.mod,11)"},
                                                   11},
                                           EdgeRow{"FmodStream",
                                                   streamC,
                                                   {"FSOUND_Stream_SetTime(C:\\c.ogg,0)"},
                                                   {"FSOUND_Stream_SetTime(C:\\c.ogg,198000)"},
                                                   198},
                                           // Order 11, row 0: 0x8000000B.
                                           EdgeRow{
                                               "BassModule",
                                               bassD,
                                               {"BASS_ChannelSetPosition(C:\\d.mtm,2147483648)"},
                                               {"BASS_ChannelSetPosition(C:\\d.mtm,2147483659)"},
                                               11}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PositionBar, TrackOfLengthZeroAlwaysSeeksToTheStart) {
    fake::script().fmodModules[moduleA] = {1};
    play(moduleA);
    for (int x : {0, 150, rightEnd})
        click(x);
    EXPECT_EQ(seekCalls(), Calls(3, "FMUSIC_SetOrder(C:\\a.mod,0)"));
}

TEST_F(PositionBar, DragSeeksOnlyWithTheLeftButtonAlone) {
    play(moduleA);

    mouse(WM_MOUSEMOVE, 50, MK_LBUTTON | MK_SHIFT);
    mouse(WM_MOUSEMOVE, 50, MK_LBUTTON | MK_CONTROL);
    mouse(WM_MOUSEMOVE, 50, MK_LBUTTON | MK_RBUTTON);
    mouse(WM_MOUSEMOVE, 50, 0);
    mouse(WM_RBUTTONDOWN, 50, MK_RBUTTON);
    mouse(WM_LBUTTONUP, 50, 0);
    EXPECT_TRUE(fake::calls().empty());

    // The press that begins a drag seeks whatever keys are held.
    mouse(WM_LBUTTONDOWN, 100, MK_LBUTTON | MK_SHIFT);
    mouse(WM_MOUSEMOVE, 150, MK_LBUTTON);
    EXPECT_EQ(seekCalls(), (Calls{"FMUSIC_SetOrder(C:\\a.mod,4)", "FMUSIC_SetOrder(C:\\a.mod,6)"}));
}

TEST_F(PositionBar, ClickWhileNothingPlaysLeavesAPlainProgressBar) {
    click(150);
    EXPECT_TRUE(fake::calls().empty());

    play(moduleA);
    command(IDC_PLAY); // stop
    fake::clearCalls();
    click(150);
    EXPECT_TRUE(fake::calls().empty());

    // Everything is passed on to the bar's own procedure.
    SendMessageA(positionBar, PBM_SETRANGE, 0, MAKELPARAM(0, 50));
    SendMessageA(positionBar, PBM_SETPOS, 40, 0);
    EXPECT_EQ(barMaximum(), 50);
    EXPECT_EQ(barPosition(), 40);
}

TEST_F(PositionBar, ClickWhilePausedMovesTrackAndBarButNotTheStatus) {
    play(streamC);
    fake::fmodStream(streamC)->timeMs = 65300;
    tick();
    command(IDC_PAUSE);
    fake::clearCalls();

    click(150);
    EXPECT_EQ(seekCalls(), Calls{"FSOUND_Stream_SetTime(C:\\c.ogg,100000)"});
    EXPECT_EQ(barPosition(), 100);
    tick();
    EXPECT_EQ(status(), "Time: 01:05/03:20");

    command(IDC_PAUSE);
    tick();
    EXPECT_EQ(status(), "Time: 01:40/03:20");
}

} // namespace

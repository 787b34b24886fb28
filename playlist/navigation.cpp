#include "playlist/navigation.h"

#include "app/ids.h"
#include "app/state.h"
#include "audio/track_player.h"

namespace {

void playEntryAtCurrentIndex() {
    releaseTrack();
    SendMessageA(playlistBox, LB_SETCURSEL, currentIndex, 0);
    Sleep(100);
    // isPlaying is clear now, so the Play/Stop command plays.
    SendMessageA(mainWindowHandle, WM_COMMAND, IDC_PLAY, 0);
}

} // namespace

// While a play shows one of its message boxes, moving on would change the entry under it and
// then be refused anyway; so nothing moves.
void nextTrack() {
    if (playUnderWay())
        return;
    currentIndex += 1;
    if (currentIndex >= trackCount)
        currentIndex = 0;
    currentEntryRemoved = false;
    playEntryAtCurrentIndex();
}

void previousTrack() {
    if (playUnderWay())
        return;
    // With the current entry removed, the entry before it is current already.
    if (!currentEntryRemoved)
        currentIndex -= 1;
    if (currentIndex < 0)
        currentIndex = trackCount - 1;
    currentEntryRemoved = false;
    playEntryAtCurrentIndex();
}

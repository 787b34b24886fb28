#include "audio/track_player.h"

#include <commctrl.h>

#include "app/ids.h"
#include "app/state.h"

namespace {

void setStatus(const char* text) {
    SetDlgItemTextA(mainWindowHandle, IDC_STATUS, text);
}

void setBar(int position) {
    SendMessageA(positionBar, PBM_SETPOS, position, 0);
}

// Read only when a track ends, so ticking the box mid-track takes effect at its end.
bool loopTicked() {
    return IsDlgButtonChecked(mainWindowHandle, IDC_LOOP) == BST_CHECKED;
}

// Sent, not posted: Next and the play it starts finish before this tick returns.
void playNextEntry() {
    releaseTrack();
    SendMessageA(mainWindowHandle, WM_COMMAND, IDC_NEXT, currentIndex);
}

void tickStream() {
    int ms = FSOUND_Stream_GetTime(fmodStream);
    trackPosition = (DWORD)ms;
    DWORD seconds = (DWORD)ms / 1000;
    if (seconds < trackLength) {
        char text[64];
        wsprintfA(text, "Time: %02d:%02d/%02d:%02d", (int)(seconds / 60), (int)(seconds % 60),
                  (int)(trackLength / 60), (int)(trackLength % 60));
        setStatus(text);
        setBar((int)seconds);
    } else if (loopTicked()) {
        FSOUND_Stream_SetTime(fmodStream, 0);
        setBar(FSOUND_Stream_GetTime(fmodStream) / 1000);
    } else {
        playNextEntry();
    }
}

// The module player loops by itself, so its last order stands for the end.
void tickFmodModule() {
    int order = FMUSIC_GetOrder(fmodModule);
    trackPosition = (DWORD)order;
    if ((DWORD)order < trackLength) {
        char text[64];
        wsprintfA(text, "Order: %02d/%02d", order, (int)trackLength);
        setStatus(text);
        setBar(order);
    } else if (loopTicked()) {
        setBar(FMUSIC_GetOrder(fmodModule));
    } else {
        playNextEntry();
    }
}

// A BASS module stops by itself at its end.
void tickBassModule() {
    int order = LOWORD(BASS_MusicGetOrderPosition(bassMusic));
    trackPosition = (DWORD)order;
    if (BASS_ChannelIsActive(bassMusic)) {
        char text[64];
        wsprintfA(text, "Order: %02d : %02d", order, (int)trackLength);
        setStatus(text);
        setBar(order);
    } else if (loopTicked()) {
        BASS_ChannelPlay(bassMusic, TRUE);
        setBar(0);
    } else {
        playNextEntry();
    }
}

} // namespace

void onTick() {
    // The timer outlives a released track; its ticks wait for the next play.
    if (!isPlaying || isPaused)
        return;
    switch (currentEngine()) {
    case FmodStream: tickStream(); break;
    case FmodModule: tickFmodModule(); break;
    case BassModule: tickBassModule(); break;
    case NoEngine: break;
    }
}

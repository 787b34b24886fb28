#include "audio/track_player.h"

#include <commctrl.h>

#include "app/ids.h"
#include "app/state.h"
#include "audio/engine_ops.h"

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

} // namespace

void tickStream(const EngineOps& stream) {
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
        setBar(stream.seek(0));
    } else {
        playNextEntry();
    }
}

// The module player loops by itself, so its last order stands for the end.
void tickFmodModule(const EngineOps& module) {
    int order = module.position();
    trackPosition = (DWORD)order;
    if ((DWORD)order < trackLength) {
        char text[64];
        wsprintfA(text, "Order: %02d/%02d", order, (int)trackLength);
        setStatus(text);
        setBar(order);
    } else if (loopTicked()) {
        setBar(module.position());
    } else {
        playNextEntry();
    }
}

// A BASS module stops by itself at its end.
void tickBassModule(const EngineOps& module) {
    int order = module.position();
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

void onTick() {
    // The timer outlives a released track; its ticks wait for the next play.
    if (!isPlaying || isPaused)
        return;
    if (const EngineOps* engine = playingEngine())
        engine->tick(*engine);
}

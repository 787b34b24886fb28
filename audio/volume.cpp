#include "app/ids.h"
#include "app/state.h"
#include "audio/track_player.h"

// Unclamped on purpose: the box, the scroll record and the engine all take the number as typed.
void applyVolume() {
    volume = (int)GetDlgItemInt(mainWindowHandle, IDC_VOLUME_EDIT, nullptr, FALSE);
    volumeScrollInfo.nPos = volume;
    switch (currentEngine()) {
    case FmodStream: FSOUND_SetVolume(FSOUND_ALL, volume); break;
    case FmodModule: FMUSIC_SetMasterVolume(fmodModule, volume); break;
    case BassModule: BASS_SetVolume((DWORD)volume); break;
    case NoEngine: break;
    }
    SetScrollInfo(volumeScrollBar, SB_CTL, &volumeScrollInfo, TRUE);
}

#include "app/ids.h"
#include "app/state.h"
#include "audio/engine_ops.h"
#include "audio/track_player.h"

// Unclamped on purpose: the box, the scroll record and the engine all take the number as typed.
void applyVolume() {
    volume = (int)GetDlgItemInt(mainWindowHandle, IDC_VOLUME_EDIT, nullptr, FALSE);
    volumeScrollInfo.nPos = volume;
    if (const EngineOps* engine = playingEngine())
        engine->setVolume(volume);
    SetScrollInfo(volumeScrollBar, SB_CTL, &volumeScrollInfo, TRUE);
}

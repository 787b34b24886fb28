#include "app/ids.h"
#include "app/state.h"
#include "audio/track_player.h"

void applyVolume() {
    volume = (int)GetDlgItemInt(mainWindowHandle, IDC_VOLUME_EDIT, nullptr, FALSE);
    volumeScrollInfo.nPos = volume;
    SetScrollInfo(volumeScrollBar, SB_CTL, &volumeScrollInfo, TRUE);
}

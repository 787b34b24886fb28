#include "audio/position_bar.h"

#include <commctrl.h>
#include <limits.h>

#include "app/state.h"

namespace {

// A drag seeks only with the left button alone: Shift or Control turn it into a plain move.
bool seeks(UINT message, WPARAM wParam) {
    return message == WM_LBUTTONDOWN || (message == WM_MOUSEMOVE && wParam == MK_LBUTTON);
}

} // namespace

void seekToPoint(HWND bar, int x) {
    // The outer width, border included, so the last order or second is never reached.
    RECT rect;
    GetWindowRect(bar, &rect);
    int width = rect.right - rect.left;
    if (width <= 0)
        return;
    double exact = (double)x * (int)trackLength / width;
    if (!(exact > INT_MIN - 1.0 && exact < INT_MAX + 1.0))
        return;
    int target = (int)exact;

    switch (currentEngine()) {
    case FmodStream:
        FSOUND_Stream_SetTime(fmodStream, (int)(target * 1000LL));
        SendMessageA(bar, PBM_SETPOS, FSOUND_Stream_GetTime(fmodStream) / 1000, 0);
        break;
    case FmodModule:
        FMUSIC_SetOrder(fmodModule, target);
        SendMessageA(bar, PBM_SETPOS, FMUSIC_GetOrder(fmodModule), 0);
        break;
    case BassModule:
        BASS_ChannelSetPosition(bassMusic, BASS_MUSIC_ORDERPOS | LOWORD(target));
        SendMessageA(bar, PBM_SETPOS, LOWORD(BASS_MusicGetOrderPosition(bassMusic)), 0);
        break;
    case NoEngine: break;
    }
}

LRESULT CALLBACK positionBarProc(HWND bar, UINT message, WPARAM wParam, LPARAM lParam) {
    if (isPlaying && seeks(message, wParam))
        seekToPoint(bar, LOWORD(lParam));
    return CallWindowProcA(oldPositionBarProc, bar, message, wParam, lParam);
}

#include "audio/position_bar.h"

#include <commctrl.h>
#include <limits.h>

#include "app/state.h"
#include "audio/engine_ops.h"

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
    if (const EngineOps* engine = playingEngine())
        SendMessageA(bar, PBM_SETPOS, engine->seek((int)exact), 0);
}

LRESULT CALLBACK positionBarProc(HWND bar, UINT message, WPARAM wParam, LPARAM lParam) {
    if (isPlaying && seeks(message, wParam))
        seekToPoint(bar, LOWORD(lParam));
    return CallWindowProcA(oldPositionBarProc, bar, message, wParam, lParam);
}

#include "audio/position_bar.h"

#include "app/state.h"

void seekToPoint(HWND, int) {}

LRESULT CALLBACK positionBarProc(HWND bar, UINT message, WPARAM wParam, LPARAM lParam) {
    return CallWindowProcA(oldPositionBarProc, bar, message, wParam, lParam);
}

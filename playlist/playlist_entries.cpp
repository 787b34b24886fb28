#include "playlist/playlist_entries.h"

#include "app/dpi.h"
#include "app/state.h"

namespace {

const int pixelsPerCharacter = 6;

} // namespace

void appendTrack(const char* path) {
    SendMessageA(playlistBox, LB_ADDSTRING, 0, (LPARAM)path);
}

void widenForPath(const char* path) {
    // Characters, not bytes: a UTF-8 character may take up to four.
    int characters = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0) - 1;
    int width = scaledForWindow(playlistBox, pixelsPerCharacter *
                                                 (characters > 0 ? characters : lstrlenA(path)));
    int extent = (int)SendMessageA(playlistBox, LB_GETHORIZONTALEXTENT, 0, 0);
    if (width >= extent)
        SendMessageA(playlistBox, LB_SETHORIZONTALEXTENT, width, 0);
}

// currentIndex itself is left alone: Next steps from it, and -1 means "start at the first".
void reselectAndRecount() {
    int count = (int)SendMessageA(playlistBox, LB_GETCOUNT, 0, 0);
    int selection = currentIndex >= 0 && currentIndex < count ? currentIndex : 0;
    SendMessageA(playlistBox, LB_SETCURSEL, selection, 0);
    trackCount = count;
}

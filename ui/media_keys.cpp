#include "ui/media_keys.h"

#include "app/ids.h"
#include "app/state.h"

namespace {

const struct {
    int hotKey;
    UINT virtualKey;
    MediaKey key;
} hotKeys[] = {
    {HOTKEY_PLAY_PAUSE, VK_MEDIA_PLAY_PAUSE, PlayPauseKey},
    {HOTKEY_STOP, VK_MEDIA_STOP, StopKey},
    {HOTKEY_NEXT, VK_MEDIA_NEXT_TRACK, NextKey},
    {HOTKEY_PREVIOUS, VK_MEDIA_PREV_TRACK, PreviousKey},
};

void send(WORD id) {
    SendMessageA(mainWindowHandle, WM_COMMAND, id, 0);
}

MediaKey fromAppCommand(int command) {
    switch (command) {
    case APPCOMMAND_MEDIA_PLAY_PAUSE: return PlayPauseKey;
    case APPCOMMAND_MEDIA_STOP: return StopKey;
    case APPCOMMAND_MEDIA_NEXTTRACK: return NextKey;
    case APPCOMMAND_MEDIA_PREVIOUSTRACK: return PreviousKey;
    case APPCOMMAND_MEDIA_PLAY: return PlayKey;
    case APPCOMMAND_MEDIA_PAUSE: return PauseKey;
    }
    return NoKey;
}

} // namespace

// Each key does what its button does, through the button's own command.
void pressMediaKey(MediaKey key) {
    if (nothingToPlay())
        return;
    switch (key) {
    case PlayPauseKey: send(isPlaying ? IDC_PAUSE : IDC_PLAY); break;
    case PlayKey:
        if (!isPlaying)
            send(IDC_PLAY);
        else if (isPaused)
            send(IDC_PAUSE);
        break;
    case PauseKey:
        if (isPlaying && !isPaused)
            send(IDC_PAUSE);
        break;
    // The Play button reads "Stop" while a track plays; with none, Stop has nothing to do.
    case StopKey:
        if (isPlaying)
            send(IDC_PLAY);
        break;
    case NextKey: send(IDC_NEXT); break;
    case PreviousKey: send(IDC_PREVIOUS); break;
    case NoKey: break;
    }
}

bool nothingToPlay() {
    if (isPlaying)
        return false;
    return SendMessageA(playlistBox, LB_GETCOUNT, 0, 0) <= 0 ||
           SendMessageA(playlistBox, LB_GETCURSEL, 0, 0) < 0;
}

void registerMediaKeys(HWND window) {
    // A key that another program registered stays with it: Windows hands a hot key to its holder
    // alone, and no WM_APPCOMMAND comes to us for it either. WM_APPCOMMAND serves the keys that
    // nobody holds while a window of ours has the focus, and devices that send the command.
    for (const auto& hotKey : hotKeys)
        RegisterHotKey(window, hotKey.hotKey, MOD_NOREPEAT, hotKey.virtualKey);
}

void unregisterMediaKeys(HWND window) {
    for (const auto& hotKey : hotKeys)
        UnregisterHotKey(window, hotKey.hotKey);
}

bool onAppCommand(LPARAM lParam) {
    MediaKey key = fromAppCommand(GET_APPCOMMAND_LPARAM(lParam));
    if (key == NoKey)
        return false;
    pressMediaKey(key);
    return true;
}

void onHotKey(WPARAM id) {
    for (const auto& hotKey : hotKeys)
        if ((WPARAM)hotKey.hotKey == id)
            pressMediaKey(hotKey.key);
}

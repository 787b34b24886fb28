#include "audio/track_player.h"

#include <commctrl.h>

#include "app/ids.h"
#include "app/state.h"
#include "app/texts.h"
#include "audio/engine_ops.h"

namespace {

const unsigned int streamOpenMode = FSOUND_NORMAL | FSOUND_MPEGACCURATE;
const DWORD musicLoadFlags = BASS_MUSIC_RAMP | BASS_MUSIC_SURROUND2 | BASS_MUSIC_FT2MOD |
                             BASS_MUSIC_POSRESET | BASS_MUSIC_CALCLEN;
static_assert(streamOpenMode == 0x20130 && musicLoadFlags == 0x2B200);

// A play's message boxes run a message loop, so a double-click or Next can ask for another play
// while one is still choosing its engine; that one is refused.
bool playRunning = false;
// Set when the close sequence runs inside one of those boxes: the libraries are gone by the time
// the box is dismissed.
bool playAbandoned = false;

enum Outcome { Refused, Failed, Started };
enum Entry { NoEntry, EntryTooLong, EntryRead };

void setCaption(int id, const char* text) {
    SetDlgItemTextA(mainWindowHandle, id, text);
}

void showError(HWND owner, const char* text) {
    MessageBoxA(owner, text, CAPTION_ERROR, MB_OK);
}

// Copies the selected entry into trackPathBuffer, unless it is missing, empty or too long.
Entry readSelectedEntry() {
    currentIndex = (int)SendMessageA(playlistBox, LB_GETCURSEL, 0, 0);
    currentEntryRemoved = false;
    if (currentIndex < 0)
        return NoEntry;
    // The length may be overstated, never understated, so a fit here is a fit for LB_GETTEXT.
    LRESULT length = SendMessageA(playlistBox, LB_GETTEXTLEN, currentIndex, 0);
    if (length <= 0)
        return NoEntry;
    if (length >= trackPathSize)
        return EntryTooLong;
    SendMessageA(playlistBox, LB_GETTEXT, currentIndex, (LPARAM)trackPathBuffer);
    return trackPathBuffer[0] ? EntryRead : NoEntry;
}

Outcome tryFmodModule(const char* path) {
    fmodModule = FMUSIC_LoadSong(path);
    if (!fmodModule)
        return Refused;
    FMUSIC_SetMasterVolume(fmodModule, volume);
    if (!FMUSIC_PlaySong(fmodModule)) {
        showError(mainWindowHandle, "Can't play module.");
        return Failed;
    }
    trackLength = FMUSIC_GetNumOrders(fmodModule) - 1;
    trackPosition = FMUSIC_GetOrder(fmodModule);
    return Started;
}

bool tryFmodStream(const char* path) {
    if (!openStream(path))
        return false;
    FSOUND_SetVolume(FSOUND_ALL,
                     (int)GetDlgItemInt(mainWindowHandle, IDC_VOLUME_EDIT, nullptr, FALSE));
    trackLength = FSOUND_Stream_GetLengthMs(fmodStream) / 1000;
    trackPosition = FSOUND_Stream_GetTime(fmodStream) / 1000;
    return true;
}

bool tryBassModule(const char* path) {
    bassMusic = BASS_MusicLoad(FALSE, path, 0, 0, musicLoadFlags, 0);
    if (!bassMusic)
        return false;
    BASS_Start(); // a paused BASS track left the whole output paused
    savedBassVolume = BASS_GetVolume();
    // Otherwise the module plays at whatever level BASS was left at, not at the box's volume.
    BASS_SetVolume((DWORD)volume);
    BASS_ChannelPlay(bassMusic, FALSE);
    trackLength = BASS_MusicGetOrders(bassMusic) - 1;
    trackPosition = BASS_MusicGetOrderPosition(bassMusic);
    return true;
}

void startTick() {
    SendMessageA(positionBar, PBM_SETRANGE, 0, MAKELPARAM(0, LOWORD(trackLength)));
    setCaption(IDC_PLAY, "Stop");
    SetTimer(mainWindowHandle, TICK_TIMER_ID, 1000, nullptr);
    isPlaying = TRUE;
    isPaused = FALSE;
}

void loadAndStart() {
    if (isPaused)
        setCaption(IDC_PAUSE, "Pause");

    Entry entry = readSelectedEntry();
    if (entry == NoEntry) {
        showError(mainWindowHandle, "Please open a file.");
        return;
    }
    if (entry == EntryTooLong) {
        // No file has a path that long; a cut-off path would name some other file.
        showError(nullptr, "Can't load the file");
        return;
    }

    // The stream player's box lets a drop, a clear or the open dialog rewrite trackPathBuffer
    // before BASS is tried.
    char path[trackPathSize];
    lstrcpynA(path, trackPathBuffer, trackPathSize);

    Outcome module = tryFmodModule(path);
    if (module == Failed)
        return;
    if (module == Refused && !tryFmodStream(path)) {
        if (playAbandoned)
            return;
        if (!tryBassModule(path)) {
            showError(nullptr, "Can't load the file");
            return;
        }
    }
    lstrcpynA(playingTrackPath, path, trackPathSize);
    ++trackStarts;
    startTick();
}

// Stops the engine that holds the track and clears its handle.
void stopEngine(bool restoreBassVolume) {
    if (const EngineOps* engine = playingEngine())
        engine->stop(restoreBassVolume);
}

} // namespace

bool playUnderWay() {
    return playRunning;
}

void playSelectedTrack() {
    if (playRunning)
        return;
    playRunning = true;
    loadAndStart();
    playRunning = false;
    playAbandoned = false;
}

void abandonPlayUnderWay() {
    playAbandoned = playRunning;
}

bool openStream(const char* path) {
    fmodStream = FSOUND_Stream_Open(path, streamOpenMode, 0, 0);
    if (!fmodStream)
        return false;
    if (FSOUND_Stream_Play(FSOUND_FREE, fmodStream) < 0) {
        FSOUND_Stream_Close(fmodStream);
        fmodStream = nullptr;
        showError(nullptr, "Can't play somg");
        return false;
    }
    return true;
}

void stopTrack() {
    KillTimer(mainWindowHandle, TICK_TIMER_ID);
    stopEngine(true);
    SendMessageA(positionBar, PBM_SETPOS, 0, 0);
    setCaption(IDC_PLAY, "Play");
    setCaption(IDC_PAUSE, "Pause");
    isPaused = FALSE;
    isPlaying = FALSE;
}

void releaseTrack() {
    stopEngine(false);
    isPlaying = FALSE;
}

void togglePause() {
    isPaused = !isPaused;
    if (!isPlaying)
        return;
    if (const EngineOps* engine = playingEngine())
        engine->setPaused(isPaused);
    setCaption(IDC_PAUSE, isPaused ? "Paused" : "Pause");
}

#include "app/state.h"

HINSTANCE appInstance;
UINT textCodePage;

HWND playlistBox;
int currentIndex;
int trackCount;
bool currentEntryRemoved;
char trackPathBuffer[trackPathSize];
HMENU playlistMenu;

FMUSIC_MODULE* fmodModule;
FSOUND_STREAM* fmodStream;
HMUSIC bassMusic;
BYTE isPlaying;
BYTE isPaused;
DWORD trackLength;
DWORD trackPosition;
DWORD savedBassVolume;
char playingTrackPath[trackPathSize];
DWORD trackStarts;

EngineKind currentEngine() {
    if (fmodModule)
        return FmodModule;
    if (fmodStream)
        return FmodStream;
    if (bassMusic)
        return BassModule;
    return NoEngine;
}

int volume;
SCROLLINFO volumeScrollInfo;

HWND mainWindowHandle;
HWND playlistWindowHandle;
HWND volumeScrollBar;
HWND positionBar;
WNDPROC oldPositionBarProc;

NOTIFYICONDATAA trayIconData;
HMENU trayMenu;

BYTE isRecording;
HRECORD recordChannel;

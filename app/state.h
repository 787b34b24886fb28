// The program-wide state, grouped by subsystem. Everything starts zeroed and lives until exit;
// only the user-interface thread touches it, except the capture state (recorder/capture_file.h).
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "bass23.h"
#include "fmod3.h"
#include "recorder/capture_file.h"

// The size of trackPathBuffer: the longest path, terminator included, that a play or add takes.
constexpr int trackPathSize = 1024;

// Start-up.
extern HINSTANCE appInstance;
// The code page of the program's 8-bit text, found at start-up: UTF-8 as the manifest asks, or
// the system's ANSI code page where Windows ignores that (before Windows 10 1903).
extern UINT textCodePage;

// Playlist.
extern HWND playlistBox;
extern int currentIndex;
extern int trackCount;
// Remove took the current entry away: currentIndex names the entry before the gap it left.
extern bool currentEntryRemoved;
extern char trackPathBuffer[trackPathSize];
extern HMENU playlistMenu;

// Playback. At most one of the three handles is set.
enum EngineKind { NoEngine, FmodModule, FmodStream, BassModule };
extern FMUSIC_MODULE* fmodModule;
extern FSOUND_STREAM* fmodStream;
extern HMUSIC bassMusic;
extern BYTE isPlaying;
extern BYTE isPaused;
extern DWORD trackLength;
extern DWORD trackPosition;
extern DWORD savedBassVolume;
// The file of the track that started last, and how many have started: the shell's displays
// follow them (trackPathBuffer may change under a playing track).
extern char playingTrackPath[trackPathSize];
extern DWORD trackStarts;

// The engine whose handle is set.
EngineKind currentEngine();

// Volume.
extern int volume;
extern SCROLLINFO volumeScrollInfo;

// Windows.
extern HWND mainWindowHandle;
extern HWND playlistWindowHandle;
extern HWND volumeScrollBar;
extern HWND positionBar;
extern WNDPROC oldPositionBarProc;

// Tray.
extern NOTIFYICONDATAA trayIconData;
extern HMENU trayMenu;

// Recorder (the capture file's own state is in recorder/capture_file.h).
extern BYTE isRecording;
extern HRECORD recordChannel;

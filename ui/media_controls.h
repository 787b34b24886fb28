// The system's media controls (Windows 10 and later): the flyout of the media keys, the lock
// screen, headset buttons. They show the track's title, artist and cover and send their buttons
// to the main window's commands. Where the class is missing, the media keys' hot keys serve.
#pragma once

#include <windows.h>
#include <objidl.h>

// Makes a WinRT stream over a COM one (shcore's CreateRandomAccessStreamOverStream, looked up
// when first needed). Tests put a stand-in here: Wine's shcore only has a stub of it.
using StreamOverIStreamProc = HRESULT(WINAPI*)(IStream* stream, int options, REFIID riid,
                                               void** out);
extern StreamOverIStreamProc streamOverIStream;

// After the main window shows: true when the system's controls took the window. Loads
// everything at run time, so it is false, quietly, where WinRT is missing.
bool startMediaControls(HWND window);
// In the close sequence; harmless when they never started.
void stopMediaControls();
bool mediaControlsActive();

// After every command and tick of the main window: passes a change of the playback state and a
// track that started on to the controls. A new track's tags are read on a thread of their own.
void followPlayerState();
// WM_MEDIA_BUTTON: a button of the controls, posted from the thread the system called us on.
void onMediaButton(WPARAM button);
// WM_TRACK_TAGS: what the tag thread read (the message owns it).
void onTrackTags(WPARAM generation, LPARAM tags);

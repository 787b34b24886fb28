// The WAV file a recording goes into: 16-bit stereo PCM at 44100 Hz behind a 44-byte header.
// Portable: no <windows.h>, so it is unit-tested natively.
#pragma once

#include <stdio.h>

#include <atomic>

#include "audio/bass23.h"

#define CAPTURE_PATH_SIZE 264
#define CAPTURE_STATUS_SIZE 32

// Shared between the user-interface thread and the recording thread; see capture_file.cpp.
extern char capturePath[CAPTURE_PATH_SIZE];
extern FILE* captureFile;
extern std::atomic<int> captureBlockCount;
extern char captureStatusText[CAPTURE_STATUS_SIZE];

// Creates (or truncates) capturePath and writes the header with both sizes 0.
bool openCaptureFile();

// The recording callback: appends one block. FALSE ends the recording.
BOOL CALLBACK recordBlockCallback(HRECORD handle, void* buffer, DWORD length, DWORD user);

// Writes both size fields from the file's real length and closes it.
void finishCaptureFile();

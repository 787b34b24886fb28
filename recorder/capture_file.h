// The WAV file a recording goes into: 16-bit stereo PCM at 44100 Hz behind a 44-byte header.
// Portable: no <windows.h>, so it is unit-tested natively.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <atomic>

#include "bass23.h"

#define CAPTURE_PATH_SIZE 264
#define CAPTURE_STATUS_SIZE 32

#define CAPTURE_HEADER_SIZE 44
#define CAPTURE_BYTES_PER_SECOND 176400
// The RIFF size field (data + 36) must fit 32 bits; kept to whole 4-byte frames.
#define CAPTURE_MAX_DATA_BYTES ((uint64_t)((0xFFFFFFFFu - 36) & ~3u))

// Why the recording thread ended a recording on its own (its callback returned FALSE).
// CaptureWriteHung: the stop found a write that did not return; the file was left to it.
enum CaptureEnd { CaptureGoesOn, CaptureWriteFailed, CaptureLimitReached, CaptureWriteHung };

// Written by the user-interface thread before the recording starts and after it has stopped.
extern char capturePath[CAPTURE_PATH_SIZE];
extern FILE* captureFile;
// Only the user-interface thread touches the text: it is formatted from the block count.
extern char captureStatusText[CAPTURE_STATUS_SIZE];

// Shared with the recording thread while a recording runs.
extern std::atomic<int> captureBlockCount;
extern std::atomic<CaptureEnd> captureEnd;
// Sample bytes in the file: counted while recording, set from the file's length when finished.
extern std::atomic<uint64_t> captureDataBytes;
// errno of the last failure to create or write the file.
extern std::atomic<int> captureError;

// The most sample bytes a recording may hold; lowered by tests.
extern uint64_t captureDataLimit;

// Creates (or truncates) capturePath and writes the header with both sizes 0. A file whose
// header cannot be written is removed again; captureError tells why it failed.
bool openCaptureFile();

// The recording callback: appends one block, and brings the header up to date and onto the disk
// about once a second of sound. FALSE ends the recording; captureEnd says why.
BOOL CALLBACK recordBlockCallback(HRECORD handle, void* buffer, DWORD length, DWORD user);

// Writes both size fields from the file's real length (whole frames only) and closes it. If
// the recording thread is still inside a write that hangs, the file is left to that write
// (captureEnd says so) and finished by it when it returns.
void finishCaptureFile();

// Closes and deletes a file that received no recording.
void discardCaptureFile();

// "Recording.... n" into captureStatusText, n being the count before the latest block.
const char* formatCaptureStatus();

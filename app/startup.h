#pragma once

#include <windows.h>

// Runs the whole program: checks and starts both audio libraries, then the main window.
// Returns the exit status: 0 after a normal run, 1 when start-up failed.
int runQuaverly(HINSTANCE instance);

// The text of an audio library error code; "Unknown error" outside the table.
const char* fmodErrorText(unsigned int code);

// Stops all output of the BASS side and frees it.
void shutdownBass();

// Gives the shared records their start values (also used by tests to reset state).
void initialiseSharedRecords(HINSTANCE instance);

#pragma once

#include <windows.h>

// Appends the files the user picks in the system open dialog to the playlist.
void addTracksFromOpenDialog();

// Appends what the dialog wrote in its 20480-byte result: one full path, or a folder followed by
// names (fileOffset is where the first name starts). Returns what to tell the user when some or
// all of it could not be added, or null.
const char* addChosenFiles(const char* result, WORD fileOffset);

// Adding paths to the playlist: shared by the drop handler and the open dialog.
#pragma once

#include <windows.h>

#define TEXT_PATH_TOO_LONG "Some files were not added: their paths are longer than 1023 characters."

// Appends one path to the end of the playlist.
void appendTrack(const char* path);

// Widens the list's horizontal extent to 6 pixels a character when the path needs more; it never
// narrows.
void widenForPath(const char* path);

// After an addition: selects the current entry again, or the first one when there is none, and
// recounts the playlist.
void reselectAndRecount();

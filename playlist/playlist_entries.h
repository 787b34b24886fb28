// Adding paths to the playlist: shared by the drop handler and the open dialog.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#define TEXT_PATH_TOO_LONG "Some files were not added: their paths are longer than 1023 characters."

// The name in the program's 8-bit text. False, with `out` untouched, when textCodePage cannot
// hold it: converted, it would name some other file, or none.
bool narrowName(const wchar_t* name, std::string& out);
// Whether that text is UTF-8, which holds every name.
bool textIsUtf8();
// One box, owned by `owner`, that names (in UTF-16, as they are) the files of one drop or one
// choice that were refused by narrowName. Nothing when there are none.
void reportNamesOutsideCodePage(HWND owner, const std::vector<std::wstring>& names);

// Appends one path to the end of the playlist.
void appendTrack(const char* path);

// Widens the list's horizontal extent to 6 pixels a character when the path needs more; it never
// narrows.
void widenForPath(const char* path);

// After an addition: selects the current entry again, or the first one when there is none, and
// recounts the playlist.
void reselectAndRecount();

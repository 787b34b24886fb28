// Playlist files: M3U, M3U8 and PLS read into the playlist, and the playlist saved as M3U8.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "qvcore/playlist_text.h"

// By the name's extension: .m3u, .m3u8 or .pls.
bool isPlaylistFile(const char* path);

// Appends the files that the playlist file names (and those of the playlists it names, each read
// once), in order, with the width rule. Entries that are URLs, missing files, devices or not text
// are passed over; those that named no file are counted for takeMissingEntries. Returns false
// when some were refused because their paths do not fit a buffer.
bool addPlaylistFile(const char* path);

// A file the user added: a playlist file's entries, or the file itself (widening the list for
// its path when `widen`). False when a playlist's entries were refused as addPlaylistFile says.
bool addPathOrPlaylist(const char* path, bool widen = true);

// How many entries of the playlists added since the last call named no file.
int takeMissingEntries();

// Appends the files that playlists named since the last call, whose names the system's code page
// cannot hold, so they were not added.
void takeEntriesOutsideCodePage(std::vector<std::wstring>& into);

// After a drop or an open: one box that gives the failure (an error) and says how many playlist
// entries were not found, or none when there is nothing to say.
void reportSkippedEntries(HWND owner, const char* failure);

// Writes every entry of the playlist to path in the format (by the name's extension unless
// given; M3U8 for other names), full paths, through a temporary file that then replaces path,
// keeping its attributes. Returns null, or why it failed.
const char* savePlaylistFile(const char* path);
const char* savePlaylistFile(const char* path, qvcore::PlaylistFormat format);

// "Save playlist..." of the popup menu: the system's save dialog, then savePlaylistFile.
void savePlaylistThroughDialog();

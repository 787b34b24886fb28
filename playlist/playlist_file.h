// Playlist files: M3U, M3U8 and PLS read into the playlist, and the playlist saved as M3U8.
#pragma once

#include <windows.h>

// By the name's extension: .m3u, .m3u8 or .pls.
bool isPlaylistFile(const char* path);

// Appends the files that the playlist file names (and those of the playlists it names, each read
// once), in order, with the width rule. Entries that are URLs, missing files or not text are
// passed over. Returns false when some were refused because their paths do not fit a buffer.
bool addPlaylistFile(const char* path);

// A file the user added: a playlist file's entries, or the file itself (widening the list for
// its path when `widen`). False when a playlist's entries were refused as addPlaylistFile says.
bool addPathOrPlaylist(const char* path, bool widen = true);

// Writes every entry of the playlist to path as M3U8 (UTF-8, full paths) through a temporary
// file that then replaces path. Returns null, or why it failed.
const char* savePlaylistFile(const char* path);

// "Save playlist..." of the popup menu: the system's save dialog, then savePlaylistFile.
void savePlaylistThroughDialog();

#pragma once

// Appends the files the user picks in the system open dialog to the playlist.
void addTracksFromOpenDialog();

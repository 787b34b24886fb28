#pragma once

// ">>" and "<<": move through the playlist with wrap-around and play the new entry.
void nextTrack();
void previousTrack();

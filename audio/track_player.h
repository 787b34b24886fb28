// Plays one track at a time through the first of the three players that takes it.
#pragma once

#include <windows.h>

void playSelectedTrack();
void stopTrack();
void releaseTrack();
void togglePause();
bool openStream(const char* path);

// True while playSelectedTrack runs: its message boxes let other commands arrive meanwhile.
bool playUnderWay();
// Makes a play under way end quietly at its next step; the close sequence calls it before it
// frees the libraries.
void abandonPlayUnderWay();

// The volume edit box is the one road by which a volume reaches the players.
void applyVolume();

// The one-second refresh of the status line and position bar, and the end-of-track rule.
void onTick();

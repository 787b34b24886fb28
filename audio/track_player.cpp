#include "audio/track_player.h"

#include "app/state.h"

// Placeholder bodies until the track player lands.
void playSelectedTrack() {}
void stopTrack() {}
void releaseTrack() {}
void togglePause() {}
bool openStream(const char*) {
    return false;
}
void onTick() {}

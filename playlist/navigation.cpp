#include "playlist/navigation.h"

void nextTrack() {}
void previousTrack() {}

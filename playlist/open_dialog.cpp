#include "playlist/open_dialog.h"

void addTracksFromOpenDialog() {}

#include "ui/tray.h"

void goToTray() {}
void onTrayNotify(LPARAM) {}
void restoreFromTray() {}

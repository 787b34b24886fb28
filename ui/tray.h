#pragma once

#include <windows.h>

void goToTray();
void onTrayNotify(LPARAM lParam);
void restoreFromTray();

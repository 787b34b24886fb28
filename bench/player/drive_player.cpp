// Starts the real player, adds one file through its open dialog, presses Play, waits, and presses
// Exit: the whole program playing, for bench/cpu_share.sh to measure from outside.
//
//   drive_player QUAVERLY.EXE FILE SECONDS
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "app/ids.h"
#include "tests/e2e/harness.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: drive_player QUAVERLY.EXE FILE SECONDS\n");
        return 2;
    }
    _putenv_s("QUAVERLY_EXE", argv[1]); // read by App::start through getenv
    e2e::App app;
    if (!app.start() || !app.addFile(e2e::windowsPath(argv[2]))) {
        fprintf(stderr, "the player did not start or take the file\n");
        app.kill();
        return 1;
    }
    app.click(IDC_PLAY);
    Sleep(2000);
    printf("playing: %s\n", app.text(IDC_STATUS).c_str());
    fflush(stdout);
    Sleep(static_cast<DWORD>(atoi(argv[3])) * 1000);
    return app.exit() == 0 ? 0 : 1;
}

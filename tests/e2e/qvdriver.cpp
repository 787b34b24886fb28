// Drives the real quaverly.exe from outside, as a user would: starts it, waits for its windows,
// reads and answers its message boxes, and checks how it ends.
//
//   qvdriver start-and-close QUAVERLY.EXE
//   qvdriver expect-startup-error QUAVERLY.EXE TEXT CAPTION
//
// Exit status 0 when the program behaved as expected; 1 otherwise, with the reason on stderr.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>

#include "tests/e2e/harness.h"

namespace {

const DWORD waitMs = 30000;

bool launch(e2e::App& app, const char* exe) {
    if (app.launch(exe))
        return true;
    DWORD error = GetLastError();
    fprintf(stderr, "cannot start %s (error %lu)\n", e2e::windowsPath(exe).c_str(), error);
    return false;
}

int fail(e2e::App& app, const char* why) {
    fprintf(stderr, "%s\n", why);
    app.kill();
    return 1;
}

int startAndClose(const char* exe) {
    e2e::App app;
    if (!launch(app, exe))
        return 1;
    if (!app.waitForMain(waitMs))
        return fail(app, "the main window \"Quaverly - Tamsel\" did not appear");
    printf("main window shown\n");
    // The Exit button, as a user would press it.
    long status = app.exit(waitMs);
    if (status != 0) {
        fprintf(stderr, "exit status %ld, expected 0\n", status);
        return 1;
    }
    printf("exited with status 0\n");
    return 0;
}

int expectStartupError(const char* exe, const char* text, const char* caption) {
    e2e::App app;
    if (!launch(app, exe))
        return 1;
    HWND box = app.waitForWindow(caption, waitMs);
    if (!box)
        return fail(app, "no message box with the expected caption appeared");
    std::string shown = e2e::windowText(GetDlgItem(box, 0xFFFF));
    printf("box \"%s\": \"%s\"\n", caption, shown.c_str());
    if (shown != text)
        return fail(app, "the box's text is not the expected one");
    if (GetWindow(box, GW_OWNER) != nullptr)
        return fail(app, "the box has an owner window");
    if (app.findWindow("Quaverly - Tamsel"))
        return fail(app, "the main window was created although start-up failed");
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    long status = app.waitForExit(waitMs);
    if (status != 1) {
        fprintf(stderr, "exit status %ld, expected 1\n", status);
        return 1;
    }
    printf("exited with status 1\n");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "start-and-close") == 0)
        return startAndClose(argv[2]);
    if (argc == 5 && strcmp(argv[1], "expect-startup-error") == 0)
        return expectStartupError(argv[2], argv[3], argv[4]);
    fprintf(stderr,
            "usage: qvdriver start-and-close EXE | expect-startup-error EXE TEXT CAPTION\n");
    return 2;
}

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

namespace {

const DWORD waitMs = 30000;

std::string windowsPath(const char* path) {
    std::string out = path;
    if (!out.empty() && out[0] == '/')
        out = "Z:" + out; // a Unix path, as ctest passes it, seen through Wine's Z: drive
    for (char& c : out)
        if (c == '/')
            c = '\\';
    return out;
}

std::string textOf(HWND window) {
    char text[1024] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

struct Search {
    DWORD processId;
    const char* caption;
    HWND found;
};

BOOL CALLBACK matchWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window) &&
        textOf(window) == search->caption) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// Waits for a visible top-level window of the process with the caption.
HWND waitForWindow(const PROCESS_INFORMATION& process, const char* caption) {
    for (DWORD waited = 0; waited < waitMs; waited += 100) {
        Search search = {process.dwProcessId, caption, nullptr};
        EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found)
            return search.found;
        if (WaitForSingleObject(process.hProcess, 100) == WAIT_OBJECT_0)
            return nullptr;
    }
    return nullptr;
}

bool start(const char* exe, PROCESS_INFORMATION& process) {
    std::string path = windowsPath(exe);
    std::string commandLine = "\"" + path + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        fprintf(stderr, "cannot start %s (error %lu)\n", path.c_str(), GetLastError());
        return false;
    }
    return true;
}

// Waits for the process to end and returns its exit status, or -1 if it does not end.
long waitForExit(const PROCESS_INFORMATION& process) {
    if (WaitForSingleObject(process.hProcess, waitMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 99);
        return -1;
    }
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    return (long)status;
}

int fail(const PROCESS_INFORMATION& process, const char* why) {
    fprintf(stderr, "%s\n", why);
    TerminateProcess(process.hProcess, 99);
    return 1;
}

int startAndClose(const char* exe) {
    PROCESS_INFORMATION process;
    if (!start(exe, process))
        return 1;
    HWND main = waitForWindow(process, "Quaverly - Tamsel");
    if (!main)
        return fail(process, "the main window \"Quaverly - Tamsel\" did not appear");
    printf("main window shown\n");
    // The Exit button, as a user would press it.
    PostMessageA(main, WM_COMMAND, MAKEWPARAM(1001, BN_CLICKED), 0);
    long status = waitForExit(process);
    if (status != 0) {
        fprintf(stderr, "exit status %ld, expected 0\n", status);
        return 1;
    }
    printf("exited with status 0\n");
    return 0;
}

int expectStartupError(const char* exe, const char* text, const char* caption) {
    PROCESS_INFORMATION process;
    if (!start(exe, process))
        return 1;
    HWND box = waitForWindow(process, caption);
    if (!box)
        return fail(process, "no message box with the expected caption appeared");
    std::string shown = textOf(GetDlgItem(box, 0xFFFF));
    printf("box \"%s\": \"%s\"\n", caption, shown.c_str());
    if (shown != text)
        return fail(process, "the box's text is not the expected one");
    if (GetWindow(box, GW_OWNER) != nullptr)
        return fail(process, "the box has an owner window");
    Search main = {process.dwProcessId, "Quaverly - Tamsel", nullptr};
    EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&main));
    if (main.found)
        return fail(process, "the main window was created although start-up failed");
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    long status = waitForExit(process);
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

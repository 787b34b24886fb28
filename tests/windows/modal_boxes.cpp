#include "tests/windows/modal_boxes.h"

#include <stdio.h>

namespace {

ModalBoxes* current = nullptr;

// The static control that carries a message box's text.
const int messageBoxTextId = 0xFFFF;

bool isMessageBox(HWND window) {
    char className[16] = "";
    GetClassNameA(window, className, sizeof className);
    return lstrcmpA(className, "#32770") == 0 && GetDlgItem(window, messageBoxTextId) != nullptr;
}

BOOL CALLBACK closeThreadWindow(HWND window, LPARAM) {
    if (IsWindowVisible(window) || GetWindow(window, GW_OWNER) == nullptr) {
        PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
        PostMessageA(window, WM_CLOSE, 0, 0);
    }
    return TRUE;
}

} // namespace

std::string windowText(HWND window) {
    char text[4096] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

void pumpMessages(DWORD ms) {
    DWORD end = GetTickCount() + ms;
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    } while ((LONG)(end - GetTickCount()) > 0);
}

ModalBoxes::ModalBoxes(DWORD ms) : watchdogMs(ms) {
    current = this;
    threadId = GetCurrentThreadId();
    hook = SetWindowsHookExA(WH_CBT, hookProc, nullptr, threadId);
    stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    watchdogThread = CreateThread(nullptr, 0, watchdog, this, 0, nullptr);
}

ModalBoxes::~ModalBoxes() {
    SetEvent(stopEvent);
    WaitForSingleObject(watchdogThread, INFINITE);
    CloseHandle(watchdogThread);
    CloseHandle(stopEvent);
    UnhookWindowsHookEx(hook);
    current = nullptr;
}

LRESULT CALLBACK ModalBoxes::hookProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && current)
        current->activated(reinterpret_cast<HWND>(wParam));
    // A later box may be given the handle of one that is gone: forget it with its window.
    if (code == HCBT_DESTROYWND && current)
        std::erase(current->seen, reinterpret_cast<HWND>(wParam));
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void ModalBoxes::activated(HWND window) {
    if (isMessageBox(window)) {
        for (HWND w : seen)
            if (w == window)
                return; // activated again after another window: already answered
        seen.push_back(window);
        ShownBox box{windowText(window), windowText(GetDlgItem(window, messageBoxTextId)),
                     GetWindow(window, GW_OWNER)};
        shown.push_back(box);
        if (boxHandler)
            boxHandler(box);
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return;
    }
    if (dialogHandler)
        dialogHandler(window);
}

DWORD WINAPI ModalBoxes::watchdog(void* self) {
    auto* boxes = static_cast<ModalBoxes*>(self);
    if (WaitForSingleObject(boxes->stopEvent, boxes->watchdogMs) != WAIT_TIMEOUT)
        return 0;
    InterlockedExchange(&boxes->expired, 1);
    // Close whatever the test is stuck in; a test that still hangs after that is ended.
    for (int round = 0; round < 20; ++round) {
        EnumThreadWindows(boxes->threadId, closeThreadWindow, 0);
        if (WaitForSingleObject(boxes->stopEvent, 500) != WAIT_TIMEOUT)
            return 0;
    }
    fprintf(stderr, "watchdog: the test is still stuck after closing its windows; ending it\n");
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return 0;
}

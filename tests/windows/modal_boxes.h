// Records and dismisses every message box (and, on request, other dialogs) that the code under
// test shows on this thread, so a test can check caption, text and owner without a human.
// A watchdog closes whatever is open when a test runs too long, so it fails instead of hanging.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

struct ShownBox {
    std::string caption;
    std::string text;
    HWND owner;
};

class ModalBoxes {
public:
    explicit ModalBoxes(DWORD watchdogMs = 20000);
    ~ModalBoxes();
    ModalBoxes(const ModalBoxes&) = delete;
    ModalBoxes& operator=(const ModalBoxes&) = delete;

    // Called when a top-level window other than a message box is activated on this thread.
    // The handler may post messages to it; returning true marks it handled.
    void onDialog(std::function<bool(HWND)> handler) { dialogHandler = std::move(handler); }
    // Called for every message box before it is dismissed (e.g. to act while it is open).
    void onBox(std::function<void(const ShownBox&)> handler) { boxHandler = std::move(handler); }

    const std::vector<ShownBox>& boxes() const { return shown; }
    void clear() { shown.clear(); }
    bool timedOut() const { return expired != 0; }

private:
    static LRESULT CALLBACK hookProc(int code, WPARAM wParam, LPARAM lParam);
    static DWORD WINAPI watchdog(void* self);
    void activated(HWND window);

    HHOOK hook = nullptr;
    HANDLE watchdogThread = nullptr;
    HANDLE stopEvent = nullptr;
    DWORD threadId = 0;
    DWORD watchdogMs;
    volatile LONG expired = 0;
    std::vector<ShownBox> shown;
    std::vector<HWND> seen;
    std::function<bool(HWND)> dialogHandler;
    std::function<void(const ShownBox&)> boxHandler;
};

// The text of a window, as a string.
std::string windowText(HWND window);

// Runs this thread's message loop for the given time (lets posted and timer messages arrive).
void pumpMessages(DWORD ms);

// The taskbar thumbnail's Previous, Play/Pause and Next, and the taskbar button's red bar while
// Echotrap records, so that a running recording shows from the taskbar.
#pragma once

#include <windows.h>
#include <shobjidl.h>

// The shell's calls, one place for tests to take them (Wine's taskbar only pretends).
struct TaskbarCalls {
    HRESULT (*addButtons)(HWND window, UINT count, THUMBBUTTON* buttons);
    HRESULT (*updateButtons)(HWND window, UINT count, THUMBBUTTON* buttons);
    HRESULT (*setProgressState)(HWND window, TBPFLAG state);
    HRESULT (*setProgressValue)(HWND window, ULONGLONG done, ULONGLONG total);
};
extern TaskbarCalls taskbarCalls;

// The registered "TaskbarButtonCreated": the buttons can only be added after it.
bool isTaskbarButtonCreated(UINT message);
void onTaskbarButtonCreated(HWND window);
// After every command and tick of the main window: the Play/Pause button follows the state.
void followTaskbarState();
// WM_COMMAND with THBN_CLICKED.
void onThumbButton(WORD id);
// Each message of the recorder window: its taskbar button is red while it records.
void showRecordingOnTaskbar(HWND recorderWindow);
// In the close sequence.
void releaseTaskbarButtons();

#include "ui/taskbar_buttons.h"

#include <string.h>

#include "app/ids.h"
#include "app/state.h"
#include "ui/media_keys.h"

namespace {

ITaskbarList3* taskbar = nullptr;

ITaskbarList3* shellTaskbar() {
    if (!taskbar) {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_ITaskbarList3, (void**)&taskbar)))
            taskbar = nullptr;
        else if (FAILED(taskbar->HrInit())) {
            taskbar->Release();
            taskbar = nullptr;
        }
    }
    return taskbar;
}

HRESULT shellAdd(HWND window, UINT count, THUMBBUTTON* buttons) {
    ITaskbarList3* list = shellTaskbar();
    return list ? list->ThumbBarAddButtons(window, count, buttons) : E_NOINTERFACE;
}
HRESULT shellUpdate(HWND window, UINT count, THUMBBUTTON* buttons) {
    ITaskbarList3* list = shellTaskbar();
    return list ? list->ThumbBarUpdateButtons(window, count, buttons) : E_NOINTERFACE;
}
HRESULT shellProgressState(HWND window, TBPFLAG state) {
    ITaskbarList3* list = shellTaskbar();
    return list ? list->SetProgressState(window, state) : E_NOINTERFACE;
}
HRESULT shellProgressValue(HWND window, ULONGLONG done, ULONGLONG total) {
    ITaskbarList3* list = shellTaskbar();
    return list ? list->SetProgressValue(window, done, total) : E_NOINTERFACE;
}

enum Glyph { PreviousGlyph, PlayGlyph, PauseGlyph, NextGlyph, GlyphCount };
HICON icons[GlyphCount];
bool buttonsAdded = false;
bool showsPause = false;
HWND redWindow = nullptr;

// Drawn, not loaded: four plain glyphs at the small icon size, white on transparent.
HICON drawIcon(Glyph glyph) {
    const int size = GetSystemMetrics(SM_CXSMICON);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = size;
    info.bmiHeader.biHeight = -size;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP color = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ReleaseDC(nullptr, screen);
    if (!color)
        return nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, color);
    SelectObject(dc, GetStockObject(WHITE_BRUSH));
    SelectObject(dc, GetStockObject(WHITE_PEN));
    const int a = size / 4, b = size / 2, c = size - size / 4, top = size / 4, bottom = size - top;
    switch (glyph) {
    case PlayGlyph: {
        POINT p[] = {{a, top}, {c, b}, {a, bottom}};
        Polygon(dc, p, 3);
        break;
    }
    case PauseGlyph:
        Rectangle(dc, a, top, b - 1, bottom);
        Rectangle(dc, b + 1, top, c, bottom);
        break;
    case NextGlyph: {
        POINT p[] = {{a, top}, {c - 2, b}, {a, bottom}};
        Polygon(dc, p, 3);
        Rectangle(dc, c - 2, top, c, bottom);
        break;
    }
    case PreviousGlyph: {
        POINT p[] = {{c, top}, {a + 2, b}, {c, bottom}};
        Polygon(dc, p, 3);
        Rectangle(dc, a, top, a + 2, bottom);
        break;
    }
    case GlyphCount: break;
    }
    SelectObject(dc, old);
    DeleteDC(dc);
    // GDI leaves alpha at 0: what it drew becomes opaque.
    auto* pixel = (DWORD*)bits;
    for (int i = 0; i < size * size; ++i)
        if (pixel[i])
            pixel[i] |= 0xFF000000;
    HBITMAP mask = CreateBitmap(size, size, 1, 1, nullptr);
    ICONINFO icon = {TRUE, 0, 0, mask, color};
    HICON result = CreateIconIndirect(&icon);
    DeleteObject(mask);
    DeleteObject(color);
    return result;
}

void describe(THUMBBUTTON& button, UINT id, Glyph glyph, const char* tip) {
    memset(&button, 0, sizeof button);
    button.dwMask = THB_ICON | THB_TOOLTIP | THB_FLAGS;
    button.iId = id;
    button.hIcon = icons[glyph];
    button.dwFlags = THBF_ENABLED;
    MultiByteToWideChar(CP_ACP, 0, tip, -1, button.szTip, ARRAYSIZE(button.szTip));
}

bool playing() {
    return isPlaying && !isPaused;
}

void describePlayPause(THUMBBUTTON& button) {
    if (playing())
        describe(button, IDC_THUMB_PLAY_PAUSE, PauseGlyph, "Pause");
    else
        describe(button, IDC_THUMB_PLAY_PAUSE, PlayGlyph, "Play");
}

} // namespace

TaskbarCalls taskbarCalls = {shellAdd, shellUpdate, shellProgressState, shellProgressValue};

bool isTaskbarButtonCreated(UINT message) {
    static const UINT created = RegisterWindowMessageA("TaskbarButtonCreated");
    return message == created;
}

void onTaskbarButtonCreated(HWND window) {
    if (window != mainWindowHandle)
        return;
    for (int glyph = 0; glyph < GlyphCount; ++glyph)
        if (!icons[glyph])
            icons[glyph] = drawIcon((Glyph)glyph);
    THUMBBUTTON buttons[3];
    describe(buttons[0], IDC_THUMB_PREVIOUS, PreviousGlyph, "Previous");
    describePlayPause(buttons[1]);
    describe(buttons[2], IDC_THUMB_NEXT, NextGlyph, "Next");
    showsPause = playing();
    // A restarted taskbar sends the message again: the buttons are there then, only updated.
    buttonsAdded = SUCCEEDED(buttonsAdded ? taskbarCalls.updateButtons(window, 3, buttons)
                                          : taskbarCalls.addButtons(window, 3, buttons)) ||
                   buttonsAdded;
}

void followTaskbarState() {
    if (!buttonsAdded || showsPause == playing())
        return;
    showsPause = playing();
    THUMBBUTTON button;
    describePlayPause(button);
    taskbarCalls.updateButtons(mainWindowHandle, 1, &button);
}

void onThumbButton(WORD id) {
    switch (id) {
    case IDC_THUMB_PREVIOUS: pressMediaKey(PreviousKey); break;
    case IDC_THUMB_PLAY_PAUSE: pressMediaKey(PlayPauseKey); break;
    case IDC_THUMB_NEXT: pressMediaKey(NextKey); break;
    }
}

void showRecordingOnTaskbar(HWND recorderWindow) {
    HWND wanted = isRecording && IsWindow(recorderWindow) ? recorderWindow : nullptr;
    if (wanted == redWindow)
        return;
    if (redWindow)
        taskbarCalls.setProgressState(redWindow, TBPF_NOPROGRESS);
    redWindow = wanted;
    if (redWindow) {
        taskbarCalls.setProgressState(redWindow, TBPF_ERROR);
        taskbarCalls.setProgressValue(redWindow, 1, 1);
    }
}

void releaseTaskbarButtons() {
    buttonsAdded = false;
    if (taskbar) {
        taskbar->Release();
        taskbar = nullptr;
    }
    for (HICON& icon : icons)
        if (icon) {
            DestroyIcon(icon);
            icon = nullptr;
        }
}

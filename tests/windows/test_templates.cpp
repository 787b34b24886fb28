// The three dialog templates, created from the program's own resources.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include "app/ids.h"
#include "tests/windows/modal_boxes.h"

namespace {

INT_PTR CALLBACK plainDialogProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

struct Dialog {
    explicit Dialog(int id) {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        window = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), nullptr,
                                    plainDialogProc, 0);
    }
    ~Dialog() { DestroyWindow(window); }
    HWND window;
};

std::string className(HWND window) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

LONG style(HWND window) {
    return GetWindowLongA(window, GWL_STYLE);
}
LONG exStyle(HWND window) {
    return GetWindowLongA(window, GWL_EXSTYLE);
}

// The control's rectangle in the dialog's client coordinates, against the template's
// dialog units converted with the dialog's own font. The dialog manager converts position and
// size each on its own, so they are mapped as four separate values.
void expectPlaced(HWND dialog, int id, int x, int y, int cx, int cy) {
    RECT expected = {x, y, cx, cy};
    MapDialogRect(dialog, &expected);
    RECT actual;
    HWND control = GetDlgItem(dialog, id);
    GetWindowRect(control, &actual);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
    EXPECT_EQ(actual.left, expected.left) << "control " << id;
    EXPECT_EQ(actual.top, expected.top) << "control " << id;
    EXPECT_EQ(actual.right - actual.left, expected.right) << "control " << id;
    EXPECT_EQ(actual.bottom - actual.top, expected.bottom) << "control " << id;
}

struct ControlRow {
    int id;
    const char* cls;
    const char* text;
    int x, y, cx, cy;
};

void expectControls(HWND dialog, const std::vector<ControlRow>& rows) {
    for (const ControlRow& row : rows) {
        HWND control = GetDlgItem(dialog, row.id);
        ASSERT_NE(control, nullptr) << "control " << row.id;
        EXPECT_STRCASEEQ(className(control).c_str(), row.cls) << "control " << row.id;
        if (row.text) {
            EXPECT_EQ(windowText(control), row.text) << "control " << row.id;
        }
        EXPECT_TRUE(style(control) & WS_VISIBLE) << "control " << row.id;
        expectPlaced(dialog, row.id, row.x, row.y, row.cx, row.cy);
    }
}

TEST(Templates, MainWindow) {
    Dialog d(IDD_MAIN);
    ASSERT_NE(d.window, nullptr);
    EXPECT_EQ(windowText(d.window), "Quaverly - Tamsel");
    EXPECT_TRUE(style(d.window) & WS_MINIMIZEBOX);
    EXPECT_TRUE(style(d.window) & WS_SYSMENU);
    EXPECT_TRUE(exStyle(d.window) & WS_EX_ACCEPTFILES);
    RECT client;
    GetClientRect(d.window, &client);
    RECT size = {0, 0, 232, 164};
    MapDialogRect(d.window, &size);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);

    expectControls(
        d.window,
        {{1000, "Button", "Play", 13, 34, 46, 14},
         {1001, "Button", "Exit", 176, 110, 40, 14},
         {1002, "Button", "Click me to open songs OR Drag songs on this window", 13, 13, 200, 18},
         {1005, "Static", "Volume", 14, 90, 28, 8},
         {1007, "msctls_progress32", nullptr, 12, 71, 203, 13},
         {1008, "Button", "Pause", 65, 34, 45, 14},
         {1010, "Button", "Loop song", 14, 54, 49, 10},
         {1016, "Edit", "", 41, 88, 21, 12},
         {1017, "ScrollBar", nullptr, 68, 89, 148, 11},
         {1018, "Button", "About", 127, 110, 43, 14},
         {1022, "Button", "Go to tray", 70, 110, 48, 15},
         {1023, "Button", "Show playlist", 14, 111, 47, 15},
         {1028, "Button", ">>", 145, 34, 17, 14},
         {1029, "Button", "<<", 120, 34, 17, 14},
         {1031, "Static", "", 146, 58, 67, 8},
         {1036, "Button", "Launch Echotrap", 13, 131, 104, 19},
         {1037, "Button", "What is Echotrap?", 128, 132, 88, 17}});

    // The styles that behaviour depends on.
    EXPECT_TRUE(style(GetDlgItem(d.window, 1016)) & ES_NUMBER);
    EXPECT_TRUE(style(GetDlgItem(d.window, 1016)) & ES_AUTOHSCROLL);
    EXPECT_TRUE(style(GetDlgItem(d.window, 1007)) & PBS_SMOOTH);
    EXPECT_FALSE(style(GetDlgItem(d.window, 1007)) & WS_TABSTOP);
    EXPECT_EQ(style(GetDlgItem(d.window, 1010)) & BS_TYPEMASK, BS_AUTOCHECKBOX);
    for (int id : {1022, 1023}) {
        EXPECT_EQ(style(GetDlgItem(d.window, id)) & BS_TYPEMASK, BS_AUTOCHECKBOX) << id;
        EXPECT_TRUE(style(GetDlgItem(d.window, id)) & BS_PUSHLIKE) << id;
    }
    EXPECT_TRUE(style(GetDlgItem(d.window, 1022)) & BS_LEFTTEXT);
    EXPECT_EQ(style(GetDlgItem(d.window, 1017)) & SBS_VERT, 0);
    EXPECT_TRUE(style(GetDlgItem(d.window, 1031)) & SS_SUNKEN);
    EXPECT_EQ(style(GetDlgItem(d.window, 1031)) & SS_TYPEMASK, SS_LEFTNOWORDWRAP);
    LONG launchEx = exStyle(GetDlgItem(d.window, 1036));
    EXPECT_TRUE(launchEx & WS_EX_STATICEDGE);
    EXPECT_TRUE(launchEx & WS_EX_DLGMODALFRAME);
}

TEST(Templates, PlaylistWindowStartsHidden) {
    Dialog d(IDD_PLAYLIST);
    ASSERT_NE(d.window, nullptr);
    EXPECT_EQ(windowText(d.window), "Playlist");
    EXPECT_FALSE(IsWindowVisible(d.window));
    EXPECT_TRUE(style(d.window) & WS_THICKFRAME);
    EXPECT_FALSE(style(d.window) & WS_SYSMENU);
    EXPECT_TRUE(exStyle(d.window) & WS_EX_TOOLWINDOW);
    EXPECT_TRUE(exStyle(d.window) & WS_EX_ACCEPTFILES);

    expectControls(d.window, {{1025, "ListBox", nullptr, 7, 19, 161, 117},
                              {1034, "Button", "Remove", 27, 2, 50, 14},
                              {1035, "Button", "Clear playlist", 89, 2, 50, 14}});
    HWND list = GetDlgItem(d.window, 1025);
    EXPECT_TRUE(style(list) & LBS_NOTIFY);
    EXPECT_FALSE(style(list) & LBS_SORT);
    EXPECT_TRUE(style(list) & LBS_NOINTEGRALHEIGHT);
    EXPECT_TRUE(exStyle(list) & WS_EX_ACCEPTFILES);
    EXPECT_TRUE(exStyle(list) & WS_EX_LEFTSCROLLBAR);
}

TEST(Templates, RecorderWindow) {
    Dialog d(IDD_RECORDER);
    ASSERT_NE(d.window, nullptr);
    EXPECT_EQ(windowText(d.window), "Echotrap: Sondrel Recorder.");
    EXPECT_TRUE(style(d.window) & WS_SYSMENU);
    expectControls(d.window,
                   {{1003, "Edit", "", 7, 21, 172, 14},
                    {1039, "Static", "Save file as (wave). Will be saved in C:\\", 7, 9, 130, 8},
                    {1042, "Button", "Start recording", 7, 39, 53, 14},
                    {1043, "Button", "Exit", 123, 40, 50, 14}});
}

TEST(Templates, IconIsOurs) {
    HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_QUAVERLY));
    EXPECT_NE(icon, nullptr);
}

} // namespace

// The manifest asks for Common Controls 6: the buttons are its themed ones, which alone know
// their ideal size.
TEST(Templates, ControlsAreThoseOfCommonControlsSix) {
    Dialog main(IDD_MAIN);
    for (int id : {IDC_PLAY, IDC_LOOP, IDC_SHOW_PLAYLIST}) {
        SIZE ideal = {};
        EXPECT_TRUE(SendDlgItemMessageA(main.window, id, BCM_GETIDEALSIZE, 0, (LPARAM)&ideal))
            << id;
        EXPECT_GT(ideal.cx, 0) << id;
    }
}

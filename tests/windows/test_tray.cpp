// The tray icon against the real shell of the Wine desktop: going there, coming back by click and
// by menu, the menu itself, and what happens when the shell refuses or forgets the icon.
#include "app/ids.h"
#include "app/state.h"
#include "tests/windows/main_window_fixture.h"
#include "ui/tray.h"

namespace {

// Whether the shell holds our icon: only an existing icon can be modified.
bool iconShown() {
    NOTIFYICONDATAA probe = trayIconData;
    probe.uFlags = 0;
    return Shell_NotifyIconA(NIM_MODIFY, &probe) != FALSE;
}

std::string menuItem(HMENU menu, int position) {
    char text[64] = "";
    GetMenuStringA(menu, position, text, sizeof text, MF_BYPOSITION);
    return text + std::string("=") + std::to_string(GetMenuItemID(menu, position));
}

// What the test saw while the tray menu was open, and the keys it then pressed in it.
struct MenuVisit {
    int downPresses = 0;
    bool found = false;
    RECT frame = {};
    HWND foreground = nullptr;
};
MenuVisit* visit = nullptr;

void CALLBACK chooseInMenu(HWND, UINT, UINT_PTR id, DWORD) {
    HWND menu = FindWindowA("#32768", nullptr);
    if (!visit || !menu || !IsWindowVisible(menu))
        return; // not open yet
    KillTimer(nullptr, id);
    visit->found = true;
    GetWindowRect(menu, &visit->frame);
    visit->foreground = GetForegroundWindow();
    for (int i = 0; i < visit->downPresses; ++i)
        PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
}

class TrayTest : public MainWindowTest {
protected:
    void TearDown() override {
        Shell_NotifyIconA(NIM_DELETE, &trayIconData);
        MainWindowTest::TearDown();
    }

    void goToTrayByTheBox() {
        SendDlgItemMessageA(main, IDC_GO_TO_TRAY, BM_SETCHECK, BST_CHECKED, 0);
        command(IDC_GO_TO_TRAY);
    }
    void showPlaylistByTheBox() {
        SendDlgItemMessageA(main, IDC_SHOW_PLAYLIST, BM_SETCHECK, BST_CHECKED, 0);
        ShowWindow(playlistWindowHandle, SW_SHOWNORMAL);
    }
    void mouseOnIcon(UINT mouseMessage) {
        SendMessageA(main, WM_TRAYNOTIFY, TRAY_ICON_ID, mouseMessage);
    }
    bool goToTrayTicked() { return IsDlgButtonChecked(main, IDC_GO_TO_TRAY) == BST_CHECKED; }

    // Right button on the icon; picks the item `downPresses` down in the menu that opens.
    MenuVisit rightClickAndChoose(int downPresses, POINT at) {
        MenuVisit seen;
        seen.downPresses = downPresses;
        visit = &seen;
        SetCursorPos(at.x, at.y);
        SetTimer(nullptr, 0, 20, chooseInMenu);
        mouseOnIcon(WM_RBUTTONDOWN);
        visit = nullptr;
        pumpMessages(100); // the chosen command arrives posted
        return seen;
    }
};

TEST_F(TrayTest, GoingToTrayHidesBothWindowsAndShowsTheIconWithItsMenu) {
    showPlaylistByTheBox();
    goToTrayByTheBox();
    EXPECT_FALSE(IsWindowVisible(main));
    EXPECT_FALSE(IsWindowVisible(playlistWindowHandle));
    EXPECT_TRUE(iconShown());
    ASSERT_NE(trayMenu, nullptr);
    ASSERT_EQ(GetMenuItemCount(trayMenu), 2);
    EXPECT_EQ(menuItem(trayMenu, 0), "Maximize=1035");
    EXPECT_EQ(menuItem(trayMenu, 1), "Exit=1001");

    // Clearing the box (no windows to click while in the tray, but the command can come).
    SendDlgItemMessageA(main, IDC_GO_TO_TRAY, BM_SETCHECK, BST_UNCHECKED, 0);
    command(IDC_GO_TO_TRAY);
    EXPECT_FALSE(iconShown());
}

TEST_F(TrayTest, LeftButtonRestoresAtOnce) {
    goToTrayByTheBox();
    mouseOnIcon(WM_LBUTTONDOWN);
    EXPECT_TRUE(IsWindowVisible(main));
    EXPECT_FALSE(goToTrayTicked());
    EXPECT_FALSE(iconShown());

    // The release that follows, and other mouse messages, do nothing.
    mouseOnIcon(WM_LBUTTONUP);
    mouseOnIcon(WM_MOUSEMOVE);
    mouseOnIcon(WM_LBUTTONDBLCLK);
    EXPECT_TRUE(IsWindowVisible(main));
    EXPECT_FALSE(iconShown());
}

TEST_F(TrayTest, RestoreShowsThePlaylistOnlyWhenShowPlaylistIsTicked) {
    goToTrayByTheBox();
    command(IDM_TRAY_MAXIMIZE);
    EXPECT_TRUE(IsWindowVisible(main));
    EXPECT_FALSE(IsWindowVisible(playlistWindowHandle));

    showPlaylistByTheBox();
    goToTrayByTheBox();
    EXPECT_FALSE(IsWindowVisible(playlistWindowHandle));
    command(IDM_TRAY_MAXIMIZE);
    EXPECT_TRUE(IsWindowVisible(main));
    EXPECT_TRUE(IsWindowVisible(playlistWindowHandle));
    EXPECT_FALSE(goToTrayTicked());
    EXPECT_FALSE(iconShown());
}

TEST_F(TrayTest, RightButtonMenuOpensLeftOfTheCursorAndMaximizeRestores) {
    goToTrayByTheBox();
    MenuVisit seen = rightClickAndChoose(1, POINT{600, 300});
    ASSERT_TRUE(seen.found) << "no menu opened";
    EXPECT_EQ(seen.frame.right, 600);
    EXPECT_EQ(seen.frame.top, 300);
    EXPECT_EQ(seen.foreground, main) << "the menu would not close on a click elsewhere";
    EXPECT_TRUE(IsWindowVisible(main));
    EXPECT_FALSE(iconShown());
    EXPECT_FALSE(goToTrayTicked());
}

TEST_F(TrayTest, TenTripsLeaveOneMenuAndExitFromTheMenuRemovesIconAndMenu) {
    std::vector<HMENU> menus;
    for (int trip = 0; trip < 10; ++trip) {
        goToTrayByTheBox();
        menus.push_back(trayMenu);
        mouseOnIcon(WM_LBUTTONDOWN);
    }
    for (int trip = 0; trip < 9; ++trip)
        EXPECT_FALSE(IsMenu(menus[trip])) << "the menu of trip " << trip << " is left";
    EXPECT_TRUE(IsMenu(menus[9]));
    EXPECT_FALSE(iconShown());

    goToTrayByTheBox();
    HMENU last = trayMenu;
    MenuVisit seen = rightClickAndChoose(2, POINT{500, 400});
    ASSERT_TRUE(seen.found) << "no menu opened";
    EXPECT_FALSE(iconShown());
    EXPECT_FALSE(IsMenu(last));
    EXPECT_FALSE(IsWindowVisible(main));
    EXPECT_FALSE(fake::callsStartingWith({"BASS_Free"}).empty())
        << "the close sequence did not run";
}

TEST_F(TrayTest, RefusedIconBringsTheWindowsBack) {
    showPlaylistByTheBox();
    // An icon of the same window and id already there: the shell refuses the second.
    ASSERT_TRUE(Shell_NotifyIconA(NIM_ADD, &trayIconData));
    goToTrayByTheBox();
    EXPECT_TRUE(IsWindowVisible(main));
    EXPECT_TRUE(IsWindowVisible(playlistWindowHandle));
    EXPECT_FALSE(goToTrayTicked());
}

TEST_F(TrayTest, RestartedShellGetsTheIconBackWhileInTheTray) {
    const UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    EXPECT_FALSE(onTrayMessage(WM_NULL));

    // Not in the tray: nothing to add.
    EXPECT_TRUE(onTrayMessage(taskbarCreated));
    EXPECT_FALSE(iconShown());

    goToTrayByTheBox();
    Shell_NotifyIconA(NIM_DELETE, &trayIconData); // what a shell restart does to it
    EXPECT_TRUE(onTrayMessage(taskbarCreated));
    EXPECT_TRUE(iconShown());
    EXPECT_FALSE(IsWindowVisible(main));
}

// Elevated, the window hears of a restarted shell only if it lets the message in.
TEST_F(TrayTest, TaskbarCreatedIsLetInAndBringsTheIconBack) {
    static std::vector<std::vector<UINT_PTR>> allowed;
    allowed.clear();
    auto real = changeMessageFilter;
    changeMessageFilter = [](HWND w, UINT message, DWORD action, PCHANGEFILTERSTRUCT status) {
        allowed.push_back({(UINT_PTR)w, message, action, status != nullptr});
        return TRUE;
    };
    recreateMain();
    changeMessageFilter = real;
    const UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    EXPECT_EQ(allowed, (std::vector<std::vector<UINT_PTR>>{
                           {(UINT_PTR)main, taskbarCreated, MSGFLT_ALLOW, false}}));

    goToTrayByTheBox();
    Shell_NotifyIconA(NIM_DELETE, &trayIconData); // what a shell restart does to it
    SendMessageA(main, taskbarCreated, 0, 0);
    EXPECT_TRUE(iconShown());
}

} // namespace

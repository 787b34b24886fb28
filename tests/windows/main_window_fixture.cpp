#include "tests/windows/main_window_fixture.h"

#include <commctrl.h>

#include "app/ids.h"
#include "app/startup.h"
#include "app/state.h"
#include "ui/main_window.h"

void MainWindowTest::SetUp() {
    AppTest::SetUp();
    initialiseSharedRecords(GetModuleHandleA(nullptr));
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    main = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr,
                              mainWindowProc, 0);
    ASSERT_NE(main, nullptr);
    ShowWindow(main, SW_SHOWNORMAL);
    fake::clearCalls();
}

void MainWindowTest::TearDown() {
    if (IsWindow(main))
        DestroyWindow(main);
    pumpMessages(0);
    AppTest::TearDown();
}

void MainWindowTest::recreateMain() {
    DestroyWindow(main);
    main = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr,
                              mainWindowProc, 0);
    ASSERT_NE(main, nullptr);
}

LRESULT MainWindowTest::command(int id, LPARAM lParam) {
    return SendMessageA(main, WM_COMMAND, MAKEWPARAM(id, 0), lParam);
}

std::string MainWindowTest::controlText(int id) {
    return windowText(GetDlgItem(main, id));
}

// A fresh main window (with its playlist window) for each test, created modeless so the test
// can send it messages directly; the scripted libraries stand behind it.
#pragma once

#include "tests/windows/app_fixture.h"

class MainWindowTest : public AppTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Sends WM_COMMAND with the id (notification 0) to the main window.
    LRESULT command(int id, LPARAM lParam = 0);
    std::string controlText(int id);
    // Destroys the main window and creates it anew: to watch its initialisation.
    void recreateMain();

    HWND main = nullptr;
};

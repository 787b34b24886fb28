// The keyboard's media keys: as WM_APPCOMMAND to either window and as system-wide hot keys, each
// turns into the command of the button it stands for; the hot keys live as long as the window.
#include "app/ids.h"
#include "app/state.h"
#include "tests/windows/main_window_fixture.h"
#include "ui/main_window.h"

namespace {

// Takes the commands that reach the main window, so the table can check them in any state.
class CommandsTaken {
public:
    explicit CommandsTaken(HWND main) : window(main) {
        ids.clear();
        old = (WNDPROC)SetWindowLongPtrA(main, GWLP_WNDPROC, (LONG_PTR)proc);
    }
    ~CommandsTaken() { SetWindowLongPtrA(window, GWLP_WNDPROC, (LONG_PTR)old); }
    static inline std::vector<int> ids;

private:
    static LRESULT CALLBACK proc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_COMMAND) {
            ids.push_back(LOWORD(wParam));
            return 0;
        }
        return CallWindowProcA(old, w, message, wParam, lParam);
    }
    static inline WNDPROC old = nullptr;
    HWND window;
};

enum State { Idle, Playing, Paused };

bool hotKeyFree(UINT virtualKey) {
    if (!RegisterHotKey(nullptr, 0x7000, MOD_NOREPEAT, virtualKey))
        return false;
    UnregisterHotKey(nullptr, 0x7000);
    return true;
}

using MediaKeys = MainWindowTest;

TEST_F(MediaKeys, EachKeyActsAsItsButtonFromEitherWindowAndAsAHotKey) {
    const struct {
        int appCommand;
        int hotKey; // 0: a key with no hot key of its own
        State state;
        std::vector<int> commands;
    } rows[] = {
        {APPCOMMAND_MEDIA_PLAY_PAUSE, HOTKEY_PLAY_PAUSE, Idle, {IDC_PLAY}},
        {APPCOMMAND_MEDIA_PLAY_PAUSE, HOTKEY_PLAY_PAUSE, Playing, {IDC_PAUSE}},
        {APPCOMMAND_MEDIA_PLAY_PAUSE, HOTKEY_PLAY_PAUSE, Paused, {IDC_PAUSE}},
        {APPCOMMAND_MEDIA_STOP, HOTKEY_STOP, Idle, {}},
        {APPCOMMAND_MEDIA_STOP, HOTKEY_STOP, Paused, {IDC_PLAY}},
        {APPCOMMAND_MEDIA_NEXTTRACK, HOTKEY_NEXT, Playing, {IDC_NEXT}},
        {APPCOMMAND_MEDIA_PREVIOUSTRACK, HOTKEY_PREVIOUS, Idle, {IDC_PREVIOUS}},
        {APPCOMMAND_MEDIA_PLAY, 0, Idle, {IDC_PLAY}},
        {APPCOMMAND_MEDIA_PLAY, 0, Playing, {}},
        {APPCOMMAND_MEDIA_PLAY, 0, Paused, {IDC_PAUSE}},
        {APPCOMMAND_MEDIA_PAUSE, 0, Playing, {IDC_PAUSE}},
        {APPCOMMAND_MEDIA_PAUSE, 0, Paused, {}},
    };
    SendMessageA(playlistBox, LB_ADDSTRING, 0, (LPARAM) "C:\\a.ogg");
    SendMessageA(playlistBox, LB_SETCURSEL, 0, 0);
    CommandsTaken taken(main);
    for (const auto& row : rows) {
        isPlaying = row.state != Idle;
        isPaused = row.state == Paused;
        std::vector<std::pair<HWND, UINT>> roads = {{main, WM_APPCOMMAND},
                                                    {playlistWindowHandle, WM_APPCOMMAND}};
        if (row.hotKey)
            roads.push_back({main, WM_HOTKEY});
        for (auto [window, message] : roads) {
            CommandsTaken::ids.clear();
            WPARAM wParam = message == WM_HOTKEY ? row.hotKey : (WPARAM)window;
            LPARAM lParam =
                message == WM_HOTKEY ? 0 : MAKELPARAM(0, row.appCommand | FAPPCOMMAND_KEY);
            PostMessageA(window, message, wParam, lParam);
            pumpMessages(20);
            EXPECT_EQ(CommandsTaken::ids, row.commands)
                << "command " << row.appCommand << ", state " << row.state << ", "
                << (message == WM_HOTKEY ? "hot key"
                    : window == main     ? "main"
                                         : "playlist");
        }
    }
    isPlaying = isPaused = 0;
    // Other application commands are left to the system.
    EXPECT_EQ(SendMessageA(main, WM_APPCOMMAND, (WPARAM)main,
                           MAKELPARAM(0, APPCOMMAND_VOLUME_UP | FAPPCOMMAND_KEY)),
              0);
}

// The keys are system-wide: with nothing to play they must not pop a box over another program.
TEST_F(MediaKeys, WithNothingToPlayNoKeyOpensAWindow) {
    const struct {
        std::vector<const char*> entries;
        int trackCount;
    } lists[] = {
        {{}, 0}, {{}, 3} /* cleared */, {{"C:\\a.ogg", "C:\\b.ogg"}, 2} /* none selected */};
    for (const auto& list : lists) {
        SendMessageA(playlistBox, LB_RESETCONTENT, 0, 0);
        for (const char* entry : list.entries)
            SendMessageA(playlistBox, LB_ADDSTRING, 0, (LPARAM)entry);
        trackCount = list.trackCount;
        currentIndex = -1;
        for (int command : {APPCOMMAND_MEDIA_PLAY_PAUSE, APPCOMMAND_MEDIA_PLAY,
                            APPCOMMAND_MEDIA_NEXTTRACK, APPCOMMAND_MEDIA_PREVIOUSTRACK})
            PostMessageA(main, WM_APPCOMMAND, (WPARAM)main,
                         MAKELPARAM(0, command | FAPPCOMMAND_KEY));
        for (int hotKey : {HOTKEY_PLAY_PAUSE, HOTKEY_NEXT, HOTKEY_PREVIOUS})
            PostMessageA(main, WM_HOTKEY, hotKey, 0);
        pumpMessages(300);
        EXPECT_TRUE(boxes.boxes().empty()) << list.trackCount << ": " << boxes.boxes()[0].text;
        EXPECT_TRUE(fake::calls().empty()) << list.trackCount << ": " << fake::calls()[0];
    }
}

// A key another program holds stays with it, quietly; the close sequence gives ours back.
TEST_F(MediaKeys, HotKeysAreTakenWhereFreeAndGivenBackAtClose) {
    DestroyWindow(main);
    ASSERT_TRUE(hotKeyFree(VK_MEDIA_NEXT_TRACK));
    ASSERT_TRUE(RegisterHotKey(nullptr, 0x7001, MOD_NOREPEAT, VK_MEDIA_STOP));
    main = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr,
                              mainWindowProc, 0);
    ASSERT_NE(main, nullptr);
    pumpMessages(0); // they are taken once the window shows
    EXPECT_TRUE(boxes.boxes().empty());
    const UINT ours[] = {VK_MEDIA_PLAY_PAUSE, VK_MEDIA_NEXT_TRACK, VK_MEDIA_PREV_TRACK};
    for (UINT key : ours)
        EXPECT_FALSE(hotKeyFree(key)) << "key " << key << " is ours";
    UnregisterHotKey(nullptr, 0x7001);

    SendMessageA(main, WM_CLOSE, 0, 0);
    for (UINT key : ours)
        EXPECT_TRUE(hotKeyFree(key)) << "key " << key << " given back";
}

} // namespace

// Echotrap with the scripted recording library: initialisation, names, recordings into C:\,
// the ways a recording ends, and the teardown.
#include <errno.h>
#include <string.h>

#include <set>

#include "app/ids.h"
#include "app/state.h"
#include "recorder/recorder_window.h"
#include "tests/support/bytes.h"
#include "tests/windows/app_fixture.h"

namespace {

const DWORD micInput = 0x01000000;
const DWORD waveInput = 0x08000000;

using testsupport::le32;
using testsupport::readFile;

bool exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Runs one procedure of the recording thread's: a block of `length` bytes.
BOOL deliverBlock(DWORD length) {
    std::string samples(length, '\x11');
    return fake::recordProc()(fake::script().recordStart, samples.data(), length, 0);
}

// Lets the progress timer run until `done` holds, for at most three seconds.
template <typename Condition> void pumpUntil(Condition done) {
    for (int waited = 0; waited < 3000 && !done(); waited += 50)
        pumpMessages(50);
}

class RecorderTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        fake::script().inputs = {{micInput, "Microphone"}, {waveInput, "Monitor of Null"}};
        // The main window the recorder shows again as it ends; hidden, as the launch leaves it.
        mainWindowHandle = CreateWindowExA(0, "STATIC", "main", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                           nullptr, nullptr, nullptr, nullptr);
    }
    void TearDown() override {
        if (IsWindow(recorder))
            DestroyWindow(recorder);
        DestroyWindow(mainWindowHandle);
        pumpMessages(0);
        captureDataLimit = CAPTURE_MAX_DATA_BYTES;
        for (const std::string& path : made) {
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        }
        for (const std::string& folder : folders)
            RemoveDirectoryA(folder.c_str());
        AppTest::TearDown();
    }

    // The recorder as a modeless dialog, so the test can send it messages one by one.
    void open() {
        recorder = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_RECORDER),
                                      nullptr, recorderWindowProc, 0);
        ASSERT_NE(recorder, nullptr);
        ShowWindow(recorder, SW_SHOW);
    }

    // The path the recorder makes of a name; the file is deleted after the test.
    std::string pathOf(const std::string& name) {
        std::string path = "C:\\" + name + ".wav";
        made.insert(path);
        return path;
    }
    std::string folder(const std::string& name) {
        std::string path = "C:\\" + name;
        CreateDirectoryA(path.c_str(), nullptr);
        folders.insert(path);
        return path;
    }

    void typeName(const std::string& name) {
        SetDlgItemTextA(recorder, IDC_CAPTURE_NAME, name.c_str());
    }
    void press(int id) { SendMessageA(recorder, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
    std::string text(int id) { return windowText(GetDlgItem(recorder, id)); }

    std::vector<std::string> recordCalls() {
        return fake::callsStartingWith({"BASS_Record", "BASS_ChannelStop"});
    }

    // Checks that the file is a finished WAV holding `dataBytes` of samples and nothing else.
    void expectFinished(const std::string& path, uint32_t dataBytes) {
        testsupport::Bytes file = readFile(path);
        ASSERT_EQ(file.size(), 44u + dataBytes) << path;
        EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
        EXPECT_EQ(le32(file, 4), dataBytes + 36) << path;
        EXPECT_EQ(le32(file, 40), dataBytes) << path;
    }

    HWND recorder = nullptr;
    std::set<std::string> made;
    std::set<std::string> folders;
};

TEST_F(RecorderTest, OpeningChoosesTheFirstWaveInputAndSwitchesItOnAtHalfLevel) {
    fake::script().inputs = {{micInput, "Microphone"},
                             {waveInput | 0x10000, "Monitor of Null"},
                             {waveInput, "Stereo Mix"}};
    open();
    EXPECT_EQ(windowText(recorder), "Monitor of Null");
    EXPECT_EQ(fake::calls(),
              (std::vector<std::string>{"BASS_RecordInit(-1)", "BASS_RecordGetInput(0)",
                                        "BASS_RecordGetInput(1)", "BASS_RecordGetInputName(1)",
                                        "BASS_RecordSetInput(1,393266)"}));
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_EQ(text(IDC_RECORD), "Start recording");
    EXPECT_EQ(text(IDC_RECORD_PROGRESS), "");
}

struct InitFailure {
    const char* name;
    void (*script)();
    const char* box;
    const char* caption;
    std::vector<std::string> calls;
};

class RecorderInitFailureTest : public RecorderTest,
                                public ::testing::WithParamInterface<InitFailure> {};

TEST_P(RecorderInitFailureTest, IsReportedAndTheRecorderStaysOpen) {
    GetParam().script();
    open();
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].caption, "ERROR");
    EXPECT_EQ(boxes.boxes()[0].text, GetParam().box);
    EXPECT_EQ(boxes.boxes()[0].owner, recorder);
    EXPECT_EQ(windowText(recorder), GetParam().caption);
    EXPECT_EQ(fake::calls(), GetParam().calls);
    EXPECT_TRUE(IsWindowVisible(recorder));
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, RecorderInitFailureTest,
    ::testing::Values(
        InitFailure{"NoDevice",
                    [] { fake::script().recordInit = FALSE; },
                    "Can't initialize BASS Recorder",
                    "Echotrap: Sondrel Recorder.",
                    {"BASS_RecordInit(-1)"}},
        InitFailure{"NoWaveInput",
                    [] {
                        fake::script().inputs = {{micInput, "Microphone"}};
                    },
                    "No stereomix recorder found",
                    "Echotrap: Sondrel Recorder.",
                    {"BASS_RecordInit(-1)", "BASS_RecordGetInput(0)", "BASS_RecordGetInput(1)"}},
        InitFailure{"InputRefused",
                    [] { fake::script().recordSetInput = FALSE; },
                    "Can't start stereomix input",
                    "Monitor of Null",
                    {"BASS_RecordInit(-1)", "BASS_RecordGetInput(0)", "BASS_RecordGetInput(1)",
                     "BASS_RecordGetInputName(1)", "BASS_RecordSetInput(1,393266)"}}),
    [](const ::testing::TestParamInfo<InitFailure>& info) { return info.param.name; });

TEST_F(RecorderTest, NameOfTwoIsRefusedAndThreeCharactersAreEnough) {
    open();
    typeName("q6");
    press(IDC_RECORD);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Please enter file name");
    EXPECT_EQ(boxes.boxes()[0].caption, "ERROR");
    EXPECT_EQ(text(IDC_RECORD), "Start recording");
    EXPECT_FALSE(isRecording);
    EXPECT_FALSE(exists(pathOf("q6")));

    typeName("q6a");
    press(IDC_RECORD);
    EXPECT_TRUE(isRecording);
    EXPECT_EQ(text(IDC_RECORD), "Stop recording");
    EXPECT_TRUE(exists(pathOf("q6a")));
    EXPECT_EQ(fake::callsStartingWith({"BASS_RecordStart"}),
              std::vector<std::string>{"BASS_RecordStart(44100,2,0,0)"});
    press(IDC_RECORD);
    expectFinished(pathOf("q6a"), 0);

    // Blanks count.
    typeName(" 6 ");
    press(IDC_RECORD);
    press(IDC_RECORD);
    expectFinished(pathOf(" 6 "), 0);
    EXPECT_EQ(boxes.boxes().size(), 1u);
}

TEST_F(RecorderTest, NamesThatWouldNotMakeTheirFileAreRefusedBeforeAnyFileIsMade) {
    open();
    const char* const tooLong = "The name is too long";
    const char* const badCharacter = "A file name may not hold any of  : * ? \" < > |";
    const char* const device = "CON, PRN, AUX, NUL, COM1 to COM9 and LPT1 to LPT9 are names";
    std::string cyrillic; // 256 bytes of UTF-8, then a character of 4 that would not fit
    for (int i = 0; i < 128; ++i)
        cyrillic += "\xd0\xb6";
    const std::pair<std::string, const char*> refused[] = {{std::string(257, 'q'), tooLong},
                                                           {cyrillic + "\xf0\x9f\x98\x80", tooLong},
                                                           {"q6:hidden", badCharacter},
                                                           {"q6*", badCharacter},
                                                           {"q6?", badCharacter},
                                                           {"q6\"x", badCharacter},
                                                           {"q6<x", badCharacter},
                                                           {"q6>x", badCharacter},
                                                           {"q6|x", badCharacter},
                                                           {"q6\tx", badCharacter},
                                                           {"nul", device},
                                                           {"Con", device},
                                                           {"com1.take", device},
                                                           {"q6\\lpt9", device}};
    for (const auto& [name, reason] : refused) {
        boxes.clear();
        typeName(name);
        press(IDC_RECORD);
        ASSERT_EQ(boxes.boxes().size(), 1u) << name;
        EXPECT_EQ(boxes.boxes()[0].caption, "ERROR") << name;
        EXPECT_EQ(boxes.boxes()[0].text.rfind(reason, 0), 0u) << name;
        EXPECT_FALSE(isRecording) << name;
        EXPECT_EQ(text(IDC_RECORD), "Start recording") << name;
    }
    // Where the system keeps an ANSI code page, a name it cannot hold is refused, never recorded
    // under the nearest letters it has.
    textCodePage = 1252;
    boxes.clear();
    SetDlgItemTextW(recorder, IDC_CAPTURE_NAME, L"\u0142\u00f3d\u017a");
    press(IDC_RECORD);
    textCodePage = 0;
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text.rfind("The name holds characters that this system's code", 0),
              0u);
    EXPECT_FALSE(exists("C:\\lodz.wav"));
    EXPECT_FALSE(exists("C:\\q6"));
    EXPECT_TRUE(fake::callsStartingWith({"BASS_RecordStart"}).empty());
}

TEST_F(RecorderTest, BackslashLeadsIntoAFolderThatMustExist) {
    open();
    typeName("q6-missing\\take1");
    press(IDC_RECORD);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text,
              "Can't create C:\\q6-missing\\take1.wav: the folder does not exist.");
    EXPECT_EQ(text(IDC_RECORD), "Start recording");
    EXPECT_FALSE(isRecording);
    EXPECT_TRUE(fake::callsStartingWith({"BASS_RecordStart"}).empty());

    folder("q6-folder");
    typeName("q6-folder\\take1");
    press(IDC_RECORD);
    EXPECT_TRUE(isRecording);
    press(IDC_RECORD);
    expectFinished(pathOf("q6-folder\\take1"), 0);
}

TEST_F(RecorderTest, FileThatMayNotBeWrittenIsNamedWithTheReasonAndAWayOut) {
    // Held open by another program: refused as access denied, as C:\ itself is to a standard
    // user (which a test running as root cannot be).
    std::string path = pathOf("q6-in-use");
    HANDLE holder = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    open();
    typeName("q6-in-use");
    press(IDC_RECORD);
    CloseHandle(holder);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    const std::string& said = boxes.boxes()[0].text;
    EXPECT_EQ(said.rfind("Can't create C:\\q6-in-use.wav: access is denied. You may not write to "
                         "C:\\ itself",
                         0),
              0u)
        << said;
    EXPECT_NE(said.find("inside a folder of your own, such as "), std::string::npos) << said;
    EXPECT_NE(said.find("\\Music\\take1."), std::string::npos) << said;
    EXPECT_FALSE(isRecording);
    EXPECT_EQ(text(IDC_RECORD), "Start recording");
    EXPECT_TRUE(fake::callsStartingWith({"BASS_RecordStart"}).empty());
}

TEST_F(RecorderTest, StartStopStartMakesTwoFilesAndShowsProgressInItsOwnLine) {
    open();
    typeName("q6-one");
    press(IDC_RECORD);
    EXPECT_EQ(text(IDC_RECORD_PROGRESS), "Recording....");
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(deliverBlock(17640));
    pumpUntil([&] { return text(IDC_RECORD_PROGRESS) != "Recording...."; });
    EXPECT_EQ(text(IDC_RECORD_PROGRESS), "Recording.... 2");
    EXPECT_EQ(windowText(recorder), "Monitor of Null");
    press(IDC_RECORD);
    EXPECT_EQ(text(IDC_RECORD), "Start recording");
    EXPECT_FALSE(isRecording);
    EXPECT_EQ(text(IDC_RECORD_PROGRESS), "0.3 s saved in C:\\q6-one.wav");
    expectFinished(pathOf("q6-one"), 3 * 17640);

    typeName("q6-two");
    press(IDC_RECORD);
    ASSERT_TRUE(deliverBlock(400));
    pumpUntil([&] { return text(IDC_RECORD_PROGRESS) != "Recording...."; });
    EXPECT_EQ(text(IDC_RECORD_PROGRESS), "Recording.... 0");
    press(IDC_RECORD);
    expectFinished(pathOf("q6-two"), 400);
    expectFinished(pathOf("q6-one"), 3 * 17640);

    EXPECT_EQ(recordCalls(),
              (std::vector<std::string>{
                  "BASS_RecordInit(-1)", "BASS_RecordGetInput(0)", "BASS_RecordGetInput(1)",
                  "BASS_RecordGetInputName(1)", "BASS_RecordSetInput(1,393266)",
                  "BASS_RecordStart(44100,2,0,0)", "BASS_ChannelStop(28673)",
                  "BASS_RecordStart(44100,2,0,0)", "BASS_ChannelStop(28673)"}));
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(RecorderTest, FailedRecordStartLeavesNoFileAndTheRecorderIdle) {
    fake::script().recordStart = 0;
    open();
    typeName("q6-nostart");
    press(IDC_RECORD);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Can't start recording");
    EXPECT_EQ(boxes.boxes()[0].caption, "ERROR");
    EXPECT_FALSE(isRecording);
    EXPECT_EQ(captureFile, nullptr);
    EXPECT_FALSE(exists(pathOf("q6-nostart")));
    EXPECT_EQ(text(IDC_RECORD), "Start recording");

    // The next press is a start again, not a stop.
    fake::script().recordStart = 0x7001;
    press(IDC_RECORD);
    EXPECT_TRUE(isRecording);
    EXPECT_TRUE(fake::callsStartingWith({"BASS_ChannelStop"}).empty());
    press(IDC_RECORD);
    expectFinished(pathOf("q6-nostart"), 0);
}

TEST_F(RecorderTest, ExitWhileRecordingStopsThenFinishesThenFreesThenShowsTheMainWindow) {
    open();
    typeName("q6-exit");
    press(IDC_RECORD);
    deliverBlock(4000);
    std::string path = pathOf("q6-exit");
    std::vector<std::string> seen;
    fake::onCall([&](const std::string& call) {
        if (call.rfind("BASS_ChannelStop", 0) == 0)
            seen.push_back(captureFile ? "stopped, file open" : "stopped, file closed");
        if (call == "BASS_RecordFree()") {
            seen.push_back(std::string("freed, file ") + (captureFile ? "open" : "closed") +
                           ", main " + (IsWindowVisible(mainWindowHandle) ? "shown" : "hidden"));
            expectFinished(path, 4000);
        }
    });
    press(IDC_RECORDER_EXIT);
    fake::onCall(nullptr);
    EXPECT_EQ(seen,
              (std::vector<std::string>{"stopped, file open", "freed, file closed, main hidden"}));
    EXPECT_TRUE(IsWindowVisible(mainWindowHandle));
    EXPECT_FALSE(isRecording);

    // The dialog's destruction runs the teardown again: only a harmless second free.
    fake::clearCalls();
    DestroyWindow(recorder);
    EXPECT_EQ(fake::calls(), std::vector<std::string>{"BASS_RecordFree()"});
    EXPECT_TRUE(IsWindowVisible(mainWindowHandle));
    expectFinished(path, 4000);
}

TEST_F(RecorderTest, FullDiskStopsTheRecordingAndSaysWhereTheFileIs) {
    open();
    typeName("q6-full");
    press(IDC_RECORD);
    ASSERT_TRUE(deliverBlock(17640));
    // As the recording thread leaves it when a write fails on a full disk.
    captureError = ENOSPC;
    captureEnd = CaptureWriteFailed;
    EXPECT_FALSE(deliverBlock(17640));
    pumpUntil([] { return !isRecording; });
    EXPECT_FALSE(isRecording);
    EXPECT_EQ(text(IDC_RECORD), "Start recording");
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].caption, "ERROR");
    EXPECT_EQ(boxes.boxes()[0].text, "The disk is full, so the recording was stopped.\n"
                                     "Everything recorded until then is saved in C:\\q6-full.wav.");
    EXPECT_EQ(fake::callsStartingWith({"BASS_ChannelStop"}).size(), 1u);
    expectFinished(pathOf("q6-full"), 17640);
}

TEST_F(RecorderTest, SizeLimitStopsTheRecordingWithTheFileIntact) {
    captureDataLimit = 20000;
    open();
    typeName("q6-limit");
    press(IDC_RECORD);
    EXPECT_TRUE(deliverBlock(17640));
    EXPECT_FALSE(deliverBlock(17640));
    // Stop comes before the timer: the user still learns why it had ended.
    press(IDC_RECORD);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].caption, "INFORMATION");
    EXPECT_NE(boxes.boxes()[0].text.find("4 GiB"), std::string::npos);
    EXPECT_NE(boxes.boxes()[0].text.find("C:\\q6-limit.wav"), std::string::npos);
    expectFinished(pathOf("q6-limit"), 20000);
    EXPECT_FALSE(isRecording);
}

TEST_F(RecorderTest, OnlyASessionThatEndsFinishesTheFile) {
    open();
    typeName("q6-logoff");
    press(IDC_RECORD);
    deliverBlock(4000);
    // Asked, and then told that another program cancelled the logoff: the recording goes on.
    SendMessageA(recorder, WM_QUERYENDSESSION, 0, 0);
    SendMessageA(recorder, WM_ENDSESSION, FALSE, 0);
    EXPECT_TRUE(isRecording);
    EXPECT_TRUE(fake::callsStartingWith({"BASS_ChannelStop"}).empty());
    deliverBlock(4000);
    SendMessageA(recorder, WM_ENDSESSION, TRUE, 0);
    EXPECT_FALSE(isRecording);
    expectFinished(pathOf("q6-logoff"), 8000);
    EXPECT_EQ(fake::callsStartingWith({"BASS_ChannelStop"}).size(), 1u);
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(RecorderTest, SessionEndingWhileStopWaitsFinishesTheFileOnce) {
    open();
    typeName("q6-reentry");
    press(IDC_RECORD);
    deliverBlock(4000);
    // Stop waits for the recording thread and handles sent messages meanwhile.
    bool sent = false;
    fake::onCall([&](const std::string& call) {
        if (call.rfind("BASS_ChannelStop", 0) == 0 && !sent) {
            sent = true;
            SendMessageA(recorder, WM_ENDSESSION, TRUE, 0);
            EXPECT_EQ(captureFile, nullptr) << "the inner stop finished the file";
        }
    });
    press(IDC_RECORD);
    EXPECT_TRUE(sent);
    EXPECT_FALSE(isRecording);
    EXPECT_EQ(text(IDC_RECORD), "Start recording");
    expectFinished(pathOf("q6-reentry"), 4000);
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(RecorderTest, SoundTheLibraryCouldNotWriteIsToldAtStop) {
    const struct {
        QWORD replaced, unwritten;
        const char* progress;
        const char* told; // "": no box
    } rows[] = {
        {0, 0, "0.1 s saved in C:\\q20-loss.wav", ""},
        {176400 * 3 + 1, 740880, "0.1 s saved (7.3 s lost) in C:\\q20-loss.wav",
         "The disk did not keep up with the recording, so C:\\q20-loss.wav lacks some of it.\n"
         "The last 4.2 s could not be written.\n3.1 s of sound were lost while the disk fell "
         "behind, and are silence in the file.\n"},
    };
    open();
    for (const auto& row : rows) {
        boxes.clear();
        fake::script().recordReplaced = row.replaced;
        fake::script().recordUnwritten = row.unwritten;
        typeName("q20-loss");
        press(IDC_RECORD);
        ASSERT_TRUE(deliverBlock(17640));
        press(IDC_RECORD);
        expectFinished(pathOf("q20-loss"), 17640);
        EXPECT_EQ(text(IDC_RECORD_PROGRESS), row.progress);
        EXPECT_EQ(boxes.boxes().empty() ? ""
                                        : boxes.boxes()[0].caption + ": " + boxes.boxes()[0].text,
                  *row.told ? std::string("ERROR: ") + row.told : "");
    }
}

// A write that only takes long: the stop leaves the file to it and says so, the next start waits
// for it with words of its own, and the write then completes the file.
TEST_F(RecorderTest, SlowLastWriteIsToldAsStillBeingWrittenAndCompletesTheFile) {
    open();
    typeName("q20-slow");
    press(IDC_RECORD);
    ASSERT_TRUE(deliverBlock(4000));
    // The stream's lock, held here, keeps the next write waiting: the C runtime's own, by name
    // (the import library's stand-in knows only Windows' layout of a stream).
    using StreamLock = void(__cdecl*)(FILE*);
    HMODULE runtime = GetModuleHandleA("msvcrt.dll");
    auto lockStream = (StreamLock)(void*)GetProcAddress(runtime, "_lock_file");
    auto unlockStream = (StreamLock)(void*)GetProcAddress(runtime, "_unlock_file");
    ASSERT_TRUE(lockStream && unlockStream);
    FILE* file = captureFile;
    lockStream(file);
    HANDLE writer = CreateThread(
        nullptr, 0, [](void*) -> DWORD { return deliverBlock(8000); }, nullptr, 0, nullptr);
    Sleep(200);
    press(IDC_RECORD);
    typeName("q20-next");
    press(IDC_RECORD);
    EXPECT_FALSE(isRecording);
    unlockStream(file);
    EXPECT_EQ(WaitForSingleObject(writer, 5000), WAIT_OBJECT_0);
    CloseHandle(writer);
    expectFinished(pathOf("q20-slow"), 12000);
    ASSERT_EQ(boxes.boxes().size(), 2u);
    EXPECT_EQ(boxes.boxes()[0].caption + ": " + boxes.boxes()[0].text,
              "INFORMATION: The recording was stopped. The drive is slow to take the last of it, "
              "so C:\\q20-slow.wav is still being written; it will be completed as soon as the "
              "drive is done.\n");
    EXPECT_EQ(boxes.boxes()[1].text, "The last recording is still being written to "
                                     "C:\\q20-slow.wav. Please start again when it is complete.");
    press(IDC_RECORD); // now it starts
    EXPECT_TRUE(isRecording);
    press(IDC_RECORD);
    expectFinished(pathOf("q20-next"), 0);
}

// The recorder as the main window runs it: modal, with no owner. `steps` run inside its loop.
class ModalRecorderTest : public RecorderTest {
protected:
    INT_PTR run(std::function<void(HWND)> steps) {
        pending = std::move(steps);
        boxes.onDialog([this](HWND window) {
            if (!recorder && GetDlgItem(window, IDC_RECORD)) {
                recorder = window;
                current = this;
                SetTimer(nullptr, 0, 10, runSteps);
            }
            return true;
        });
        INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_RECORDER),
                                         nullptr, recorderWindowProc, 0);
        current = nullptr;
        return result;
    }

private:
    static void CALLBACK runSteps(HWND, UINT, UINT_PTR id, DWORD) {
        KillTimer(nullptr, id);
        if (current)
            current->pending(current->recorder);
    }

    static ModalRecorderTest* current;
    std::function<void(HWND)> pending;
};
ModalRecorderTest* ModalRecorderTest::current = nullptr;

TEST_F(ModalRecorderTest, ExitEndsTheDialog) {
    INT_PTR result =
        run([](HWND window) { SendMessageA(window, WM_COMMAND, IDC_RECORDER_EXIT, 0); });
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(IsWindow(recorder));
    EXPECT_TRUE(IsWindowVisible(mainWindowHandle));
    EXPECT_EQ(fake::callsStartingWith({"BASS_RecordFree"}).size(), 2u); // Exit, then WM_DESTROY
}

TEST_F(ModalRecorderTest, EscapeActsAsExitAndFinishesTheRecording) {
    std::string path = pathOf("q6-escape");
    run([](HWND window) {
        SetDlgItemTextA(window, IDC_CAPTURE_NAME, "q6-escape");
        SendMessageA(window, WM_COMMAND, IDC_RECORD, 0);
        deliverBlock(400);
        HWND name = GetDlgItem(window, IDC_CAPTURE_NAME);
        SetFocus(name);
        PostMessageA(name, WM_KEYDOWN, VK_ESCAPE, 0);
    });
    EXPECT_FALSE(IsWindow(recorder));
    EXPECT_TRUE(IsWindowVisible(mainWindowHandle));
    EXPECT_FALSE(isRecording);
    expectFinished(path, 400);
}

TEST_F(ModalRecorderTest, CloseBoxActsAsExit) {
    run([](HWND window) { PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0); });
    EXPECT_FALSE(IsWindow(recorder));
    EXPECT_TRUE(IsWindowVisible(mainWindowHandle));
    EXPECT_FALSE(fake::callsStartingWith({"BASS_RecordFree"}).empty());
}

} // namespace

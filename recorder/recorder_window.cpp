#include "recorder/recorder_window.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app/dpi.h"
#include "app/ids.h"
#include "app/state.h"
#include "app/texts.h"
#include "playlist/playlist_entries.h"
#include "ui/taskbar_buttons.h"

namespace {

const int defaultRecordDevice = -1;
const DWORD inputOnAtHalfLevel = BASS_INPUT_ON | BASS_INPUT_LEVEL | 50; // 0x60032
const DWORD recordRate = 44100;
const DWORD recordChannels = 2;

const char* const pathPrefix = "C:\\";
const int prefixLength = 3;
const char* const pathSuffix = ".wav";
const int nameRoom = 259; // the read of the name box: at most 258 characters
const int shortestName = 3;
const int longestName = CAPTURE_PATH_SIZE - prefixLength - 4 - 1; // 256: prefix, ".wav", end

const char* const startText = "Start recording";
const char* const stopText = "Stop recording";

// The progress line under the buttons, in dialog units; the template itself stays as it is.
const int progressX = 7, progressY = 56, progressWidth = 172, progressHeight = 8;
const UINT_PTR progressTimerId = 1;
const UINT progressIntervalMs = 250;

void showError(HWND window, const char* text) {
    MessageBoxA(window, text, CAPTION_ERROR, MB_OK);
}

void setProgress(HWND window, const char* text) {
    SetDlgItemTextA(window, IDC_RECORD_PROGRESS, text);
}

void createProgressLine(HWND window) {
    RECT place = {progressX, progressY, progressWidth, progressHeight};
    MapDialogRect(window, &place);
    HWND line = CreateWindowExA(
        0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_PATHELLIPSIS, place.left,
        place.top, place.right, place.bottom, window, (HMENU)(INT_PTR)IDC_RECORD_PROGRESS,
        (HINSTANCE)GetWindowLongPtrA(window, GWLP_HINSTANCE), nullptr);
    SendMessageA(line, WM_SETFONT, SendMessageA(window, WM_GETFONT, 0, 0), FALSE);
}

// The lowest-numbered input of the wave type (what the card plays), or -1.
int findWaveInput() {
    for (int i = 0;; ++i) {
        DWORD flags = BASS_RecordGetInput(i);
        if (flags == (DWORD)-1)
            return -1;
        if ((flags & BASS_INPUT_TYPE_MASK) == BASS_INPUT_TYPE_WAVE)
            return i;
    }
}

void onInitDialog(HWND window) {
    isRecording = 0;
    createProgressLine(window);
    if (!BASS_RecordInit(defaultRecordDevice)) {
        showError(window, "Can't initialize BASS Recorder");
        return;
    }
    int input = findWaveInput();
    if (input < 0) {
        showError(window, "No stereomix recorder found");
        return;
    }
    if (const char* name = BASS_RecordGetInputName(input))
        SetWindowTextA(window, name);
    if (!BASS_RecordSetInput(input, inputOnAtHalfLevel))
        showError(window, "Can't start stereomix input");
}

bool isDeviceName(const char* start, const char* end) {
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL"};
    size_t length = end - start;
    for (const char* device : devices)
        if (length == 3 && _strnicmp(start, device, 3) == 0)
            return true;
    return length == 4 && (_strnicmp(start, "COM", 3) == 0 || _strnicmp(start, "LPT", 3) == 0) &&
           start[3] >= '1' && start[3] <= '9';
}

// Refuses a name that would not make the file it says: characters that file names may not hold
// (on NTFS "a:b" would record into a hidden stream of C:\a), and the device names, which
// would swallow the recording. The backslash stays: it leads into a sub-folder.
const char* nameProblem(const char* name) {
    for (const char* c = name; *c; ++c)
        if ((unsigned char)*c < 32 || strchr(":*?\"<>|", *c))
            return "A file name may not hold any of  : * ? \" < > |  nor control characters.\n"
                   "Use \\ to save into a folder, as in Music\\take1.";
    const char* part = name;
    while (*part) {
        const char* end = part + strcspn(part, "\\/");
        const char* base = part;
        const char* baseEnd = base;
        while (baseEnd < end && *baseEnd != '.')
            ++baseEnd;
        while (baseEnd > base && baseEnd[-1] == ' ')
            --baseEnd;
        if (isDeviceName(base, baseEnd))
            return "CON, PRN, AUX, NUL, COM1 to COM9 and LPT1 to LPT9 are names of devices, not "
                   "of files.\nPlease choose another name.";
        part = *end ? end + 1 : end;
    }
    return nullptr;
}

// The file a write that has not returned still holds: a new recording waits for it.
char pendingPath[CAPTURE_PATH_SIZE];

void showCreateError(HWND window) {
    char text[CAPTURE_PATH_SIZE + 256];
    int error = captureError;
    if (error == EACCES && !strchr(capturePath + prefixLength, '\\')) {
        // A standard user may not write to the root of C:; a folder of their own works.
        const char* profile = getenv("USERPROFILE");
        char suggestion[160] = "Users\\<your name>\\Music\\take1";
        if (profile && _strnicmp(profile, pathPrefix, prefixLength) == 0)
            snprintf(suggestion, sizeof suggestion, "%s\\Music\\take1", profile + prefixLength);
        snprintf(text, sizeof text,
                 "Can't create %s: access is denied. You may not write to C:\\ itself, or the "
                 "file is read-only or in use.\nPlease choose a name inside a folder of your own, "
                 "such as %s.",
                 capturePath, suggestion);
    } else if (error == EACCES) {
        snprintf(text, sizeof text,
                 "Can't create %s: access is denied. You may not write to that folder, or the "
                 "file is read-only or in use.",
                 capturePath);
    } else if (error == EBUSY) {
        snprintf(text, sizeof text,
                 "The last recording is still being written to %s. Please start again when it "
                 "is complete.",
                 pendingPath);
    } else if (error == ENOENT) {
        snprintf(text, sizeof text, "Can't create %s: the folder does not exist.", capturePath);
    } else if (error == ENOSPC) {
        snprintf(text, sizeof text, "Can't create %s: the disk is full.", capturePath);
    } else {
        snprintf(text, sizeof text, "Can't create %s: %s.", capturePath, strerror(error));
    }
    showError(window, text);
}

// Whole tenths of a second, rounded up: any loss shows.
struct Tenths {
    unsigned whole, tenth;
};
Tenths tenthsUp(uint64_t bytes) {
    uint64_t tenths = (bytes * 10 + CAPTURE_BYTES_PER_SECOND - 1) / CAPTURE_BYTES_PER_SECOND;
    return {(unsigned)(tenths / 10), (unsigned)(tenths % 10)};
}

// Sound the recording library could not hand to the file, in bytes.
struct Loss {
    QWORD replaced = 0;  // zeros in place of sound the writer fell too far behind for
    QWORD unwritten = 0; // the end, given up at the stop
};

// The lines that tell a loss, each ending in a line break; empty when nothing was lost.
void describeLoss(const Loss& loss, char* text, size_t size) {
    text[0] = '\0';
    size_t used = 0;
    if (loss.unwritten) {
        Tenths t = tenthsUp(loss.unwritten);
        used += snprintf(text, size, "The last %u.%u s could not be written.\n", t.whole, t.tenth);
    }
    if (loss.replaced && used < size) {
        Tenths t = tenthsUp(loss.replaced);
        snprintf(text + used, size - used,
                 "%u.%u s of sound were lost while the disk fell behind, and are silence in "
                 "the file.\n",
                 t.whole, t.tenth);
    }
}

// Tells why a recording ended by itself, why its file is not finished yet, or what it lost.
void reportCaptureEnd(HWND window, CaptureEnd end, const Loss& loss) {
    char lost[256];
    describeLoss(loss, lost, sizeof lost);
    char text[CAPTURE_PATH_SIZE + 512];
    if (end == CaptureLimitReached) {
        snprintf(text, sizeof text,
                 "The recording reached 4 GiB, the most a WAV file can hold, and was stopped.\n"
                 "It is saved in %s.",
                 capturePath);
        MessageBoxA(window, text, CAPTION_INFORMATION, MB_OK);
        return;
    }
    if (end == CaptureWriteHung) {
        snprintf(text, sizeof text,
                 "The recording was stopped. The drive is slow to take the last of it, so %s is "
                 "still being written; it will be completed as soon as the drive is done.\n%s",
                 capturePath, lost);
        MessageBoxA(window, text, lost[0] ? CAPTION_ERROR : CAPTION_INFORMATION, MB_OK);
        return;
    }
    if (end == CaptureGoesOn)
        snprintf(text, sizeof text,
                 "The disk did not keep up with the recording, so %s lacks some of it.\n%s",
                 capturePath, lost);
    else if (captureError == ENOSPC)
        snprintf(text, sizeof text,
                 "The disk is full, so the recording was stopped.\nEverything recorded until "
                 "then is saved in %s.",
                 capturePath);
    else
        snprintf(text, sizeof text,
                 "Writing %s failed (%s), so the recording was stopped.\nEverything recorded "
                 "until then is saved in it.",
                 capturePath, strerror(captureError));
    showError(window, text);
}

void showSavedFile(HWND window, const Loss& loss) {
    char text[CAPTURE_PATH_SIZE + 64];
    unsigned tenths = (unsigned)(captureDataBytes * 10 / CAPTURE_BYTES_PER_SECOND);
    int used = snprintf(text, sizeof text, "%u.%u s saved", tenths / 10, tenths % 10);
    if (loss.replaced + loss.unwritten) {
        Tenths t = tenthsUp(loss.replaced + loss.unwritten);
        used += snprintf(text + used, sizeof text - used, " (%u.%u s lost)", t.whole, t.tenth);
    }
    snprintf(text + used, sizeof text - used, " in %s", capturePath);
    setProgress(window, text);
}

// The channel is stopped first: once BASS_ChannelStop returns, the callback no longer runs and
// the file is ours to finish. While it waits, messages sent to this window are handled, and one
// of them may end the recording too (the session ending): that one finishes the file, and this
// one then finds nothing left to do. `tell` says whether a failure is told in a box.
void stopRecording(HWND window, bool tell) {
    KillTimer(window, progressTimerId);
    BASS_ChannelStop(recordChannel);
    if (!isRecording)
        return; // ended meanwhile
    SetDlgItemTextA(window, IDC_RECORD, startText);
    isRecording = 0;
    Loss loss;
    if (!QV_RecordGetLoss(recordChannel, &loss.replaced, &loss.unwritten))
        loss = Loss();
    CaptureEnd end = captureEnd;
    // After a failed write the rest could not be written anyway: that end is told instead.
    if (end == CaptureWriteFailed || end == CaptureLimitReached)
        loss.unwritten = 0;
    finishCaptureFile();
    showSavedFile(window, loss);
    end = captureEnd;
    if (end == CaptureWriteHung)
        lstrcpynA(pendingPath, capturePath, sizeof pendingPath);
    if (tell && (end != CaptureGoesOn || loss.replaced || loss.unwritten))
        reportCaptureEnd(window, end, loss);
}

void startRecording(HWND window) {
    lstrcpynA(capturePath, pathPrefix, sizeof capturePath);
    // Read wide and narrowed whole: a UTF-8 name read into exactly the room left would come back
    // cut before a character that does not fit, and one read through a code page that lacks a
    // character would come back as another name.
    wchar_t wide[nameRoom];
    GetDlgItemTextW(window, IDC_CAPTURE_NAME, wide, nameRoom);
    std::string narrow;
    if (!narrowName(wide, narrow)) {
        showError(window, "The name holds characters that this system's code page cannot hold. "
                          "Please choose another name.");
        return;
    }
    const char* name = narrow.c_str();
    int length = (int)narrow.size();
    if (length < shortestName) {
        showError(window, "Please enter file name");
        return;
    }
    if (length > longestName) {
        showError(window, "The name is too long: at most 256 characters fit.");
        return;
    }
    lstrcpynA(capturePath + prefixLength, name, longestName + 1);
    if (const char* problem = nameProblem(capturePath + prefixLength)) {
        showError(window, problem);
        return;
    }
    lstrcatA(capturePath, pathSuffix);

    SetDlgItemTextA(window, IDC_RECORD, stopText);
    setProgress(window, "");
    if (!openCaptureFile()) {
        SetDlgItemTextA(window, IDC_RECORD, startText);
        showCreateError(window);
        return;
    }
    isRecording = 1;
    recordChannel = BASS_RecordStart(recordRate, recordChannels, 0, recordBlockCallback, 0);
    if (!recordChannel) {
        isRecording = 0;
        discardCaptureFile();
        SetDlgItemTextA(window, IDC_RECORD, startText);
        showError(window, "Can't start recording");
        return;
    }
    setProgress(window, formatCaptureStatus());
    SetTimer(window, progressTimerId, progressIntervalMs, nullptr);
}

void onStartStop(HWND window) {
    captureBlockCount = 0;
    if (!isRecording) {
        startRecording(window);
        return;
    }
    stopRecording(window, true);
}

// What the recording hears, when it is not the device it started on.
const char* sourceNote() {
    switch (QV_RecordGetSource(recordChannel)) {
    case QV_RECORD_SOURCE_REPLACED: return " - now from the new device";
    case QV_RECORD_SOURCE_MISSING: return " - device gone: recording silence";
    default: return "";
    }
}

// The recording thread only counts blocks and raises captureEnd; the text and the stop happen
// here, so that thread never waits for this one.
void onProgressTimer(HWND window) {
    if (!isRecording)
        return;
    if (captureEnd != CaptureGoesOn) {
        stopRecording(window, true);
        return;
    }
    char shown[CAPTURE_STATUS_SIZE + 64];
    GetDlgItemTextA(window, IDC_RECORD_PROGRESS, shown, sizeof shown);
    char text[CAPTURE_STATUS_SIZE + 64];
    snprintf(text, sizeof text, "%s%s", formatCaptureStatus(), sourceNote());
    if (strcmp(shown, text) != 0)
        setProgress(window, text);
}

// Runs on Exit, on the close box and Escape, and again on WM_DESTROY, where it changes nothing.
void teardown(HWND window, bool tell) {
    if (isRecording)
        stopRecording(window, tell);
    BASS_RecordFree();
    EndDialog(window, 0);
    ShowWindow(mainWindowHandle, SW_SHOWNORMAL);
}

// The session ends once this returns: the file is finished while there is time. (Asking
// whether it may end changes nothing: another program may still refuse.)
void onEndSession(HWND window, bool ending) {
    if (ending && isRecording)
        stopRecording(window, false);
}

} // namespace

namespace {

INT_PTR dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: onInitDialog(window); return FALSE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_RECORD: onStartStop(window); break;
        case IDC_RECORDER_EXIT:
        case IDCANCEL: teardown(window, true); break;
        }
        return FALSE;
    case WM_TIMER:
        if (wParam == progressTimerId)
            onProgressTimer(window);
        return FALSE;
    case WM_ENDSESSION: onEndSession(window, wParam != FALSE); return FALSE;
    case WM_DESTROY: teardown(window, false); return FALSE;
    case WM_SETFOCUS: SetFocus(window); return FALSE;
    case WM_DPICHANGED: followDpiChange(window, lParam); return FALSE;
    }
    return FALSE;
}

} // namespace

INT_PTR CALLBACK recorderWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    INT_PTR result = dispatch(window, message, wParam, lParam);
    showRecordingOnTaskbar(window);
    return result;
}

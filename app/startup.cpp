#include "app/startup.h"

#include <commctrl.h>
#include <stdio.h>
#include <string.h>

#include "app/ids.h"
#include "app/state.h"
#include "app/texts.h"
#include "ui/main_window.h"

namespace {

const char* const errorTexts[] = {
    "No errors",
    "Cannot call this command after FSOUND_Init.  Call FSOUND_Close first.",
    "This command failed because FSOUND_Init was not called",
    "Error initializing output device.",
    "The output device is already in use and cannot be reused.",
    "Playing the sound failed.",
    "Soundcard does not support the features needed for this soundsystem (16bit stereo output)",
    "Error setting cooperative level for hardware.",
    "Error creating hardware sound buffer.",
    "File not found",
    "Unknown file format",
    "Error loading file",
    "Not enough memory ",
    "The version number of this file format is not supported",
    "An invalid parameter was passed to this function",
    "Tried to use an EAX command on a non EAX enabled channel or output.",
    "Failed to allocate a new channel",
    "Recording not supported on this device",
    "Required Mediaplayer codec is not installed",
};

const float requiredFmodVersion = 3.75f;

void showStartupError(const char* text, const char* caption) {
    MessageBoxA(nullptr, text, caption, MB_OK);
}

} // namespace

const char* fmodErrorText(unsigned int code) {
    if (code < sizeof errorTexts / sizeof errorTexts[0])
        return errorTexts[code];
    return "Unknown error";
}

void shutdownBass() {
    BASS_Stop();
    BASS_Free();
}

void initialiseSharedRecords(HINSTANCE instance) {
    appInstance = instance;
    textCodePage = GetACP();

    memset(&volumeScrollInfo, 0, sizeof volumeScrollInfo);
    volumeScrollInfo.cbSize = sizeof volumeScrollInfo;
    volumeScrollInfo.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_TRACKPOS;
    volumeScrollInfo.nMin = 0;
    volumeScrollInfo.nMax = 255;
    volumeScrollInfo.nPage = 2;
    volumeScrollInfo.nPos = 20;
    volumeScrollInfo.nTrackPos = 0;

    // The first version of the record: the 64-character tip and nothing after it.
    trayIconData.cbSize = NOTIFYICONDATAA_V1_SIZE;
    trayIconData.uID = TRAY_ICON_ID;
    trayIconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    trayIconData.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_QUAVERLY));
    lstrcpynA(trayIconData.szTip, "Quaverly", sizeof trayIconData.szTip);
}

int runQuaverly(HINSTANCE instance) {
    initialiseSharedRecords(instance);

    if (HIWORD(BASS_GetVersion()) != BASSVERSION) {
        showStartupError("This program needs the 2.3 version of the BASS audio library, but a "
                         "different version is loaded.\nPlease reinstall Quaverly.",
                         "Wrong bass.dll version is loaded");
        return 1;
    }
    if (!BASS_Init(-1, 44100, 0, nullptr, nullptr)) {
        showStartupError("Failed to initialise device", CAPTION_ERROR);
        return 1;
    }
    if (FSOUND_GetVersion() < requiredFmodVersion) {
        char text[64];
        snprintf(text, sizeof text, "You should be using f_hmod %.02f\n", requiredFmodVersion);
        showStartupError(text, "Wrong f_hmod.dll version");
        shutdownBass();
        return 1;
    }
    if (!FSOUND_Init(44000, 32, 0)) {
        showStartupError(fmodErrorText(FSOUND_GetError()), CAPTION_ERROR);
        shutdownBass();
        return 1;
    }
    BASS_SetConfig(BASS_CONFIG_MAXVOL, 255);

    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);

    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, mainWindowProc, 0);
    return 0;
}

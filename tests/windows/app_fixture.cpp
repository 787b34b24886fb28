#include "tests/windows/app_fixture.h"

#include <string.h>

#include "app/startup.h"
#include "app/state.h"
#include "ui/media_controls.h"
#include "ui/taskbar_buttons.h"

void resetApplicationState() {
    textCodePage = GetACP();
    playlistBox = nullptr;
    currentIndex = 0;
    trackCount = 0;
    currentEntryRemoved = false;
    memset(trackPathBuffer, 0, sizeof trackPathBuffer);
    playlistMenu = nullptr;
    fmodModule = nullptr;
    fmodStream = nullptr;
    bassMusic = 0;
    isPlaying = isPaused = 0;
    trackLength = trackPosition = savedBassVolume = 0;
    volume = 0;
    memset(&volumeScrollInfo, 0, sizeof volumeScrollInfo);
    mainWindowHandle = playlistWindowHandle = volumeScrollBar = positionBar = nullptr;
    oldPositionBarProc = nullptr;
    memset(&trayIconData, 0, sizeof trayIconData);
    trayMenu = nullptr;
    isRecording = 0;
    recordChannel = 0;
    memset(capturePath, 0, sizeof capturePath);
    captureFile = nullptr;
    captureBlockCount = 0;
    memset(captureStatusText, 0, sizeof captureStatusText);
    memset(playingTrackPath, 0, sizeof playingTrackPath);
    trackStarts = 0;
    stopMediaControls();
    releaseTaskbarButtons();
}

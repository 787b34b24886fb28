// Our output, module and recording library behind the 2.3 calls the program makes.
#include "audio/bass23.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "qvdevice/com.h"
#include "qvdevice/output.h"

namespace {

constexpr DWORD version = 0x02030000;
constexpr DWORD defaultMaxVolume = 100;
constexpr DWORD failedValue = 0xFFFFFFFF;

// Serialises the calls; the render and recording threads never take it.
std::mutex apiLock;

struct Library {
    bool initialised = false;
    bool started = false;
    DWORD maxVolume = defaultMaxVolume;
    qvdevice::CallerCom com;
    qvdevice::OutputStream output;
};
Library lib;

void renderMix(void*, float* stereo, uint32_t frames) {
    std::memset(stereo, 0, sizeof(float) * 2 * frames);
}

} // namespace

extern "C" {

DWORD BASSDEF(BASS_GetVersion)(void) {
    return version;
}

DWORD BASSDEF(BASS_SetConfig)(DWORD option, DWORD value) {
    std::lock_guard<std::mutex> lock(apiLock);
    if (option == BASS_CONFIG_MAXVOL && value >= 1 && value <= 10000) {
        lib.maxVolume = value;
        return value;
    }
    return failedValue;
}

BOOL BASSDEF(BASS_Init)(int device, DWORD freq, DWORD, HWND, const GUID*) {
    std::lock_guard<std::mutex> lock(apiLock);
    // -1 and 1 both mean the default output; the rate asked for is accepted while we render
    // at the device's own.
    if (lib.initialised || (device != -1 && device != 1) || freq < 4000 || freq > 192000)
        return FALSE;
    lib.com.enter();
    if (!lib.output.open(renderMix, nullptr)) {
        lib.com.leave();
        return FALSE;
    }
    lib.initialised = true;
    lib.started = true;
    return TRUE;
}

BOOL BASSDEF(BASS_Free)(void) {
    std::lock_guard<std::mutex> lock(apiLock);
    if (!lib.initialised)
        return FALSE;
    lib.output.close();
    lib.com.leave();
    lib.initialised = false;
    lib.started = false;
    return TRUE;
}

BOOL BASSDEF(BASS_Stop)(void) {
    std::lock_guard<std::mutex> lock(apiLock);
    if (!lib.initialised)
        return FALSE;
    lib.started = false;
    return TRUE;
}

BOOL BASSDEF(BASS_Start)(void) {
    return FALSE;
}
BOOL BASSDEF(BASS_Pause)(void) {
    return FALSE;
}
BOOL BASSDEF(BASS_SetVolume)(DWORD) {
    return FALSE;
}
DWORD BASSDEF(BASS_GetVolume)(void) {
    return failedValue;
}

HMUSIC BASSDEF(BASS_MusicLoad)(BOOL, const void*, DWORD, DWORD, DWORD, DWORD) {
    return 0;
}
DWORD BASSDEF(BASS_MusicGetOrders)(HMUSIC) {
    return failedValue;
}
DWORD BASSDEF(BASS_MusicGetOrderPosition)(HMUSIC) {
    return failedValue;
}

BOOL BASSDEF(BASS_ChannelPlay)(DWORD, BOOL) {
    return FALSE;
}
BOOL BASSDEF(BASS_ChannelStop)(DWORD) {
    return FALSE;
}
DWORD BASSDEF(BASS_ChannelIsActive)(DWORD) {
    return BASS_ACTIVE_STOPPED;
}
BOOL BASSDEF(BASS_ChannelSetPosition)(DWORD, QWORD) {
    return FALSE;
}

BOOL BASSDEF(BASS_RecordInit)(int) {
    return FALSE;
}
BOOL BASSDEF(BASS_RecordFree)(void) {
    return FALSE;
}
DWORD BASSDEF(BASS_RecordGetInput)(int) {
    return failedValue;
}
const char* BASSDEF(BASS_RecordGetInputName)(int) {
    return nullptr;
}
BOOL BASSDEF(BASS_RecordSetInput)(int, DWORD) {
    return FALSE;
}
HRECORD BASSDEF(BASS_RecordStart)(DWORD, DWORD, DWORD, RECORDPROC*, DWORD) {
    return 0;
}

} // extern "C"

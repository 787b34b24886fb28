// Our module and stream player behind the 3.x calls the program makes.
#include "audio/fmod3.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "qvdevice/com.h"
#include "qvdevice/output.h"

namespace {

constexpr float version = 3.75f;

// Serialises the calls; the render thread never takes it.
std::mutex apiLock;
std::atomic<int> lastError{FMOD_ERR_NONE};

struct Library {
    bool initialised = false;
    qvdevice::CallerCom com;
    qvdevice::OutputStream output;
};
Library lib;

signed char fail(int code) {
    lastError = code;
    return FALSE;
}

signed char succeed() {
    lastError = FMOD_ERR_NONE;
    return TRUE;
}

void renderMix(void*, float* stereo, uint32_t frames) {
    std::memset(stereo, 0, sizeof(float) * 2 * frames);
}

// Not built yet: no module or stream can be loaded, so no handle is ever valid.
signed char notYet() {
    return fail(lib.initialised ? FMOD_ERR_INVALID_PARAM : FMOD_ERR_UNINITIALIZED);
}

} // namespace

extern "C" {

float F_API FSOUND_GetVersion(void) {
    return version;
}

signed char F_API FSOUND_Init(int mixrate, int maxsoftwarechannels, unsigned int) {
    std::lock_guard<std::mutex> lock(apiLock);
    if (lib.initialised)
        return fail(FMOD_ERR_BUSY);
    // The rate asked for is accepted; we render at the device's own rate.
    if (mixrate < 4000 || mixrate > 192000 || maxsoftwarechannels < 0 || maxsoftwarechannels > 1024)
        return fail(FMOD_ERR_INVALID_PARAM);
    lib.com.enter();
    if (!lib.output.open(renderMix, nullptr)) {
        lib.com.leave();
        return fail(FMOD_ERR_INIT);
    }
    lib.initialised = true;
    return succeed();
}

int F_API FSOUND_GetError(void) {
    return lastError;
}

void F_API FSOUND_Close(void) {
    std::lock_guard<std::mutex> lock(apiLock);
    if (!lib.initialised)
        return;
    lib.output.close();
    lib.com.leave();
    lib.initialised = false;
    lastError = FMOD_ERR_NONE;
}

signed char F_API FSOUND_SetVolume(int, int) {
    std::lock_guard<std::mutex> lock(apiLock);
    return notYet();
}

signed char F_API FSOUND_SetPaused(int, signed char) {
    std::lock_guard<std::mutex> lock(apiLock);
    return notYet();
}

FMUSIC_MODULE* F_API FMUSIC_LoadSong(const char*) {
    std::lock_guard<std::mutex> lock(apiLock);
    fail(lib.initialised ? FMOD_ERR_FILE_FORMAT : FMOD_ERR_UNINITIALIZED);
    return nullptr;
}

signed char F_API FMUSIC_PlaySong(FMUSIC_MODULE*) {
    std::lock_guard<std::mutex> lock(apiLock);
    return notYet();
}

signed char F_API FMUSIC_StopSong(FMUSIC_MODULE*) {
    std::lock_guard<std::mutex> lock(apiLock);
    return notYet();
}

signed char F_API FMUSIC_SetMasterVolume(FMUSIC_MODULE*, int) {
    std::lock_guard<std::mutex> lock(apiLock);
    return notYet();
}

signed char F_API FMUSIC_SetPaused(FMUSIC_MODULE*, signed char) {
    std::lock_guard<std::mutex> lock(apiLock);
    return notYet();
}

signed char F_API FMUSIC_SetOrder(FMUSIC_MODULE*, int) {
    std::lock_guard<std::mutex> lock(apiLock);
    return notYet();
}

int F_API FMUSIC_GetNumOrders(FMUSIC_MODULE*) {
    std::lock_guard<std::mutex> lock(apiLock);
    notYet();
    return 0;
}

int F_API FMUSIC_GetOrder(FMUSIC_MODULE*) {
    std::lock_guard<std::mutex> lock(apiLock);
    notYet();
    return -1;
}

FSOUND_STREAM* F_API FSOUND_Stream_Open(const char*, unsigned int, int, int) {
    std::lock_guard<std::mutex> lock(apiLock);
    fail(lib.initialised ? FMOD_ERR_FILE_FORMAT : FMOD_ERR_UNINITIALIZED);
    return nullptr;
}

int F_API FSOUND_Stream_Play(int, FSOUND_STREAM*) {
    std::lock_guard<std::mutex> lock(apiLock);
    notYet();
    return -1;
}

signed char F_API FSOUND_Stream_Stop(FSOUND_STREAM*) {
    std::lock_guard<std::mutex> lock(apiLock);
    return notYet();
}

signed char F_API FSOUND_Stream_Close(FSOUND_STREAM*) {
    std::lock_guard<std::mutex> lock(apiLock);
    return notYet();
}

int F_API FSOUND_Stream_GetLengthMs(FSOUND_STREAM*) {
    std::lock_guard<std::mutex> lock(apiLock);
    notYet();
    return 0;
}

int F_API FSOUND_Stream_GetTime(FSOUND_STREAM*) {
    std::lock_guard<std::mutex> lock(apiLock);
    notYet();
    return 0;
}

signed char F_API FSOUND_Stream_SetTime(FSOUND_STREAM*, int) {
    std::lock_guard<std::mutex> lock(apiLock);
    return notYet();
}

} // extern "C"

// Plays one file through our audio libraries for a while, as the player would, and prints the
// share of one core this process used meanwhile. Used by bench/cpu_share.sh under Wine.
// With --silence, only an output stream rendering zeros, woken by the device's event or by a
// timer: what the system's audio layer costs before anything is decoded.
//
//   qvplay FILE SECONDS
//   qvplay --silence event|timer SECONDS
#include <windows.h>
#include <objbase.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "bass23.h"
#include "fmod3.h"
#include "qvdevice/output.h"

namespace {

double cpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](FILETIME t) {
        return (((ULONGLONG)t.dwHighDateTime << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

void measure(const char* what, int seconds) {
    // Measured after the start, so that loading and opening the device do not count.
    Sleep(1000);
    double cpuStart = cpuSeconds();
    DWORD wallStart = GetTickCount();
    Sleep(seconds * 1000);
    double cpu = cpuSeconds() - cpuStart;
    double wall = (GetTickCount() - wallStart) / 1000.0;
    printf("%s: %.2f %% of one core over %.1f s\n", what, 100.0 * cpu / wall, wall);
}

void zeros(void*, float* stereo, uint32_t frames) {
    memset(stereo, 0, sizeof(float) * 2 * frames);
}

int silence(const char* wake, int seconds) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    qvdevice::OutputStream out;
    bool timer = strcmp(wake, "timer") == 0;
    if (FAILED(out.open(zeros, nullptr, timer ? qvdevice::Wake::Timer : qvdevice::Wake::Event))) {
        fprintf(stderr, "no output device\n");
        return 1;
    }
    measure(timer ? "silence, timer" : "silence, event", seconds);
    out.close();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && strcmp(argv[1], "--silence") == 0)
        return silence(argv[2], atoi(argv[3]));
    if (argc != 3) {
        fprintf(stderr, "usage: qvplay FILE SECONDS | --silence event|timer SECONDS\n");
        return 2;
    }
    const char* path = argv[1];
    int seconds = atoi(argv[2]);
    if (!BASS_Init(-1, 44100, 0, nullptr, nullptr) || !FSOUND_Init(44000, 32, 0)) {
        fprintf(stderr, "no output device\n");
        return 1;
    }
    BASS_SetConfig(BASS_CONFIG_MAXVOL, 255);
    const char* player = "fmod module";
    FMUSIC_MODULE* module = FMUSIC_LoadSong(path);
    FSOUND_STREAM* stream = nullptr;
    HMUSIC music = 0;
    if (module) {
        FMUSIC_PlaySong(module);
    } else if ((stream = FSOUND_Stream_Open(path, FSOUND_NORMAL | FSOUND_MPEGACCURATE, 0, 0))) {
        player = "fmod stream";
        FSOUND_Stream_Play(FSOUND_FREE, stream);
    } else if ((music = BASS_MusicLoad(FALSE, path, 0, 0, 0x2B200, 0))) {
        player = "bass module";
        BASS_ChannelPlay(music, FALSE);
    } else {
        fprintf(stderr, "no player takes %s\n", path);
        return 1;
    }
    measure(player, seconds);
    FSOUND_Close();
    BASS_Stop();
    BASS_Free();
    return 0;
}

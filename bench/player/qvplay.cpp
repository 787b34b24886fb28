// Plays one file through our audio libraries for a while, as the player would, and prints the
// share of one core this process used meanwhile. Used by bench/cpu_share.sh under Wine.
//
//   qvplay FILE SECONDS
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "audio/bass23.h"
#include "audio/fmod3.h"

namespace {

double cpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](FILETIME t) {
        return (((ULONGLONG)t.dwHighDateTime << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: qvplay FILE SECONDS\n");
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
    // Measured after the start, so that loading and opening the device do not count.
    Sleep(1000);
    double cpuStart = cpuSeconds();
    DWORD wallStart = GetTickCount();
    Sleep(seconds * 1000);
    double cpu = cpuSeconds() - cpuStart;
    double wall = (GetTickCount() - wallStart) / 1000.0;
    printf("%s: %.2f %% of one core over %.1f s\n", player, 100.0 * cpu / wall, wall);
    FSOUND_Close();
    BASS_Stop();
    BASS_Free();
    return 0;
}

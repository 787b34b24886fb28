#include "audio/engine_ops.h"

#include "app/state.h"

namespace {

void stopFmodModule(bool) {
    FMUSIC_StopSong(fmodModule);
    fmodModule = nullptr;
}

void stopStream(bool) {
    FSOUND_Stream_Stop(fmodStream);
    FSOUND_Stream_Close(fmodStream);
    fmodStream = nullptr;
}

void stopBassModule(bool restoreVolume) {
    BASS_ChannelStop(bassMusic);
    if (restoreVolume)
        BASS_SetVolume(savedBassVolume);
    bassMusic = 0;
}

// BASS pauses and resumes its whole output, not the one channel.
void pauseBass(bool paused) {
    if (paused)
        BASS_Pause();
    else
        BASS_Start();
}

int streamSeconds() {
    return FSOUND_Stream_GetTime(fmodStream) / 1000;
}

int seekStream(int seconds) {
    FSOUND_Stream_SetTime(fmodStream, (int)(seconds * 1000LL));
    return streamSeconds();
}

int fmodOrder() {
    return FMUSIC_GetOrder(fmodModule);
}

int bassOrder() {
    return LOWORD(BASS_MusicGetOrderPosition(bassMusic));
}

const EngineOps fmodModuleOps = {
    .stop = stopFmodModule,
    .setPaused = [](bool paused) { FMUSIC_SetPaused(fmodModule, paused); },
    .setVolume = [](int volume) { FMUSIC_SetMasterVolume(fmodModule, volume); },
    .position = fmodOrder,
    .seek =
        [](int order) {
            FMUSIC_SetOrder(fmodModule, order);
            return fmodOrder();
        },
    .tick = tickFmodModule,
};

const EngineOps streamOps = {
    .stop = stopStream,
    .setPaused = [](bool paused) { FSOUND_SetPaused(FSOUND_ALL, paused); },
    .setVolume = [](int volume) { FSOUND_SetVolume(FSOUND_ALL, volume); },
    .position = streamSeconds,
    .seek = seekStream,
    .tick = tickStream,
};

const EngineOps bassModuleOps = {
    .stop = stopBassModule,
    .setPaused = pauseBass,
    .setVolume = [](int volume) { BASS_SetVolume((DWORD)volume); },
    .position = bassOrder,
    .seek =
        [](int order) {
            BASS_ChannelSetPosition(bassMusic, BASS_MUSIC_ORDERPOS | LOWORD(order));
            return bassOrder();
        },
    .tick = tickBassModule,
};

} // namespace

const EngineOps* playingEngine() {
    switch (currentEngine()) {
    case FmodModule: return &fmodModuleOps;
    case FmodStream: return &streamOps;
    case BassModule: return &bassModuleOps;
    case NoEngine: break;
    }
    return nullptr;
}

// The module and stream player calls the program makes, in their 3.x form.
// Implemented by engines/fmod3 (the real player) and tests/fakes (scripted).
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define F_API __stdcall
#else
#define F_API
#endif

typedef struct FMUSIC_MODULE FMUSIC_MODULE;
typedef struct FSOUND_STREAM FSOUND_STREAM;

// Channel selectors.
#define FSOUND_FREE -1
#define FSOUND_ALL -3

// Stream open modes.
#define FSOUND_16BITS 0x00000010
#define FSOUND_MONO 0x00000020
#define FSOUND_SIGNED 0x00000100
#define FSOUND_NORMAL (FSOUND_16BITS | FSOUND_SIGNED | FSOUND_MONO)
#define FSOUND_MPEGACCURATE 0x00020000

// Error codes, as FSOUND_GetError reports them.
enum FMOD_ERRORS {
    FMOD_ERR_NONE,
    FMOD_ERR_BUSY,
    FMOD_ERR_UNINITIALIZED,
    FMOD_ERR_INIT,
    FMOD_ERR_ALLOCATED,
    FMOD_ERR_PLAY,
    FMOD_ERR_OUTPUT_FORMAT,
    FMOD_ERR_COOPERATIVELEVEL,
    FMOD_ERR_CREATEBUFFER,
    FMOD_ERR_FILE_NOTFOUND,
    FMOD_ERR_FILE_FORMAT,
    FMOD_ERR_FILE_BAD,
    FMOD_ERR_MEMORY,
    FMOD_ERR_VERSION,
    FMOD_ERR_INVALID_PARAM,
    FMOD_ERR_NO_EAX,
    FMOD_ERR_CHANNEL_ALLOC,
    FMOD_ERR_RECORD,
    FMOD_ERR_MEDIAPLAYER
};

float F_API FSOUND_GetVersion(void);
signed char F_API FSOUND_Init(int mixrate, int maxsoftwarechannels, unsigned int flags);
int F_API FSOUND_GetError(void);
void F_API FSOUND_Close(void);
signed char F_API FSOUND_SetVolume(int channel, int vol);
signed char F_API FSOUND_SetPaused(int channel, signed char paused);

FMUSIC_MODULE* F_API FMUSIC_LoadSong(const char* name);
signed char F_API FMUSIC_PlaySong(FMUSIC_MODULE* mod);
signed char F_API FMUSIC_StopSong(FMUSIC_MODULE* mod);
signed char F_API FMUSIC_SetMasterVolume(FMUSIC_MODULE* mod, int volume);
signed char F_API FMUSIC_SetPaused(FMUSIC_MODULE* mod, signed char pause);
signed char F_API FMUSIC_SetOrder(FMUSIC_MODULE* mod, int order);
int F_API FMUSIC_GetNumOrders(FMUSIC_MODULE* mod);
int F_API FMUSIC_GetOrder(FMUSIC_MODULE* mod);

FSOUND_STREAM* F_API FSOUND_Stream_Open(const char* name_or_data, unsigned int mode, int offset,
                                        int length);
int F_API FSOUND_Stream_Play(int channel, FSOUND_STREAM* stream);
signed char F_API FSOUND_Stream_Stop(FSOUND_STREAM* stream);
signed char F_API FSOUND_Stream_Close(FSOUND_STREAM* stream);
int F_API FSOUND_Stream_GetLengthMs(FSOUND_STREAM* stream);
int F_API FSOUND_Stream_GetTime(FSOUND_STREAM* stream);
signed char F_API FSOUND_Stream_SetTime(FSOUND_STREAM* stream, int ms);

#ifdef __cplusplus
}
#endif

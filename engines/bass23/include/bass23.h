// The output, module and recording calls the program makes, in their 2.3 form.
// Implemented by engines/bass23 (the real library) and tests/fakes (scripted).
#pragma once

#include <stdint.h>

#if defined(_WIN32)
#include <windows.h>
#define BASSDEF(f) WINAPI f
#else
// Portable builds (the capture file's unit tests) need only the plain types.
typedef uint32_t DWORD;
typedef int BOOL;
typedef void* HWND;
typedef struct _GUID GUID;
#define CALLBACK
#define BASSDEF(f) f
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef uint64_t QWORD;
typedef DWORD HMUSIC;
typedef DWORD HRECORD;
typedef DWORD HCHANNEL;

#define BASSVERSION 0x0203

// Config options.
#define BASS_CONFIG_MAXVOL 3

// Music flags.
#define BASS_MUSIC_RAMP 0x200
#define BASS_MUSIC_SURROUND2 0x1000
#define BASS_MUSIC_FT2MOD 0x2000
#define BASS_MUSIC_POSRESET 0x8000
#define BASS_MUSIC_CALCLEN 0x20000

// Channel positions: bit 31 of the low half selects order (bits 0-15) and row (bits 16-30).
#define BASS_MUSIC_ORDERPOS 0x80000000u

// BASS_ChannelIsActive: 0 once a channel has stopped.
#define BASS_ACTIVE_STOPPED 0
#define BASS_ACTIVE_PLAYING 1

// Recording inputs.
#define BASS_INPUT_ON 0x20000
#define BASS_INPUT_LEVEL 0x40000
#define BASS_INPUT_TYPE_MASK 0xff000000u
#define BASS_INPUT_TYPE_WAVE 0x08000000

// Called on the recording thread with each block of recorded samples; FALSE ends the recording.
typedef BOOL(CALLBACK RECORDPROC)(HRECORD handle, void* buffer, DWORD length, DWORD user);

DWORD BASSDEF(BASS_GetVersion)(void);
DWORD BASSDEF(BASS_SetConfig)(DWORD option, DWORD value);
BOOL BASSDEF(BASS_Init)(int device, DWORD freq, DWORD flags, HWND win, const GUID* clsid);
BOOL BASSDEF(BASS_Free)(void);
BOOL BASSDEF(BASS_Start)(void);
BOOL BASSDEF(BASS_Stop)(void);
BOOL BASSDEF(BASS_Pause)(void);
BOOL BASSDEF(BASS_SetVolume)(DWORD volume);
DWORD BASSDEF(BASS_GetVolume)(void);

HMUSIC BASSDEF(BASS_MusicLoad)(BOOL mem, const void* file, DWORD offset, DWORD length, DWORD flags,
                               DWORD freq);
DWORD BASSDEF(BASS_MusicGetOrders)(HMUSIC handle);
DWORD BASSDEF(BASS_MusicGetOrderPosition)(HMUSIC handle);

BOOL BASSDEF(BASS_ChannelPlay)(DWORD handle, BOOL restart);
BOOL BASSDEF(BASS_ChannelStop)(DWORD handle);
DWORD BASSDEF(BASS_ChannelIsActive)(DWORD handle);
BOOL BASSDEF(BASS_ChannelSetPosition)(DWORD handle, QWORD pos);

BOOL BASSDEF(BASS_RecordInit)(int device);
BOOL BASSDEF(BASS_RecordFree)(void);
DWORD BASSDEF(BASS_RecordGetInput)(int input);
const char* BASSDEF(BASS_RecordGetInputName)(int input);
BOOL BASSDEF(BASS_RecordSetInput)(int input, DWORD setting);
HRECORD BASSDEF(BASS_RecordStart)(DWORD freq, DWORD chans, DWORD flags, RECORDPROC* proc,
                                  DWORD user);

// Our own addition: what a recording hears now. A recording of the default output's loopback
// follows it to another device (headphones plugged in), with zeros for the time between.
#define QV_RECORD_SOURCE_FIRST 0    // the device it started on
#define QV_RECORD_SOURCE_REPLACED 1 // goes on from another device
#define QV_RECORD_SOURCE_MISSING 2  // no device: silence until one comes
DWORD BASSDEF(QV_RecordGetSource)(HRECORD handle);
// Our own addition: sound a recording lost, in bytes of its format. `replaced`: a callback that
// fell too far behind had zeros delivered in its place; `unwritten`: the end of the recording
// that a stop could not wait for any longer. Also after BASS_ChannelStop, until the next start.
BOOL BASSDEF(QV_RecordGetLoss)(HRECORD handle, QWORD* replaced, QWORD* unwritten);

#ifdef __cplusplus
}
#endif

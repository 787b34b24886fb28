#include "tests/fakes/fake_audio.h"

#include <stdio.h>

#include <memory>

struct FMUSIC_MODULE {
    std::string path;
    fake::Module* state;
};
struct FSOUND_STREAM {
    std::string path;
    fake::Stream* state;
};

namespace fake {
namespace {

struct State {
    Script script;
    std::vector<std::string> calls;
    std::map<std::string, std::unique_ptr<FMUSIC_MODULE>> modules;
    std::vector<std::unique_ptr<FSOUND_STREAM>> streams;
    std::map<HMUSIC, std::string> bassHandles;
    HMUSIC nextBassHandle = 0x100;
    RECORDPROC* recordProc = nullptr;
    bool recording = false;
};

State& state() {
    static State s;
    return s;
}

std::function<void(const std::string&)>& callHook() {
    static std::function<void(const std::string&)> hook;
    return hook;
}

void notify() {
    if (callHook())
        callHook()(state().calls.back());
}

std::string arg(int v) {
    return std::to_string(v);
}
std::string arg(unsigned v) {
    return std::to_string(v);
}
std::string arg(unsigned long v) {
    return std::to_string(v);
}
std::string arg(unsigned long long v) {
    return std::to_string(v);
}
std::string arg(const char* s) {
    return s ? s : "(null)";
}
std::string arg(const std::string& s) {
    return s;
}
std::string arg(FMUSIC_MODULE* m) {
    return m ? m->path : "(null)";
}
std::string arg(FSOUND_STREAM* s) {
    return s ? s->path : "(null)";
}

void log(const char* name) {
    state().calls.push_back(std::string(name) + "()");
    notify();
}

template <typename... Args> void log(const char* name, Args... args) {
    std::string text = std::string(name) + "(";
    bool first = true;
    ((text += (first ? "" : ",") + arg(args), first = false), ...);
    state().calls.push_back(text + ")");
    notify();
}

std::string bassPath(DWORD handle) {
    auto it = state().bassHandles.find(handle);
    return it == state().bassHandles.end() ? std::to_string(handle) : it->second;
}

} // namespace

Script& script() {
    return state().script;
}

void reset() {
    State& s = state();
    s.script = Script();
    s.calls.clear();
    s.modules.clear();
    s.streams.clear();
    s.bassHandles.clear();
    s.nextBassHandle = 0x100;
    s.recordProc = nullptr;
    s.recording = false;
    callHook() = nullptr;
}

const std::vector<std::string>& calls() {
    return state().calls;
}

std::vector<std::string> callsStartingWith(const std::vector<std::string>& prefixes) {
    std::vector<std::string> out;
    for (const std::string& call : state().calls)
        for (const std::string& prefix : prefixes)
            if (call.compare(0, prefix.size(), prefix) == 0) {
                out.push_back(call);
                break;
            }
    return out;
}

void clearCalls() {
    state().calls.clear();
}

Module* fmodModule(const std::string& path) {
    auto it = state().script.fmodModules.find(path);
    return it == state().script.fmodModules.end() ? nullptr : &it->second;
}
Stream* fmodStream(const std::string& path) {
    auto it = state().script.fmodStreams.find(path);
    return it == state().script.fmodStreams.end() ? nullptr : &it->second;
}
Module* bassMusic(const std::string& path) {
    auto it = state().script.bassMusics.find(path);
    return it == state().script.bassMusics.end() ? nullptr : &it->second;
}
HMUSIC bassHandle(const std::string& path) {
    for (auto& [handle, name] : state().bassHandles)
        if (name == path)
            return handle;
    return 0;
}

void onCall(std::function<void(const std::string&)> hook) {
    callHook() = std::move(hook);
}

RECORDPROC* recordProc() {
    return state().recordProc;
}
bool recording() {
    return state().recording;
}

} // namespace fake

using fake::log;
using fake::state;

extern "C" {

float F_API FSOUND_GetVersion(void) {
    log("FSOUND_GetVersion");
    return state().script.fmodVersion;
}
signed char F_API FSOUND_Init(int mixrate, int channels, unsigned int flags) {
    log("FSOUND_Init", mixrate, channels, flags);
    return state().script.fmodInit;
}
int F_API FSOUND_GetError(void) {
    log("FSOUND_GetError");
    return state().script.fmodError;
}
void F_API FSOUND_Close(void) {
    log("FSOUND_Close");
}
signed char F_API FSOUND_SetVolume(int channel, int vol) {
    log("FSOUND_SetVolume", channel, vol);
    return 1;
}
signed char F_API FSOUND_SetPaused(int channel, signed char paused) {
    log("FSOUND_SetPaused", channel, (int)paused);
    return 1;
}

FMUSIC_MODULE* F_API FMUSIC_LoadSong(const char* name) {
    log("FMUSIC_LoadSong", name);
    std::string path = name ? name : "";
    fake::Module* module = fake::fmodModule(path);
    if (!module)
        return nullptr;
    auto& slot = state().modules[path];
    if (!slot)
        slot.reset(new FMUSIC_MODULE{path, module});
    return slot.get();
}
signed char F_API FMUSIC_PlaySong(FMUSIC_MODULE* mod) {
    log("FMUSIC_PlaySong", mod);
    return state().script.fmodPlaySong;
}
signed char F_API FMUSIC_StopSong(FMUSIC_MODULE* mod) {
    log("FMUSIC_StopSong", mod);
    return 1;
}
signed char F_API FMUSIC_SetMasterVolume(FMUSIC_MODULE* mod, int volume) {
    log("FMUSIC_SetMasterVolume", mod, volume);
    return 1;
}
signed char F_API FMUSIC_SetPaused(FMUSIC_MODULE* mod, signed char pause) {
    log("FMUSIC_SetPaused", mod, (int)pause);
    return 1;
}
signed char F_API FMUSIC_SetOrder(FMUSIC_MODULE* mod, int order) {
    log("FMUSIC_SetOrder", mod, order);
    if (mod && order >= 0 && order < mod->state->orders)
        mod->state->order = order;
    return 1;
}
int F_API FMUSIC_GetNumOrders(FMUSIC_MODULE* mod) {
    log("FMUSIC_GetNumOrders", mod);
    return mod ? mod->state->orders : 0;
}
int F_API FMUSIC_GetOrder(FMUSIC_MODULE* mod) {
    log("FMUSIC_GetOrder", mod);
    return mod ? mod->state->order : 0;
}

FSOUND_STREAM* F_API FSOUND_Stream_Open(const char* name, unsigned int mode, int offset,
                                        int length) {
    log("FSOUND_Stream_Open", name, mode, offset, length);
    std::string path = name ? name : "";
    fake::Stream* stream = fake::fmodStream(path);
    if (!stream)
        return nullptr;
    state().streams.emplace_back(new FSOUND_STREAM{path, stream});
    return state().streams.back().get();
}
int F_API FSOUND_Stream_Play(int channel, FSOUND_STREAM* stream) {
    log("FSOUND_Stream_Play", channel, stream);
    return state().script.streamPlayChannel;
}
signed char F_API FSOUND_Stream_Stop(FSOUND_STREAM* stream) {
    log("FSOUND_Stream_Stop", stream);
    return 1;
}
signed char F_API FSOUND_Stream_Close(FSOUND_STREAM* stream) {
    log("FSOUND_Stream_Close", stream);
    return 1;
}
int F_API FSOUND_Stream_GetLengthMs(FSOUND_STREAM* stream) {
    log("FSOUND_Stream_GetLengthMs", stream);
    return stream ? stream->state->lengthMs : 0;
}
int F_API FSOUND_Stream_GetTime(FSOUND_STREAM* stream) {
    log("FSOUND_Stream_GetTime", stream);
    return stream ? stream->state->timeMs : 0;
}
signed char F_API FSOUND_Stream_SetTime(FSOUND_STREAM* stream, int ms) {
    log("FSOUND_Stream_SetTime", stream, ms);
    if (stream)
        stream->state->timeMs = ms;
    return 1;
}

DWORD WINAPI BASS_GetVersion(void) {
    log("BASS_GetVersion");
    return state().script.bassVersion;
}
DWORD WINAPI BASS_SetConfig(DWORD option, DWORD value) {
    log("BASS_SetConfig", option, value);
    return value;
}
BOOL WINAPI BASS_Init(int device, DWORD freq, DWORD flags, HWND, const GUID*) {
    log("BASS_Init", device, freq, flags);
    return state().script.bassInit;
}
BOOL WINAPI BASS_Free(void) {
    log("BASS_Free");
    return TRUE;
}
BOOL WINAPI BASS_Start(void) {
    log("BASS_Start");
    return TRUE;
}
BOOL WINAPI BASS_Stop(void) {
    log("BASS_Stop");
    return TRUE;
}
BOOL WINAPI BASS_Pause(void) {
    log("BASS_Pause");
    return TRUE;
}
BOOL WINAPI BASS_SetVolume(DWORD volume) {
    log("BASS_SetVolume", volume);
    state().script.bassVolume = volume;
    return TRUE;
}
DWORD WINAPI BASS_GetVolume(void) {
    log("BASS_GetVolume");
    return state().script.bassVolume;
}

HMUSIC WINAPI BASS_MusicLoad(BOOL mem, const void* file, DWORD offset, DWORD length, DWORD flags,
                             DWORD freq) {
    const char* path = mem ? "(memory)" : static_cast<const char*>(file);
    log("BASS_MusicLoad", mem, path, offset, length, flags, freq);
    if (mem || !fake::bassMusic(path))
        return 0;
    HMUSIC handle = state().nextBassHandle++;
    state().bassHandles[handle] = path;
    return handle;
}
DWORD WINAPI BASS_MusicGetOrders(HMUSIC handle) {
    log("BASS_MusicGetOrders", fake::bassPath(handle));
    fake::Module* m = fake::bassMusic(fake::bassPath(handle));
    return m ? m->orders : 0xFFFFFFFF;
}
DWORD WINAPI BASS_MusicGetOrderPosition(HMUSIC handle) {
    log("BASS_MusicGetOrderPosition", fake::bassPath(handle));
    fake::Module* m = fake::bassMusic(fake::bassPath(handle));
    return m ? MAKELONG(m->order, m->row) : 0xFFFFFFFF;
}
BOOL WINAPI BASS_ChannelPlay(DWORD handle, BOOL restart) {
    log("BASS_ChannelPlay", fake::bassPath(handle), restart);
    fake::Module* m = fake::bassMusic(fake::bassPath(handle));
    if (m) {
        m->active = true;
        if (restart)
            m->order = m->row = 0;
    }
    return m != nullptr;
}
BOOL WINAPI BASS_ChannelStop(DWORD handle) {
    log("BASS_ChannelStop", fake::bassPath(handle));
    if (handle == state().script.recordStart)
        state().recording = false;
    return TRUE;
}
DWORD WINAPI BASS_ChannelIsActive(DWORD handle) {
    log("BASS_ChannelIsActive", fake::bassPath(handle));
    fake::Module* m = fake::bassMusic(fake::bassPath(handle));
    return m && m->active ? 1 : 0;
}
BOOL WINAPI BASS_ChannelSetPosition(DWORD handle, QWORD pos) {
    log("BASS_ChannelSetPosition", fake::bassPath(handle), pos);
    fake::Module* m = fake::bassMusic(fake::bassPath(handle));
    if (m && (pos & 0x80000000u)) {
        int order = (int)(pos & 0xFFFF);
        if (order < m->orders) {
            m->order = order;
            m->row = (int)((pos >> 16) & 0x7FFF);
        }
    }
    return TRUE;
}

BOOL WINAPI BASS_RecordInit(int device) {
    log("BASS_RecordInit", device);
    return state().script.recordInit;
}
BOOL WINAPI BASS_RecordFree(void) {
    log("BASS_RecordFree");
    state().recording = false;
    return TRUE;
}
DWORD WINAPI BASS_RecordGetInput(int input) {
    log("BASS_RecordGetInput", input);
    const auto& inputs = state().script.inputs;
    if (input < 0 || input >= (int)inputs.size())
        return 0xFFFFFFFF;
    return inputs[input].flags;
}
const char* WINAPI BASS_RecordGetInputName(int input) {
    log("BASS_RecordGetInputName", input);
    const auto& inputs = state().script.inputs;
    if (input < 0 || input >= (int)inputs.size())
        return nullptr;
    return inputs[input].name.c_str();
}
BOOL WINAPI BASS_RecordSetInput(int input, DWORD setting) {
    log("BASS_RecordSetInput", input, setting);
    return state().script.recordSetInput;
}
HRECORD WINAPI BASS_RecordStart(DWORD freq, DWORD chans, DWORD flags, RECORDPROC* proc,
                                DWORD user) {
    log("BASS_RecordStart", freq, chans, flags, user);
    state().recordProc = proc;
    state().recording = state().script.recordStart != 0;
    return state().script.recordStart;
}
DWORD WINAPI QV_RecordGetSource(HRECORD) {
    return state().script.recordSource;
}
BOOL WINAPI QV_RecordGetLoss(HRECORD handle, QWORD* replaced, QWORD* unwritten) {
    if (handle != state().script.recordStart)
        return FALSE;
    *replaced = state().script.recordReplaced;
    *unwritten = state().script.recordUnwritten;
    return TRUE;
}

} // extern "C"

// Our output, module and recording library behind the 2.3 calls the program makes. Modules stop
// at their end; the output volume, pause and start act on everything this library plays.
#include "bass23.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "qvcore/qvcore.h"
#include "qvdevice/capture.h"
#include "qvdevice/com.h"
#include "qvdevice/mixed_output.h"
#include "recording.h"

namespace {

using qvcore::Mixer;
using ChannelId = Mixer::ChannelId;

constexpr DWORD version = 0x02030000;
constexpr DWORD defaultMaxVolume = 100;
constexpr DWORD failedValue = 0xFFFFFFFF;
constexpr unsigned mixerChannels = 64;

constexpr DWORD musicLoop = 4;            // loop at the end instead of stopping
constexpr DWORD unicodeName = 0x80000000; // the name is UTF-16: not offered
constexpr DWORD activePaused = 3;

constexpr DWORD inputOff = 0x10000;
constexpr DWORD inputTypeMic = 0x03000000;
constexpr DWORD inputTypeLine = 0x02000000;
constexpr DWORD levelMask = 0xFFFF;
constexpr DWORD defaultLevel = 100;

// Handles: the kind in the top nibble, then a counter that never repeats, so a stale handle is
// refused.
constexpr DWORD musicTag = 0x10000000;
constexpr DWORD recordTag = 0x20000000;
constexpr DWORD counterMask = 0x0FFFFFFF;

// A stopped module gives its decoder back at once; it keeps what is needed to load it again
// where it stopped.
struct Music {
    std::string path;                             // loaded from a file
    std::shared_ptr<const qvcore::FileData> data; // loaded from memory: kept
    bool loop = false;
    ChannelId channel = 0;
    int numOrders = 0;
    int order = 0; // where it was when it gave its decoder back
    int row = 0;
};

struct Input {
    qvdevice::CaptureSource source;
    DWORD level = defaultLevel;
};

struct Library {
    bool initialised = false;
    bool outputStarted = false;
    DWORD maxVolume = defaultMaxVolume;
    double outputLevel = 1.0; // BASS_SetVolume, as a fraction of the maximum
    qvdevice::CallerCom com;
    qvdevice::MixedOutput<Mixer> out;
    std::map<DWORD, Music> musics;
    DWORD counter = 0;

    bool recordInitialised = false;
    qvdevice::CallerCom recordCom;
    std::vector<Input> inputs;
    int selectedInput = -1;
    // Shared, so that a stop reached again while one waits finds it too.
    std::shared_ptr<qvbass::Recording> recording;
    HRECORD recordHandle = 0;
    // What the last recording lost, kept for the caller once it has ended.
    HRECORD endedHandle = 0;
    QWORD endedReplaced = 0, endedUnwritten = 0;
};

// Serialises the calls; the render and recording threads never take it. A recording callback
// that calls back into the library would wait for it, so BASS_ChannelStop and BASS_RecordFree
// drop it while they wait for a callback to return.
std::mutex apiLock;
using Lock = std::unique_lock<std::mutex>;
Library lib;

Mixer& mixer() {
    return *lib.out.mixer();
}

DWORD newHandle(DWORD tag) {
    lib.counter = (lib.counter + 1) & counterMask;
    if (lib.counter == 0)
        lib.counter = 1;
    return tag | lib.counter;
}

Music* findMusic(DWORD handle) {
    if (!lib.initialised)
        return nullptr;
    auto it = lib.musics.find(handle);
    return it == lib.musics.end() ? nullptr : &it->second;
}

std::shared_ptr<const qvcore::FileData> musicBytes(const Music& m) {
    return m.data ? m.data : qvcore::FileData::open(m.path.c_str());
}

// A decoder for any module type libopenmpt loads; null for anything else.
std::unique_ptr<qvcore::Decoder> openMusic(std::shared_ptr<const qvcore::FileData> file,
                                           bool loop) {
    if (!file)
        return nullptr;
    // A large file still being read that its first part shows to be a stream is not waited for.
    qvcore::ProbeResult what = qvcore::probe(file->data(), file->loaded());
    if (!qvcore::isStream(what.kind) && file->loaded() < file->size())
        what = qvcore::probe(file->data(), file->waitFor(0, file->size()));
    if (what.kind != qvcore::Kind::Module)
        return nullptr;
    return qvcore::openModule(std::move(file),
                              loop ? qvcore::ModuleEnd::Loop : qvcore::ModuleEnd::Stop);
}

// Gives the music a mixer channel again, at the place it stopped.
bool reload(Music& m) {
    if (m.channel)
        return true;
    m.channel = mixer().add(openMusic(musicBytes(m), m.loop));
    if (!m.channel)
        return false;
    if (m.order || m.row)
        mixer().setOrderRow(m.channel, m.order, m.row);
    mixer().stop(m.channel); // a seek of a fresh channel leaves it stopped
    return true;
}

void release(Music& m) {
    if (!m.channel)
        return;
    m.order = std::max(mixer().order(m.channel), 0);
    m.row = std::max(mixer().row(m.channel), 0);
    mixer().remove(m.channel);
    m.channel = 0;
}

// Lets the device sleep while nothing of ours is to be heard; run at the end of every call that
// may start, stop or pause a music or the output, or notice that a music has ended.
void updateActivity() {
    if (!lib.initialised)
        return;
    bool any = false;
    if (!mixer().masterPaused()) {
        for (const auto& [handle, m] : lib.musics)
            any = any || (m.channel && mixer().state(m.channel) == qvcore::ChannelState::Playing);
    }
    lib.out.setActive(any);
}

using Activity = qvdevice::AfterCall<updateActivity>;
constexpr auto Audible = qvdevice::Effect::Audible;
constexpr auto Silent = qvdevice::Effect::Silent;

// A call on the output: under the lock, `body` runs once BASS_Init has; before, `refused`.
template <class Result, class Body>
Result onOutput(qvdevice::Effect effect, Result refused, Body body) {
    Lock lock(apiLock);
    Activity activity{effect};
    return lib.initialised ? body() : refused;
}

// A call on a channel handle: under the lock, the recording's handle goes to `recording` (with
// the lock, which a stop drops while it waits) and a music's to `music`; any other handle, or
// any before BASS_Init, gets `refused`.
template <class Result, class OnRecording, class OnMusic>
Result onChannel(DWORD handle, qvdevice::Effect effect, Result refused, OnRecording recording,
                 OnMusic music) {
    Lock lock(apiLock);
    Activity activity{effect};
    if (handle != 0 && handle == lib.recordHandle)
        return recording(lock);
    Music* m = findMusic(handle);
    return m ? music(*m) : refused;
}

template <class Result, class Body>
Result onMusic(DWORD handle, qvdevice::Effect effect, Result refused, Body body) {
    return onChannel(
        handle, effect, refused, [refused](Lock&) { return refused; }, body);
}

void applyOutputLevel() {
    if (lib.out.mixer())
        mixer().setMasterVolume(static_cast<int>(std::lround(lib.outputLevel * 255.0)));
}

// Once it returns, no recording callback starts any more. The lock is let go meanwhile, so that
// a callback that calls into the library can finish, and a stop reached from a message handled
// meanwhile waits for the same recording.
void endRecording(Lock& lock) {
    std::shared_ptr<qvbass::Recording> r = lib.recording;
    if (!r)
        return;
    lock.unlock();
    r->stop();
    lock.lock();
    if (lib.recording == r) {
        lib.endedHandle = lib.recordHandle;
        r->loss(lib.endedReplaced, lib.endedUnwritten);
        lib.recording.reset();
        lib.recordHandle = 0;
    }
}

DWORD inputType(const Input& in) {
    switch (in.source.kind) {
    case qvdevice::SourceKind::Loopback:
    case qvdevice::SourceKind::Wave: return BASS_INPUT_TYPE_WAVE;
    case qvdevice::SourceKind::Line: return inputTypeLine;
    default: return inputTypeMic;
    }
}

bool validInput(int input) {
    return lib.recordInitialised && input >= 0 && static_cast<size_t>(input) < lib.inputs.size();
}

} // namespace

extern "C" {

DWORD BASSDEF(BASS_GetVersion)(void) {
    return version;
}

DWORD BASSDEF(BASS_SetConfig)(DWORD option, DWORD value) {
    Lock lock(apiLock);
    if (option == BASS_CONFIG_MAXVOL && value >= 1 && value <= 10000) {
        lib.maxVolume = value;
        return value;
    }
    return failedValue;
}

BOOL BASSDEF(BASS_Init)(int device, DWORD freq, DWORD, HWND, const GUID*) {
    Lock lock(apiLock);
    // -1 and 1 both mean the default output; the rate asked for is accepted while we render
    // at the device's own.
    if (lib.initialised || (device != -1 && device != 1) || freq < 4000 || freq > 192000)
        return FALSE;
    lib.com.enter();
    if (FAILED(lib.out.open(mixerChannels))) {
        lib.com.leave();
        return FALSE;
    }
    lib.initialised = true;
    lib.outputStarted = true;
    applyOutputLevel();
    return TRUE;
}

BOOL BASSDEF(BASS_RecordFree)(void);

BOOL BASSDEF(BASS_Free)(void) {
    BASS_RecordFree();
    Lock lock(apiLock);
    if (!lib.initialised)
        return FALSE;
    lib.out.close();
    lib.musics.clear();
    lib.com.leave();
    lib.initialised = false;
    lib.outputStarted = false;
    return TRUE;
}

BOOL BASSDEF(BASS_Stop)(void) {
    return onOutput(Audible, FALSE, [] {
        for (auto& [handle, m] : lib.musics)
            if (m.channel)
                mixer().stop(m.channel);
        mixer().setMasterPaused(true);
        lib.outputStarted = false;
        return TRUE;
    });
}

BOOL BASSDEF(BASS_Start)(void) {
    return onOutput(Audible, FALSE, [] {
        mixer().setMasterPaused(false);
        lib.outputStarted = true;
        return TRUE;
    });
}

BOOL BASSDEF(BASS_Pause)(void) {
    return onOutput(Audible, FALSE, [] {
        mixer().setMasterPaused(true);
        lib.outputStarted = false;
        return TRUE;
    });
}

BOOL BASSDEF(BASS_SetVolume)(DWORD volume) {
    return onOutput(Silent, FALSE, [volume]() mutable {
        // A caller's int below 0 arrives with its top bit set: it is a negative volume,
        // silence, not one above the maximum.
        if (volume & 0x80000000u)
            volume = 0;
        lib.outputLevel = static_cast<double>(std::min(volume, lib.maxVolume)) / lib.maxVolume;
        applyOutputLevel();
        return TRUE;
    });
}

DWORD BASSDEF(BASS_GetVolume)(void) {
    return onOutput(Silent, failedValue, [] {
        return static_cast<DWORD>(std::lround(lib.outputLevel * lib.maxVolume));
    });
}

HMUSIC BASSDEF(BASS_MusicLoad)(BOOL mem, const void* file, DWORD offset, DWORD length, DWORD flags,
                               DWORD) {
    Lock lock(apiLock);
    if (!lib.initialised || !file || (flags & unicodeName))
        return 0;
    // Of the other flags (ramping, surround, FT2 handling, reset on seek, length calculation)
    // the module player does what it offers by itself.
    Music m;
    m.loop = (flags & musicLoop) != 0;
    std::shared_ptr<const qvcore::FileData> bytes;
    if (mem) {
        if (length == 0)
            return 0;
        m.data = qvcore::FileData::fromBytes(static_cast<const uint8_t*>(file) + offset, length);
        bytes = m.data;
    } else {
        m.path = static_cast<const char*>(file);
        bytes = qvcore::FileData::open(m.path.c_str());
        if (bytes && (offset || length)) {
            // A module inside a larger file: that part alone, kept in memory.
            if (offset >= bytes->size() || (length && length > bytes->size() - offset) ||
                bytes->waitFor(0, bytes->size()) < bytes->size())
                return 0;
            m.data = qvcore::FileData::fromBytes(bytes->data() + offset,
                                                 length ? length : bytes->size() - offset);
            bytes = m.data;
        }
    }
    auto decoder = openMusic(std::move(bytes), m.loop);
    if (!decoder)
        return 0;
    m.numOrders = decoder->numOrders();
    m.channel = mixer().add(std::move(decoder));
    if (!m.channel)
        return 0;
    DWORD handle = newHandle(musicTag);
    lib.musics.emplace(handle, std::move(m));
    return handle;
}

DWORD BASSDEF(BASS_MusicGetOrders)(HMUSIC handle) {
    return onMusic(handle, Silent, failedValue,
                   [](Music& m) { return static_cast<DWORD>(m.numOrders); });
}

DWORD BASSDEF(BASS_MusicGetOrderPosition)(HMUSIC handle) {
    return onMusic(handle, Audible, failedValue, [](Music& m) {
        int order = m.order, row = m.row;
        if (m.channel) {
            order = std::max(mixer().order(m.channel), 0);
            row = std::max(mixer().row(m.channel), 0);
        }
        return (static_cast<DWORD>(order) & 0xFFFF) | (static_cast<DWORD>(row) & 0xFFFF) << 16;
    });
}

BOOL BASSDEF(BASS_ChannelPlay)(DWORD handle, BOOL restart) {
    return onChannel(
        handle, Audible, FALSE,
        [](Lock&) { return BOOL(lib.recording && lib.recording->active()); },
        [restart](Music& m) {
            if (!reload(m))
                return FALSE;
            return BOOL(mixer().play(m.channel, restart != FALSE));
        });
}

BOOL BASSDEF(BASS_ChannelStop)(DWORD handle) {
    return onChannel(
        handle, Audible, FALSE,
        [](Lock& lock) {
            endRecording(lock);
            return TRUE;
        },
        [](Music& m) {
            release(m);
            return TRUE;
        });
}

DWORD BASSDEF(BASS_ChannelIsActive)(DWORD handle) {
    return onChannel(
        handle, Audible, DWORD(BASS_ACTIVE_STOPPED),
        [](Lock&) {
            return DWORD(lib.recording && lib.recording->active() ? BASS_ACTIVE_PLAYING
                                                                  : BASS_ACTIVE_STOPPED);
        },
        [](Music& m) -> DWORD {
            if (!m.channel)
                return BASS_ACTIVE_STOPPED;
            switch (mixer().state(m.channel)) {
            case qvcore::ChannelState::Playing:
                return mixer().masterPaused() ? activePaused : BASS_ACTIVE_PLAYING;
            case qvcore::ChannelState::Paused: return activePaused;
            default: return BASS_ACTIVE_STOPPED;
            }
        });
}

BOOL BASSDEF(BASS_ChannelSetPosition)(DWORD handle, QWORD pos) {
    return onMusic(handle, Audible, FALSE, [pos](Music& m) {
        const DWORD low = static_cast<DWORD>(pos);
        if (low & BASS_MUSIC_ORDERPOS) {
            const int order = static_cast<int>(low & 0xFFFF);
            const int row = static_cast<int>((low >> 16) & 0x7FFF);
            if (order >= m.numOrders)
                return FALSE;
            if (!m.channel) {
                m.order = order;
                m.row = row;
                return TRUE;
            }
            const bool wasActive = mixer().isActive(m.channel);
            if (!mixer().setOrderRow(m.channel, order, row))
                return FALSE;
            // A jump brings an ended module back only if it was playing; a stopped one stays so.
            if (!wasActive)
                mixer().stop(m.channel);
            return TRUE;
        }
        // A byte position in the 16-bit stereo output.
        if (!reload(m))
            return FALSE;
        const uint64_t ms = pos / 4 * 1000 / std::max<uint32_t>(mixer().outputRate(), 1);
        const bool wasActive = mixer().isActive(m.channel);
        if (!mixer().seekMs(m.channel, ms))
            return FALSE;
        if (!wasActive)
            mixer().stop(m.channel);
        return TRUE;
    });
}

BOOL BASSDEF(BASS_RecordInit)(int device) {
    Lock lock(apiLock);
    if (lib.recordInitialised || (device != -1 && device != 0))
        return FALSE;
    lib.recordCom.enter();
    std::vector<qvdevice::CaptureSource> sources = qvbass::captureSystem().sources(true);
    if (sources.empty()) {
        lib.recordCom.leave();
        return FALSE;
    }
    lib.inputs.clear();
    for (auto& s : sources)
        lib.inputs.push_back(Input{std::move(s), defaultLevel});
    lib.selectedInput = -1;
    lib.recordInitialised = true;
    return TRUE;
}

BOOL BASSDEF(BASS_RecordFree)(void) {
    Lock lock(apiLock);
    if (!lib.recordInitialised)
        return FALSE;
    endRecording(lock);
    if (!lib.recordInitialised)
        return FALSE; // freed meanwhile by a callback
    lib.inputs.clear();
    lib.selectedInput = -1;
    lib.recordCom.leave();
    lib.recordInitialised = false;
    return TRUE;
}

DWORD BASSDEF(BASS_RecordGetInput)(int input) {
    Lock lock(apiLock);
    if (!validInput(input))
        return failedValue;
    const Input& in = lib.inputs[static_cast<size_t>(input)];
    return inputType(in) | (input == lib.selectedInput ? 0 : inputOff) | in.level;
}

const char* BASSDEF(BASS_RecordGetInputName)(int input) {
    Lock lock(apiLock);
    if (!validInput(input))
        return nullptr;
    return lib.inputs[static_cast<size_t>(input)].source.name.c_str();
}

BOOL BASSDEF(BASS_RecordSetInput)(int input, DWORD setting) {
    Lock lock(apiLock);
    if (!validInput(input))
        return FALSE;
    // The level is kept and reported; the recording itself is taken as the system gives it.
    if (setting & BASS_INPUT_LEVEL)
        lib.inputs[static_cast<size_t>(input)].level = std::min<DWORD>(setting & levelMask, 100);
    if (setting & BASS_INPUT_ON)
        lib.selectedInput = input;
    else if ((setting & inputOff) && lib.selectedInput == input)
        lib.selectedInput = -1;
    return TRUE;
}

HRECORD BASSDEF(BASS_RecordStart)(DWORD freq, DWORD chans, DWORD flags, RECORDPROC* proc,
                                  DWORD user) {
    Lock lock(apiLock);
    // 16-bit samples only (flags 0), one recording at a time.
    if (!lib.recordInitialised || flags != 0 || !proc)
        return 0;
    if (lib.recording) {
        if (lib.recording->active())
            return 0;
        endRecording(lock); // ended by its callback: reap it
        if (!lib.recordInitialised)
            return 0;
    }
    const int input = lib.selectedInput >= 0 ? lib.selectedInput : 0;
    if (!validInput(input))
        return 0;
    const HRECORD handle = newHandle(recordTag);
    lib.recording = qvbass::Recording::start(lib.inputs[static_cast<size_t>(input)].source, freq,
                                             chans, proc, user, handle);
    if (!lib.recording)
        return 0;
    lib.recordHandle = handle;
    return handle;
}

DWORD BASSDEF(QV_RecordGetSource)(HRECORD handle) {
    Lock lock(apiLock);
    if (handle == 0 || handle != lib.recordHandle || !lib.recording)
        return QV_RECORD_SOURCE_FIRST;
    switch (lib.recording->source()) {
    case qvbass::SourceState::Replaced: return QV_RECORD_SOURCE_REPLACED;
    case qvbass::SourceState::Missing: return QV_RECORD_SOURCE_MISSING;
    default: return QV_RECORD_SOURCE_FIRST;
    }
}

BOOL BASSDEF(QV_RecordGetLoss)(HRECORD handle, QWORD* replaced, QWORD* unwritten) {
    Lock lock(apiLock);
    QWORD r = 0, u = 0;
    if (handle != 0 && handle == lib.recordHandle && lib.recording)
        lib.recording->loss(r, u);
    else if (handle != 0 && handle == lib.endedHandle)
        r = lib.endedReplaced, u = lib.endedUnwritten;
    else
        return FALSE;
    if (replaced)
        *replaced = r;
    if (unwritten)
        *unwritten = u;
    return TRUE;
}

} // extern "C"

// Our module and stream player behind the 3.x calls the program makes. Modules loop by
// themselves at their end; streams play on from wherever they are set, also after their end.
#include "fmod3.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "qvcore/qvcore.h"
#include "qvmidi/midi_decoder.h"
#include "qvmidi/midi_file.h"
#include "qvdevice/com.h"
#include "qvdevice/mixed_output.h"
#include "qvmf/media_foundation.h"
#include "qvwin32/handle.h"

namespace {

using qvcore::Mixer;
using ChannelId = Mixer::ChannelId;

constexpr float version = 3.75f;
constexpr unsigned mixerChannels = 64;

// A module keeps its path after it is stopped: its decoder and memory go back at once, and a
// later FMUSIC_PlaySong loads it again.
struct Module {
    std::string path;
    ChannelId channel = 0;
    int numOrders = 0;
    int volume = 255;
};

struct Stream {
    ChannelId channel = 0;
    int number = -1;     // the FSOUND channel it plays on, -1 while it does not
    bool rewind = false; // stopped: the next play starts from the beginning
    int volume = 255;
};

// Handles are numbers that look like pointers; they are looked up, never dereferenced, so a
// stale one is refused.
using Key = std::uintptr_t;

struct Library {
    bool initialised = false;
    int maxStreams = 0;
    qvdevice::CallerCom com;
    bool mediaFoundation = false; // started at the first file only the system decodes
    qvdevice::MixedOutput<Mixer> out;
    std::map<Key, Module> modules;
    std::map<Key, Stream> streams;
    Key nextKey = 0x10000;
};

// Serialises the calls; the render thread never takes it.
std::mutex apiLock;
Library lib;
std::atomic<int> lastError{FMOD_ERR_NONE};

signed char fail(int code) {
    lastError = code;
    return FALSE;
}

signed char succeed() {
    lastError = FMOD_ERR_NONE;
    return TRUE;
}

Key newKey() {
    lib.nextKey += 0x10;
    return lib.nextKey;
}

Mixer& mixer() {
    return *lib.out.mixer();
}

Module* find(FMUSIC_MODULE* handle) {
    auto it = lib.modules.find(reinterpret_cast<Key>(handle));
    return it == lib.modules.end() ? nullptr : &it->second;
}

Stream* find(FSOUND_STREAM* handle) {
    auto it = lib.streams.find(reinterpret_cast<Key>(handle));
    return it == lib.streams.end() ? nullptr : &it->second;
}

int clampVolume(int v) {
    return std::clamp(v, 0, 255);
}

// Where a General MIDI bank may be: beside the program, Windows' own, Debian's (under Wine).
std::vector<std::string> soundBankCandidates() {
    std::vector<std::string> paths;
    char buffer[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (n > 0 && n < sizeof buffer) {
        std::string folder(buffer, n);
        folder.resize(folder.find_last_of('\\') + 1);
        // Any SoundFont the user put beside the program.
        WIN32_FIND_DATAA found;
        qvwin32::FindHandle search(FindFirstFileA((folder + "*.sf2").c_str(), &found));
        if (search) {
            do {
                if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    paths.push_back(folder + found.cFileName);
            } while (FindNextFileA(search.get(), &found));
        }
    }
    n = GetSystemDirectoryA(buffer, sizeof buffer);
    if (n > 0 && n < sizeof buffer)
        paths.push_back(std::string(buffer, n) + "\\drivers\\gm.dls");
    paths.push_back("Z:\\usr\\share\\sounds\\sf2\\TimGM6mb.sf2");
    paths.push_back("Z:\\usr\\share\\sounds\\sf2\\default-GM.sf2");
    return paths;
}

// Modules and songs are taken whole; a large file still being read that its first part shows
// to be a stream is not waited for.
qvcore::ProbeResult probeWhole(const qvcore::FileData& file) {
    const qvcore::ProbeResult head = qvcore::probe(file.data(), file.loaded());
    if (qvcore::isStream(head.kind) || file.loaded() == file.size())
        return head;
    return qvcore::probe(file.data(), file.waitFor(0, file.size()));
}

// MIDI and RMI files play as modules whose orders are bars, when a sound bank is found.
std::unique_ptr<qvcore::Decoder> openMidiSong(std::shared_ptr<const qvcore::FileData> file) {
    if (!qvmidi::looksLikeMidi(file->data(), file->loaded()))
        return nullptr;
    auto bank = qvmidi::findSoundBank(soundBankCandidates());
    if (!bank)
        return nullptr;
    return qvmidi::openMidi(std::move(file), std::move(bank), qvcore::ModuleEnd::Loop);
}

// Loads a module of one of the four classic types (or a MIDI song) into a mixer channel,
// stopped, looping at its end.
ChannelId loadModule(const std::string& path, int& numOrders) {
    auto file = qvcore::FileData::open(path.c_str());
    if (!file) {
        fail(FMOD_ERR_FILE_NOTFOUND);
        return 0;
    }
    qvcore::ProbeResult what = probeWhole(*file);
    std::unique_ptr<qvcore::Decoder> decoder;
    if (qvcore::isClassicModule(what)) {
        decoder = qvcore::openModule(std::move(file), qvcore::ModuleEnd::Loop);
    } else {
        decoder = openMidiSong(std::move(file));
        if (!decoder) {
            fail(FMOD_ERR_FILE_FORMAT);
            return 0;
        }
    }
    if (!decoder) {
        fail(FMOD_ERR_FILE_BAD);
        return 0;
    }
    numOrders = decoder->numOrders();
    ChannelId channel = mixer().add(std::move(decoder));
    if (!channel)
        fail(FMOD_ERR_CHANNEL_ALLOC);
    return channel;
}

// Content our decoders read, then what only the system's decoders read; failures say why.
std::unique_ptr<qvcore::Decoder> openStreamDecoder(const char* path,
                                                   std::shared_ptr<const qvcore::FileData> file) {
    // A large file is still being read: its first part tells what it is.
    const std::size_t head = file->loaded();
    const qvcore::ProbeResult what = qvcore::probe(file->data(), head);
    if (qvcore::isStream(what.kind)) {
        auto decoder = qvcore::openDecoder(std::move(file), what);
        if (!decoder)
            fail(FMOD_ERR_FILE_BAD);
        return decoder;
    }
    const qvcore::SystemFormat format = what.kind == qvcore::Kind::Unknown
                                            ? qvcore::systemFormat(file->data(), head)
                                            : qvcore::SystemFormat::None;
    if (format == qvcore::SystemFormat::None) {
        fail(FMOD_ERR_FILE_FORMAT);
        return nullptr;
    }
    const bool intact = qvcore::systemContainerIntact(file->data(), head, format);
    // Without its index nobody can play it, and the system's parser is not even asked: some
    // damaged containers keep it from ever answering.
    if (head == file->size() && !qvcore::systemIndexWhole(file->data(), head, format)) {
        fail(FMOD_ERR_FILE_BAD);
        return nullptr;
    }
    file.reset();
    if (!lib.mediaFoundation && !(lib.mediaFoundation = qvmf::startup())) {
        fail(FMOD_ERR_MEDIAPLAYER);
        return nullptr;
    }
    qvmf::OpenError error = qvmf::OpenError::None;
    auto decoder = qvmf::openStream(path, format, error);
    if (!decoder)
        fail(error == qvmf::OpenError::Refused && intact ? FMOD_ERR_MEDIAPLAYER
                                                         : FMOD_ERR_FILE_BAD);
    return decoder;
}

void releaseModule(Module& m) {
    if (m.channel)
        mixer().remove(m.channel);
    m.channel = 0;
}

// The lowest FSOUND channel number no playing stream holds, or -1.
int freeStreamNumber() {
    for (int n = 0; n < lib.maxStreams; ++n) {
        bool taken = std::any_of(lib.streams.begin(), lib.streams.end(),
                                 [n](const auto& s) { return s.second.number == n; });
        if (!taken)
            return n;
    }
    return -1;
}

// Lets the device sleep while nothing of ours is to be heard; run at the end of every call that
// may start, stop or pause a channel, or notice that one has ended.
void updateActivity() {
    if (!lib.initialised)
        return;
    auto playing = [](ChannelId c) {
        return c && mixer().state(c) == qvcore::ChannelState::Playing;
    };
    bool any = false;
    for (const auto& [key, s] : lib.streams)
        any = any || playing(s.channel);
    for (const auto& [key, m] : lib.modules)
        any = any || playing(m.channel);
    lib.out.setActive(any);
}

using Activity = qvdevice::AfterCall<updateActivity>;
constexpr auto Audible = qvdevice::Effect::Audible;
constexpr auto Silent = qvdevice::Effect::Silent;

// A call on a module or stream handle: under the lock, `body` gets the handle's record. Before
// FSOUND_Init or for an unknown handle the call fails with `refused`.
template <class Handle, class Result, class Body>
Result onRecord(Handle handle, qvdevice::Effect effect, Result refused, Body body) {
    std::lock_guard<std::mutex> lock(apiLock);
    Activity activity{effect};
    if (!lib.initialised) {
        fail(FMOD_ERR_UNINITIALIZED);
        return refused;
    }
    auto* record = find(handle);
    if (!record) {
        fail(FMOD_ERR_INVALID_PARAM);
        return refused;
    }
    return body(*record);
}

constexpr signed char refusedCall = FALSE;

void resetLibrary() {
    lib.out.close();
    lib.modules.clear();
    lib.streams.clear();
    if (lib.mediaFoundation)
        qvmf::shutdown();
    lib.mediaFoundation = false;
    lib.com.leave();
    lib.initialised = false;
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
    if (FAILED(lib.out.open(mixerChannels))) {
        lib.com.leave();
        return fail(FMOD_ERR_INIT);
    }
    lib.maxStreams = maxsoftwarechannels;
    lib.initialised = true;
    return succeed();
}

int F_API FSOUND_GetError(void) {
    return lastError;
}

void F_API FSOUND_Close(void) {
    std::lock_guard<std::mutex> lock(apiLock);
    if (lib.initialised)
        resetLibrary();
    lastError = FMOD_ERR_NONE;
}

signed char F_API FSOUND_SetVolume(int channel, int vol) {
    std::lock_guard<std::mutex> lock(apiLock);
    if (!lib.initialised)
        return fail(FMOD_ERR_UNINITIALIZED);
    const int v = clampVolume(vol);
    bool found = false;
    for (auto& [key, s] : lib.streams) {
        if (channel == FSOUND_ALL || (channel >= 0 && s.number == channel)) {
            s.volume = v;
            mixer().setVolume(s.channel, v);
            found = true;
        }
    }
    if (channel == FSOUND_ALL) {
        for (auto& [key, m] : lib.modules) {
            m.volume = v;
            if (m.channel)
                mixer().setVolume(m.channel, v);
        }
        return succeed();
    }
    return found ? succeed() : fail(FMOD_ERR_INVALID_PARAM);
}

signed char F_API FSOUND_SetPaused(int channel, signed char paused) {
    std::lock_guard<std::mutex> lock(apiLock);
    Activity activity{Audible};
    if (!lib.initialised)
        return fail(FMOD_ERR_UNINITIALIZED);
    bool found = false;
    for (auto& [key, s] : lib.streams) {
        if (channel == FSOUND_ALL || (channel >= 0 && s.number == channel)) {
            mixer().setPaused(s.channel, paused != 0);
            found = true;
        }
    }
    if (channel == FSOUND_ALL) {
        for (auto& [key, m] : lib.modules)
            if (m.channel)
                mixer().setPaused(m.channel, paused != 0);
        return succeed();
    }
    return found ? succeed() : fail(FMOD_ERR_INVALID_PARAM);
}

FMUSIC_MODULE* F_API FMUSIC_LoadSong(const char* name) {
    std::lock_guard<std::mutex> lock(apiLock);
    if (!lib.initialised) {
        fail(FMOD_ERR_UNINITIALIZED);
        return nullptr;
    }
    if (!name) {
        fail(FMOD_ERR_INVALID_PARAM);
        return nullptr;
    }
    Module m;
    m.path = name;
    m.channel = loadModule(m.path, m.numOrders);
    if (!m.channel)
        return nullptr;
    Key key = newKey();
    lib.modules.emplace(key, std::move(m));
    succeed();
    return reinterpret_cast<FMUSIC_MODULE*>(key);
}

signed char F_API FMUSIC_PlaySong(FMUSIC_MODULE* mod) {
    return onRecord(mod, Audible, refusedCall, [](Module& m) {
        if (!m.channel) {
            m.channel = loadModule(m.path, m.numOrders);
            if (!m.channel)
                return refusedCall;
        }
        mixer().setVolume(m.channel, m.volume);
        if (!mixer().play(m.channel, true))
            return fail(FMOD_ERR_PLAY);
        return succeed();
    });
}

signed char F_API FMUSIC_StopSong(FMUSIC_MODULE* mod) {
    return onRecord(mod, Audible, refusedCall, [](Module& m) {
        releaseModule(m);
        return succeed();
    });
}

signed char F_API FMUSIC_SetMasterVolume(FMUSIC_MODULE* mod, int volume) {
    return onRecord(mod, Silent, refusedCall, [volume](Module& m) {
        m.volume = clampVolume(volume);
        if (m.channel)
            mixer().setVolume(m.channel, m.volume);
        return succeed();
    });
}

signed char F_API FMUSIC_SetPaused(FMUSIC_MODULE* mod, signed char pause) {
    return onRecord(mod, Audible, refusedCall, [pause](Module& m) {
        if (m.channel)
            mixer().setPaused(m.channel, pause != 0);
        return succeed();
    });
}

signed char F_API FMUSIC_SetOrder(FMUSIC_MODULE* mod, int order) {
    return onRecord(mod, Audible, refusedCall, [order](Module& m) {
        if (!m.channel || order < 0 || order >= m.numOrders ||
            !mixer().setOrderRow(m.channel, order, 0))
            return fail(FMOD_ERR_INVALID_PARAM);
        return succeed();
    });
}

int F_API FMUSIC_GetNumOrders(FMUSIC_MODULE* mod) {
    return onRecord(mod, Silent, 0, [](Module& m) {
        succeed();
        return m.numOrders;
    });
}

int F_API FMUSIC_GetOrder(FMUSIC_MODULE* mod) {
    return onRecord(mod, Silent, -1, [](Module& m) {
        succeed();
        return m.channel ? std::max(mixer().order(m.channel), 0) : 0;
    });
}

FSOUND_STREAM* F_API FSOUND_Stream_Open(const char* name_or_data, unsigned int, int offset,
                                        int length) {
    std::lock_guard<std::mutex> lock(apiLock);
    if (!lib.initialised) {
        fail(FMOD_ERR_UNINITIALIZED);
        return nullptr;
    }
    // The mode's sample-format bits describe raw PCM; decoded files keep their own format.
    // Offsets and lengths within a file are not offered.
    if (!name_or_data || offset != 0 || length != 0) {
        fail(FMOD_ERR_INVALID_PARAM);
        return nullptr;
    }
    auto file = qvcore::FileData::open(name_or_data);
    if (!file) {
        fail(FMOD_ERR_FILE_NOTFOUND);
        return nullptr;
    }
    auto decoder = openStreamDecoder(name_or_data, std::move(file));
    if (!decoder)
        return nullptr;
    Stream s;
    s.channel = mixer().add(std::move(decoder));
    if (!s.channel) {
        fail(FMOD_ERR_CHANNEL_ALLOC);
        return nullptr;
    }
    Key key = newKey();
    lib.streams.emplace(key, s);
    succeed();
    return reinterpret_cast<FSOUND_STREAM*>(key);
}

int F_API FSOUND_Stream_Play(int channel, FSOUND_STREAM* stream) {
    return onRecord(stream, Audible, -1, [channel](Stream& s) {
        if (channel != FSOUND_FREE && (channel < 0 || channel >= lib.maxStreams)) {
            fail(FMOD_ERR_INVALID_PARAM);
            return -1;
        }
        if (s.number < 0) {
            int n = freeStreamNumber();
            if (n < 0) {
                fail(FMOD_ERR_CHANNEL_ALLOC);
                return -1;
            }
            s.number = n;
        }
        mixer().setVolume(s.channel, s.volume);
        if (!mixer().play(s.channel, s.rewind)) {
            s.number = -1;
            fail(FMOD_ERR_PLAY);
            return -1;
        }
        s.rewind = false;
        succeed();
        return s.number;
    });
}

signed char F_API FSOUND_Stream_Stop(FSOUND_STREAM* stream) {
    return onRecord(stream, Audible, refusedCall, [](Stream& s) {
        mixer().stop(s.channel);
        s.number = -1;
        s.rewind = true;
        return succeed();
    });
}

signed char F_API FSOUND_Stream_Close(FSOUND_STREAM* stream) {
    return onRecord(stream, Audible, refusedCall, [stream](Stream& s) {
        mixer().remove(s.channel);
        lib.streams.erase(reinterpret_cast<Key>(stream));
        return succeed();
    });
}

int F_API FSOUND_Stream_GetLengthMs(FSOUND_STREAM* stream) {
    return onRecord(stream, Silent, 0, [](Stream& s) {
        succeed();
        return static_cast<int>(std::min<std::uint64_t>(mixer().lengthMs(s.channel), INT32_MAX));
    });
}

int F_API FSOUND_Stream_GetTime(FSOUND_STREAM* stream) {
    return onRecord(stream, Audible, 0, [](Stream& s) {
        succeed();
        return static_cast<int>(std::min<std::uint64_t>(mixer().positionMs(s.channel), INT32_MAX));
    });
}

signed char F_API FSOUND_Stream_SetTime(FSOUND_STREAM* stream, int ms) {
    return onRecord(stream, Audible, refusedCall, [ms](Stream& s) {
        if (ms < 0 || !mixer().seekMs(s.channel, static_cast<std::uint64_t>(ms)))
            return fail(FMOD_ERR_INVALID_PARAM);
        // A stopped stream starts from here when it is played again.
        s.rewind = false;
        return succeed();
    });
}

} // extern "C"

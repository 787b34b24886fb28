// A General MIDI sound bank: SoundFont 2 files and DLS level 1/2 collections, read into one
// form that the synthesizer plays from.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

namespace qvmidi {

// SoundFont generator numbers that the synthesizer uses.
enum Generator {
    GenStartOffset = 0,
    GenEndOffset = 1,
    GenStartLoopOffset = 2,
    GenEndLoopOffset = 3,
    GenStartCoarseOffset = 4,
    GenFilterFc = 8,
    GenFilterQ = 9,
    GenEndCoarseOffset = 12,
    GenPan = 17,
    GenDelayVolEnv = 33,
    GenAttackVolEnv = 34,
    GenHoldVolEnv = 35,
    GenDecayVolEnv = 36,
    GenSustainVolEnv = 37,
    GenReleaseVolEnv = 38,
    GenKeyToVolEnvHold = 39,
    GenKeyToVolEnvDecay = 40,
    GenInstrument = 41,
    GenKeyRange = 43,
    GenVelRange = 44,
    GenStartLoopCoarseOffset = 45,
    GenKeynum = 46,
    GenVelocity = 47,
    GenAttenuation = 48,
    GenEndLoopCoarseOffset = 50,
    GenCoarseTune = 51,
    GenFineTune = 52,
    GenSampleId = 53,
    GenSampleModes = 54,
    GenScaleTuning = 56,
    GenExclusiveClass = 57,
    GenRootKey = 58,
    GenCount = 61
};

struct SampleInfo {
    uint32_t start = 0, end = 0, loopStart = 0, loopEnd = 0; // in frames of `pcm`
    uint32_t rate = 44100;
    uint8_t rootKey = 60;
    int8_t correction = 0; // cents
};

// A zone's generators: a value and whether the zone sets it.
struct Zone {
    int16_t gen[GenCount] = {};
    uint64_t set = 0;
    uint8_t keyLo = 0, keyHi = 127, velLo = 0, velHi = 127;
    int link = -1; // instrument index (preset zones) or sample index (instrument zones)

    bool has(int g) const { return (set >> g) & 1; }
    void put(int g, int16_t v) {
        gen[g] = v;
        set |= (uint64_t)1 << g;
    }
};

struct Instrument {
    std::vector<Zone> zones; // global zone already folded into each
};

struct Preset {
    uint16_t bank = 0; // 128 is the percussion bank
    uint16_t program = 0;
    std::vector<Zone> zones; // global zone already folded into each
};

struct SoundBank {
    std::vector<float> pcm; // every sample's frames, mono, -1..1
    std::vector<SampleInfo> samples;
    std::vector<Instrument> instruments;
    std::vector<Preset> presets;

    // The preset for a bank and program, falling back as General MIDI players do.
    const Preset* find(int bank, int program) const;
};

bool looksLikeSoundFont(const uint8_t* data, size_t size);
bool looksLikeDls(const uint8_t* data, size_t size);

// Readers; false with a reason when the bank is unusable. Samples, zones and loops that point
// outside the data are dropped or clamped, never trusted.
bool readSoundFont(const uint8_t* data, size_t size, SoundBank& bank, std::string* error = nullptr);
bool readDls(const uint8_t* data, size_t size, SoundBank& bank, std::string* error = nullptr);

// Reads a file of either kind.
std::shared_ptr<const SoundBank> loadSoundBank(const std::string& path,
                                               std::string* error = nullptr);

} // namespace qvmidi

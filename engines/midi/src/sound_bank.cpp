#include "qvmidi/sound_bank.h"

#include <math.h>
#include <string.h>

#include <algorithm>

#include "qvcore/file_data.h"
#include "rejected.h"

namespace qvmidi {
namespace {

uint16_t le16(const uint8_t* p) {
    return (uint16_t)(p[0] | p[1] << 8);
}
uint32_t le32(const uint8_t* p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

// A bounded view of one RIFF chunk's body.
struct Chunk {
    const uint8_t* data = nullptr;
    size_t size = 0;
    char id[5] = {};
    char listType[5] = {}; // for LIST/RIFF chunks
};

// Iterates the chunks inside a body, clamping every length to what is really there.
struct ChunkReader {
    const uint8_t* at;
    const uint8_t* end;

    bool next(Chunk& chunk) {
        if (end - at < 8)
            return false;
        memcpy(chunk.id, at, 4);
        uint32_t length = le32(at + 4);
        const uint8_t* body = at + 8;
        size_t available = (size_t)(end - body);
        chunk.size = std::min((size_t)length, available);
        chunk.data = body;
        chunk.listType[0] = 0;
        if ((!memcmp(chunk.id, "LIST", 4) || !memcmp(chunk.id, "RIFF", 4)) && chunk.size >= 4) {
            memcpy(chunk.listType, body, 4);
            chunk.listType[4] = 0;
            chunk.data += 4;
            chunk.size -= 4;
        }
        size_t step = 8 + (size_t)length + (length & 1);
        at = step > (size_t)(end - at) ? end : at + step;
        return true;
    }
};

bool isList(const Chunk& c, const char* type) {
    return !memcmp(c.id, "LIST", 4) && !memcmp(c.listType, type, 4);
}
bool is(const Chunk& c, const char* id) {
    return !memcmp(c.id, id, 4);
}

// The chunks inside a bank file's RIFF form.
ChunkReader formBody(const uint8_t* data, size_t size) {
    ChunkReader top{data, data + size};
    Chunk riff;
    top.next(riff);
    return ChunkReader{riff.data, riff.data + riff.size};
}

void setDefaults(Zone& z) {
    z.gen[GenFilterFc] = 13500;
    for (int g : {GenDelayVolEnv, GenAttackVolEnv, GenHoldVolEnv, GenDecayVolEnv, GenReleaseVolEnv})
        z.gen[g] = -12000;
    z.gen[GenScaleTuning] = 100;
    z.gen[GenRootKey] = -1;
    z.gen[GenKeynum] = -1;
    z.gen[GenVelocity] = -1;
}

// Generators allowed in preset zones add to the instrument's; the rest are instrument-only.
const uint64_t instrumentOnly =
    (1ull << GenStartOffset) | (1ull << GenEndOffset) | (1ull << GenStartLoopOffset) |
    (1ull << GenEndLoopOffset) | (1ull << GenStartCoarseOffset) | (1ull << GenEndCoarseOffset) |
    (1ull << GenStartLoopCoarseOffset) | (1ull << GenKeynum) | (1ull << GenVelocity) |
    (1ull << GenEndLoopCoarseOffset) | (1ull << GenSampleModes) | (1ull << GenExclusiveClass) |
    (1ull << GenRootKey);

struct Records {
    const uint8_t* data = nullptr;
    size_t count = 0;
    size_t size = 0;
    void set(const Chunk& c, size_t recordSize) {
        data = c.data;
        size = recordSize;
        count = c.size / recordSize;
    }
    const uint8_t* at(size_t i) const { return data + i * size; }
};

// Reads the zones of one preset or instrument: bags [first, last) of the bag records.
std::vector<Zone> readZones(const Records& bags, const Records& gens, size_t first, size_t last,
                            int linkGenerator, size_t linkLimit) {
    std::vector<Zone> zones;
    Zone global;
    setDefaults(global);
    bool haveGlobal = false;
    if (last > bags.count - 1)
        last = bags.count - 1; // the final bag is only the terminal
    for (size_t b = first; b < last; ++b) {
        size_t genFirst = le16(bags.at(b));
        size_t genLast = std::min((size_t)le16(bags.at(b + 1)), gens.count);
        Zone zone = haveGlobal ? global : Zone();
        if (!haveGlobal)
            setDefaults(zone);
        bool linked = false;
        for (size_t g = genFirst; g < genLast; ++g) {
            const uint8_t* rec = gens.at(g);
            uint16_t op = le16(rec);
            int16_t amount = (int16_t)le16(rec + 2);
            if (op == GenKeyRange) {
                zone.keyLo = rec[2];
                zone.keyHi = rec[3];
            } else if (op == GenVelRange) {
                zone.velLo = rec[2];
                zone.velHi = rec[3];
            } else if ((int)op == linkGenerator) {
                if ((uint16_t)amount < linkLimit) {
                    zone.link = (uint16_t)amount;
                    linked = true;
                }
                break; // the link ends the zone
            } else if (op < GenCount) {
                zone.put(op, amount);
            }
        }
        if (linked) {
            zones.push_back(zone);
        } else if (b == first && !haveGlobal) {
            global = zone;
            haveGlobal = true;
        }
    }
    return zones;
}

} // namespace

const Preset* SoundBank::find(int bank, int program) const {
    // As General MIDI players do: the exact preset, else the same program in the standard bank,
    // else (for drums) the standard kit, else any preset of the right kind.
    const bool drums = bank == 128;
    const int standardBank = drums ? 128 : 0;
    const Preset *standard = nullptr, *kit = nullptr, *any = nullptr;
    for (const Preset& p : presets) {
        if (p.bank == bank && p.program == program)
            return &p;
        if (!standard && p.bank == standardBank && p.program == program)
            standard = &p;
        if (!kit && drums && p.bank == 128 && p.program == 0)
            kit = &p;
        if (!any && (p.bank == 128) == drums)
            any = &p;
    }
    return standard ? standard : kit ? kit : any;
}

bool looksLikeSoundFont(const uint8_t* data, size_t size) {
    return size >= 12 && !memcmp(data, "RIFF", 4) && !memcmp(data + 8, "sfbk", 4);
}

bool looksLikeDls(const uint8_t* data, size_t size) {
    return size >= 12 && !memcmp(data, "RIFF", 4) && !memcmp(data + 8, "DLS ", 4);
}

bool readSoundFont(const uint8_t* data, size_t size, SoundBank& bank, std::string* error) {
    auto fail = [error](const char* why) { return detail::rejected(error, why); };
    bank = SoundBank();
    if (!looksLikeSoundFont(data, size))
        return fail("not a SoundFont");
    Chunk smpl, list, c;
    Records phdr, pbag, pgen, inst, ibag, igen, shdr;
    ChunkReader lists = formBody(data, size);
    while (lists.next(list)) {
        if (isList(list, "sdta")) {
            ChunkReader r{list.data, list.data + list.size};
            while (r.next(c))
                if (is(c, "smpl"))
                    smpl = c;
        } else if (isList(list, "pdta")) {
            // The preset data's record arrays and the size of one record of each.
            const struct {
                const char* id;
                Records& records;
                size_t recordSize;
            } arrays[] = {{"phdr", phdr, 38}, {"pbag", pbag, 4}, {"pgen", pgen, 4},
                          {"inst", inst, 22}, {"ibag", ibag, 4}, {"igen", igen, 4},
                          {"shdr", shdr, 46}};
            ChunkReader r{list.data, list.data + list.size};
            while (r.next(c))
                for (const auto& a : arrays)
                    if (is(c, a.id))
                        a.records.set(c, a.recordSize);
        }
    }
    if (!smpl.data || phdr.count < 2 || pbag.count < 1 || inst.count < 2 || ibag.count < 1 ||
        shdr.count < 2)
        return fail("incomplete SoundFont");

    size_t frames = smpl.size / 2;
    bank.pcm.resize(frames);
    for (size_t i = 0; i < frames; ++i)
        bank.pcm[i] = (int16_t)le16(smpl.data + 2 * i) / 32768.0f;

    for (size_t i = 0; i + 1 < shdr.count; ++i) {
        const uint8_t* rec = shdr.at(i);
        SampleInfo s;
        s.start = le32(rec + 20);
        s.end = le32(rec + 24);
        s.loopStart = le32(rec + 28);
        s.loopEnd = le32(rec + 32);
        s.rate = le32(rec + 36);
        s.rootKey = rec[40] <= 127 ? rec[40] : 60;
        s.correction = (int8_t)rec[41];
        uint16_t type = le16(rec + 44);
        // Out-of-range and ROM samples play as silence rather than reading outside the data.
        if ((type & 0x8000) || s.end > frames || s.start >= s.end || s.rate < 400 ||
            s.rate > 200000) {
            s.start = s.end = s.loopStart = s.loopEnd = 0;
            s.rate = 44100;
        }
        if (s.loopStart < s.start || s.loopEnd > s.end || s.loopStart >= s.loopEnd) {
            s.loopStart = s.start;
            s.loopEnd = s.start; // no usable loop
        }
        bank.samples.push_back(s);
    }
    for (size_t i = 0; i + 1 < inst.count; ++i) {
        Instrument instrument;
        instrument.zones = readZones(ibag, igen, le16(inst.at(i) + 20), le16(inst.at(i + 1) + 20),
                                     GenSampleId, bank.samples.size());
        bank.instruments.push_back(std::move(instrument));
    }
    for (size_t i = 0; i + 1 < phdr.count; ++i) {
        const uint8_t* rec = phdr.at(i);
        Preset preset;
        preset.program = le16(rec + 20);
        preset.bank = le16(rec + 22);
        preset.zones = readZones(pbag, pgen, le16(rec + 24), le16(phdr.at(i + 1) + 24),
                                 GenInstrument, bank.instruments.size());
        for (Zone& z : preset.zones) {
            // Preset generators are offsets: the defaults given by setDefaults do not apply.
            for (int g = 0; g < GenCount; ++g)
                if (!z.has(g) || ((instrumentOnly >> g) & 1))
                    z.gen[g] = 0;
        }
        bank.presets.push_back(std::move(preset));
    }
    if (bank.presets.empty())
        return fail("no presets");
    return true;
}

namespace {

// DLS articulation destinations we map onto the SoundFont volume envelope and pan.
enum DlsDestination : uint16_t {
    dstGain = 0x0001,
    dstPan = 0x0004,
    dstAttack = 0x0206,
    dstDecay = 0x0207,
    dstRelease = 0x0209,
    dstSustain = 0x020A,
    dstDelay = 0x020B,
    dstHold = 0x020C,
    dstFilterCutoff = 0x0500,
    dstFilterQ = 0x0501,
};

int16_t clamp16(double v) {
    return (int16_t)std::max(-32768.0, std::min(32767.0, v));
}

void readArticulation(const Chunk& list, Zone& zone) {
    ChunkReader r{list.data, list.data + list.size};
    Chunk c;
    while (r.next(c)) {
        if (!(is(c, "art1") || is(c, "art2")) || c.size < 8)
            continue;
        uint32_t header = le32(c.data);
        uint32_t count = le32(c.data + 4);
        if (header < 8 || header > c.size)
            continue;
        const uint8_t* block = c.data + header;
        size_t room = (c.size - header) / 12;
        for (uint32_t i = 0; i < count && i < room; ++i, block += 12) {
            uint16_t source = le16(block);
            uint16_t control = le16(block + 2);
            uint16_t destination = le16(block + 4);
            double value = (int32_t)le32(block + 8) / 65536.0;
            if (source != 0 || control != 0)
                continue; // only the unmodulated settings
            switch (destination) {
            case dstAttack: zone.put(GenAttackVolEnv, clamp16(value)); break;
            case dstDecay: zone.put(GenDecayVolEnv, clamp16(value)); break;
            case dstRelease: zone.put(GenReleaseVolEnv, clamp16(value)); break;
            case dstDelay: zone.put(GenDelayVolEnv, clamp16(value)); break;
            case dstHold: zone.put(GenHoldVolEnv, clamp16(value)); break;
            case dstSustain: {
                double level = std::max(0.0, std::min(1.0, value / 1000.0));
                zone.put(GenSustainVolEnv, level <= 0.0 ? 1440 : clamp16(-200.0 * log10(level)));
                break;
            }
            case dstPan: zone.put(GenPan, clamp16(value)); break;
            case dstGain: zone.put(GenAttenuation, clamp16(-value)); break;
            case dstFilterCutoff: zone.put(GenFilterFc, clamp16(value)); break;
            case dstFilterQ: zone.put(GenFilterQ, clamp16(value)); break;
            default: break;
            }
        }
    }
}

struct WaveSample {
    bool read = false;
    uint32_t rate = 22050;
    uint32_t start = 0, frames = 0;
    // The wave's own tuning and loop, used when a region gives none.
    bool hasWsmp = false;
    uint8_t unity = 60;
    int16_t fine = 0;
    int32_t attenuation = 0;
    bool loop = false;
    uint32_t loopStart = 0, loopLength = 0;
};

void readWsmp(const Chunk& c, WaveSample& w) {
    if (c.size < 20)
        return;
    uint32_t header = le32(c.data);
    w.hasWsmp = true;
    w.unity = (uint8_t)std::min<uint16_t>(127, le16(c.data + 4));
    w.fine = (int16_t)le16(c.data + 6);
    w.attenuation = (int32_t)le32(c.data + 8);
    uint32_t loops = le32(c.data + 16);
    w.loop = false;
    if (loops > 0 && header >= 20 && header <= c.size && c.size - header >= 16) {
        const uint8_t* loop = c.data + header;
        w.loop = true;
        w.loopStart = le32(loop + 8);
        w.loopLength = le32(loop + 12);
    }
}

// Appends one wave's frames (first channel) to the bank's sample pool.
bool readWave(const Chunk& waveList, SoundBank& bank, WaveSample& w) {
    ChunkReader r{waveList.data, waveList.data + waveList.size};
    Chunk c, fmt, data;
    while (r.next(c)) {
        if (is(c, "fmt "))
            fmt = c;
        else if (is(c, "data"))
            data = c;
        else if (is(c, "wsmp"))
            readWsmp(c, w);
    }
    if (!fmt.data || fmt.size < 16 || !data.data)
        return false;
    uint16_t tag = le16(fmt.data);
    uint16_t channels = le16(fmt.data + 2);
    uint32_t rate = le32(fmt.data + 4);
    uint16_t bits = le16(fmt.data + 14);
    if (tag != 1 || channels == 0 || channels > 2 || (bits != 8 && bits != 16) || rate < 400 ||
        rate > 200000)
        return false;
    size_t frameBytes = (size_t)channels * bits / 8;
    size_t frames = data.size / frameBytes;
    w.rate = rate;
    w.start = (uint32_t)bank.pcm.size();
    w.frames = (uint32_t)frames;
    for (size_t i = 0; i < frames; ++i) {
        const uint8_t* p = data.data + i * frameBytes;
        bank.pcm.push_back(bits == 8 ? (p[0] - 128) / 128.0f : (int16_t)le16(p) / 32768.0f);
    }
    w.read = true;
    return true;
}

} // namespace

bool readDls(const uint8_t* data, size_t size, SoundBank& bank, std::string* error) {
    auto fail = [error](const char* why) { return detail::rejected(error, why); };
    bank = SoundBank();
    if (!looksLikeDls(data, size))
        return fail("not a DLS collection");
    Chunk c, lins, ptbl, wvpl;
    for (ChunkReader r = formBody(data, size); r.next(c);) {
        if (isList(c, "lins"))
            lins = c;
        else if (is(c, "ptbl"))
            ptbl = c;
        else if (isList(c, "wvpl"))
            wvpl = c;
    }
    if (!lins.data || !ptbl.data || !wvpl.data || ptbl.size < 8)
        return fail("incomplete DLS collection");

    // The pool table: offsets of each wave from the start of the wave pool's body.
    uint32_t cueHeader = le32(ptbl.data);
    uint32_t cues = le32(ptbl.data + 4);
    if (cueHeader < 8 || cueHeader > ptbl.size)
        return fail("bad pool table");
    cues = (uint32_t)std::min<size_t>(cues, (ptbl.size - cueHeader) / 4);
    std::vector<WaveSample> waves(cues);
    for (uint32_t i = 0; i < cues; ++i) {
        uint32_t offset = le32(ptbl.data + cueHeader + 4 * i);
        if (offset > wvpl.size)
            continue;
        ChunkReader wr{wvpl.data + offset, wvpl.data + wvpl.size};
        Chunk wave;
        if (wr.next(wave) && isList(wave, "wave"))
            readWave(wave, bank, waves[i]);
    }

    ChunkReader ir{lins.data, lins.data + lins.size};
    Chunk ins;
    while (ir.next(ins)) {
        if (!isList(ins, "ins "))
            continue;
        Preset preset;
        Instrument instrument;
        Zone instrumentArticulation;
        setDefaults(instrumentArticulation);
        bool haveHeader = false;
        Chunk lrgn;
        ChunkReader cr{ins.data, ins.data + ins.size};
        while (cr.next(c)) {
            if (is(c, "insh") && c.size >= 12) {
                uint32_t bankId = le32(c.data + 4);
                uint32_t program = le32(c.data + 8);
                preset.bank = (bankId & 0x80000000u) ? 128 : (bankId >> 8) & 0x7F;
                preset.program = program & 0x7F;
                haveHeader = true;
            } else if (isList(c, "lrgn")) {
                lrgn = c;
            } else if (isList(c, "lart") || isList(c, "lar2")) {
                readArticulation(c, instrumentArticulation);
            }
        }
        if (!haveHeader || !lrgn.data)
            continue;
        ChunkReader rr{lrgn.data, lrgn.data + lrgn.size};
        Chunk rgn;
        while (rr.next(rgn)) {
            if (!isList(rgn, "rgn ") && !isList(rgn, "rgn2"))
                continue;
            Zone zone = instrumentArticulation;
            WaveSample tuning;
            bool haveRegionWsmp = false;
            int64_t table = -1;
            ChunkReader gr{rgn.data, rgn.data + rgn.size};
            while (gr.next(c)) {
                if (is(c, "rgnh") && c.size >= 8) {
                    zone.keyLo = (uint8_t)std::min<uint16_t>(127, le16(c.data));
                    zone.keyHi = (uint8_t)std::min<uint16_t>(127, le16(c.data + 2));
                    zone.velLo = (uint8_t)std::min<uint16_t>(127, le16(c.data + 4));
                    zone.velHi = (uint8_t)std::min<uint16_t>(127, le16(c.data + 6));
                    if (zone.velHi == 0)
                        zone.velHi = 127; // level 1 files leave the velocity range empty
                } else if (is(c, "wsmp")) {
                    readWsmp(c, tuning);
                    haveRegionWsmp = true;
                } else if (is(c, "wlnk") && c.size >= 12) {
                    table = le32(c.data + 8);
                } else if (isList(c, "lart") || isList(c, "lar2")) {
                    readArticulation(c, zone);
                }
            }
            if (table < 0 || table >= (int64_t)waves.size() || !waves[table].read)
                continue;
            const WaveSample& wave = waves[table];
            if (!haveRegionWsmp)
                tuning = wave;
            SampleInfo s;
            s.start = wave.start;
            s.end = wave.start + wave.frames;
            s.rate = wave.rate;
            s.rootKey = tuning.hasWsmp ? tuning.unity : 60;
            s.correction = (int8_t)std::max(-99, std::min(99, (int)tuning.fine));
            s.loopStart = s.loopEnd = s.start;
            if (tuning.loop && tuning.loopLength > 0 && tuning.loopStart < wave.frames &&
                tuning.loopLength <= wave.frames - tuning.loopStart) {
                s.loopStart = s.start + tuning.loopStart;
                s.loopEnd = s.loopStart + tuning.loopLength;
                zone.put(GenSampleModes, 1);
            }
            if (tuning.attenuation != 0)
                zone.put(GenAttenuation,
                         clamp16(zone.gen[GenAttenuation] - tuning.attenuation / 65536.0));
            zone.link = (int)bank.samples.size();
            bank.samples.push_back(s);
            instrument.zones.push_back(zone);
        }
        if (instrument.zones.empty())
            continue;
        Zone presetZone; // all offsets zero
        presetZone.link = (int)bank.instruments.size();
        bank.instruments.push_back(std::move(instrument));
        preset.zones.push_back(presetZone);
        bank.presets.push_back(std::move(preset));
    }
    if (bank.presets.empty())
        return fail("no instruments");
    return true;
}

std::shared_ptr<const SoundBank> loadSoundBank(const std::string& path, std::string* error) {
    const auto file = qvcore::FileData::open(path.c_str());
    const size_t limit = 512u << 20; // larger banks are not General MIDI sets we can hold
    if (!file || file->size() > limit) {
        if (error)
            *error = "cannot open " + path;
        return nullptr;
    }
    // Read whole before it is parsed into memory of its own: nothing plays from the file.
    const size_t size = file->waitFor(0, file->size());
    const uint8_t* bytes = file->data();
    auto bank = std::make_shared<SoundBank>();
    bool ok = looksLikeSoundFont(bytes, size) ? readSoundFont(bytes, size, *bank, error)
                                              : readDls(bytes, size, *bank, error);
    if (!ok)
        return nullptr;
    return bank;
}

} // namespace qvmidi

#include "qvmidi/midi_file.h"

#include <string.h>

#include <algorithm>

#include "rejected.h"

namespace qvmidi {
namespace {

// Bounds that keep a hostile file from taking unbounded time or memory.
const size_t maxEvents = 4 * 1024 * 1024;
const uint32_t maxTracks = 1024;
const uint32_t maxTick = 0x7FFFFFFF;
const uint32_t defaultTempo = 500000; // 120 beats per minute

uint32_t be32(const uint8_t* p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}
uint16_t be16(const uint8_t* p) {
    return (uint16_t)(p[0] << 8 | p[1]);
}
uint32_t le32(const uint8_t* p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

// Finds the SMF inside an RMID file; returns the plain file otherwise.
bool unwrap(const uint8_t*& data, size_t& size) {
    if (size >= 12 && memcmp(data, "RIFF", 4) == 0 && memcmp(data + 8, "RMID", 4) == 0) {
        size_t end = std::min(size, (size_t)le32(data + 4) + 8);
        size_t at = 12;
        while (at + 8 <= end) {
            uint32_t length = le32(data + at + 4);
            if (memcmp(data + at, "data", 4) == 0) {
                size_t available = end - (at + 8);
                data += at + 8;
                size = std::min((size_t)length, available);
                return true;
            }
            at += 8 + (size_t)length + (length & 1);
        }
        return false;
    }
    return true;
}

struct TrackEvent {
    MidiEvent event;
    uint32_t order; // position in the file, to keep same-tick events in file order
};

struct Reader {
    const uint8_t* at;
    const uint8_t* end;

    bool more() const { return at < end; }
    bool varLength(uint32_t& value) {
        value = 0;
        for (int i = 0; i < 4; ++i) {
            if (at >= end)
                return false;
            uint8_t byte = *at++;
            value = value << 7 | (byte & 0x7F);
            if (!(byte & 0x80))
                return true;
        }
        return false;
    }
};

int dataBytes(uint8_t status) {
    switch (status & 0xF0) {
    case 0xC0:
    case 0xD0: return 1;
    default: return 2;
    }
}

} // namespace

bool looksLikeMidi(const uint8_t* data, size_t size) {
    if (!unwrap(data, size))
        return false;
    return size >= 14 && memcmp(data, "MThd", 4) == 0 && be32(data + 4) >= 6;
}

bool parseMidi(const uint8_t* data, size_t size, MidiSong& song, std::string* error) {
    auto fail = [error](const char* why) { return detail::rejected(error, why); };
    song = MidiSong();
    if (!unwrap(data, size))
        return fail("RIFF file without MIDI data");
    if (size < 14 || memcmp(data, "MThd", 4) != 0)
        return fail("not a MIDI file");
    uint32_t headerLength = be32(data + 4);
    if (headerLength < 6 || headerLength > size - 8)
        return fail("bad header");
    uint16_t format = be16(data + 8);
    uint32_t trackCount = be16(data + 10);
    uint16_t division = be16(data + 12);
    if (format > 2)
        return fail("unknown format");
    if (trackCount == 0 || trackCount > maxTracks)
        return fail("bad track count");
    if (division & 0x8000) {
        // SMPTE time: ticks per second; expressed as a fixed tempo of one "quarter" a second.
        int framesPerSecond = -(int8_t)(division >> 8);
        int ticksPerFrame = division & 0xFF;
        if (framesPerSecond <= 0 || ticksPerFrame == 0)
            return fail("bad time division");
        song.ticksPerQuarter = (uint32_t)(framesPerSecond * ticksPerFrame);
        song.tempos.push_back({0, 1000000});
    } else {
        if (division == 0)
            return fail("bad time division");
        song.ticksPerQuarter = division;
    }

    std::vector<TrackEvent> events;
    std::vector<TempoChange> tempos;
    std::vector<TimeSignature> signatures;
    uint32_t order = 0;
    size_t at = 8 + headerLength;
    uint32_t tracksRead = 0;
    // Format 2 tracks are independent songs: play them one after another.
    uint32_t trackStart = 0;
    while (tracksRead < trackCount && at + 8 <= size) {
        uint32_t length = be32(data + at + 4);
        bool isTrack = memcmp(data + at, "MTrk", 4) == 0;
        size_t bodyStart = at + 8;
        size_t bodyEnd = bodyStart + std::min((size_t)length, size - bodyStart);
        at = bodyEnd;
        if (!isTrack)
            continue; // unknown chunks are skipped
        ++tracksRead;

        Reader r{data + bodyStart, data + bodyEnd};
        uint32_t tick = format == 2 ? trackStart : 0;
        uint8_t running = 0;
        while (r.more()) {
            uint32_t delta;
            if (!r.varLength(delta))
                break;
            if (delta > maxTick - tick)
                break;
            tick += delta;
            if (!r.more())
                break;
            uint8_t status = *r.at;
            if (status & 0x80) {
                ++r.at;
            } else if (running) {
                status = running; // running status: the byte is data
            } else {
                break; // data with no status to run on: the track is damaged
            }

            if (status == 0xFF) {
                running = 0;
                if (!r.more())
                    break;
                uint8_t type = *r.at++;
                uint32_t metaLength;
                if (!r.varLength(metaLength) || metaLength > (size_t)(r.end - r.at))
                    break;
                const uint8_t* meta = r.at;
                r.at += metaLength;
                if (type == 0x2F)
                    break; // end of track
                if (type == 0x51 && metaLength >= 3) {
                    uint32_t tempo = (uint32_t)meta[0] << 16 | meta[1] << 8 | meta[2];
                    if (tempo > 0 && !(division & 0x8000))
                        tempos.push_back({tick, tempo});
                } else if (type == 0x58 && metaLength >= 2) {
                    uint8_t numerator = meta[0];
                    uint8_t power = meta[1];
                    if (numerator > 0 && power <= 6)
                        signatures.push_back({tick, numerator, (uint8_t)(1u << power)});
                }
                song.endTick = std::max(song.endTick, tick);
                continue;
            }
            if (status == 0xF0 || status == 0xF7) {
                running = 0;
                uint32_t sysexLength;
                if (!r.varLength(sysexLength) || sysexLength > (size_t)(r.end - r.at))
                    break;
                r.at += sysexLength;
                continue;
            }
            if (status >= 0xF1) {
                // System common/real-time bytes have no place in a file; skip what they carry.
                running = 0;
                static const int lengths[16] = {0, 1, 2, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
                int skip = lengths[status & 0x0F];
                if (skip > r.end - r.at)
                    break;
                r.at += skip;
                continue;
            }
            running = status;
            int count = dataBytes(status);
            if (count > r.end - r.at)
                break;
            uint8_t a = r.at[0] & 0x7F;
            uint8_t b = count == 2 ? (r.at[1] & 0x7F) : 0;
            r.at += count;
            if (events.size() >= maxEvents)
                return fail("too many events");
            events.push_back({{tick, status, a, b}, order++});
            song.endTick = std::max(song.endTick, tick);
        }
        if (format == 2)
            trackStart = song.endTick;
    }
    if (tracksRead == 0)
        return fail("no tracks");

    std::stable_sort(events.begin(), events.end(), [](const TrackEvent& x, const TrackEvent& y) {
        return x.event.tick < y.event.tick;
    });
    song.events.reserve(events.size());
    for (const TrackEvent& e : events)
        song.events.push_back(e.event);

    auto byTick = [](const auto& x, const auto& y) { return x.tick < y.tick; };
    std::stable_sort(tempos.begin(), tempos.end(), byTick);
    std::stable_sort(signatures.begin(), signatures.end(), byTick);
    if (song.tempos.empty()) {
        if (tempos.empty() || tempos.front().tick != 0)
            song.tempos.push_back({0, defaultTempo});
        for (const TempoChange& t : tempos) {
            if (!song.tempos.empty() && song.tempos.back().tick == t.tick)
                song.tempos.back() = t; // the last change at a tick wins
            else
                song.tempos.push_back(t);
        }
    }
    if (signatures.empty() || signatures.front().tick != 0)
        song.timeSignatures.push_back({0, 4, 4});
    for (const TimeSignature& s : signatures) {
        if (!song.timeSignatures.empty() && song.timeSignatures.back().tick == s.tick)
            song.timeSignatures.back() = s;
        else
            song.timeSignatures.push_back(s);
    }

    // Bars: each signature starts a new bar (a change in mid-bar cuts that bar short).
    for (size_t i = 0; i < song.timeSignatures.size(); ++i) {
        const TimeSignature& s = song.timeSignatures[i];
        uint64_t barLength = (uint64_t)song.ticksPerQuarter * 4 * s.numerator / s.denominator;
        if (barLength == 0)
            barLength = 1;
        uint64_t stop = i + 1 < song.timeSignatures.size() ? song.timeSignatures[i + 1].tick
                                                           : (uint64_t)song.endTick;
        uint64_t tick = s.tick;
        do {
            if (song.barTicks.size() >= maxEvents)
                return fail("too many bars");
            song.barTicks.push_back((uint32_t)tick);
            tick += barLength;
        } while (tick < stop);
    }
    return true;
}

double MidiSong::secondsAt(uint32_t tick) const {
    double seconds = 0;
    for (size_t i = 0; i < tempos.size(); ++i) {
        uint32_t from = tempos[i].tick;
        if (from >= tick)
            break;
        uint32_t to = i + 1 < tempos.size() ? std::min(tempos[i + 1].tick, tick) : tick;
        seconds += (double)(to - from) * tempos[i].microsPerQuarter / 1e6 / ticksPerQuarter;
    }
    return seconds;
}

uint32_t MidiSong::tickAt(double seconds) const {
    double elapsed = 0;
    for (size_t i = 0; i < tempos.size(); ++i) {
        double secondsPerTick = tempos[i].microsPerQuarter / 1e6 / ticksPerQuarter;
        bool last = i + 1 == tempos.size();
        double span = last ? 1e300 : (tempos[i + 1].tick - tempos[i].tick) * secondsPerTick;
        if (seconds < elapsed + span) {
            double ticks = tempos[i].tick + (seconds - elapsed) / secondsPerTick;
            return ticks >= maxTick ? maxTick : (uint32_t)ticks;
        }
        elapsed += span;
    }
    return endTick;
}

int MidiSong::barAt(uint32_t tick) const {
    auto it = std::upper_bound(barTicks.begin(), barTicks.end(), tick);
    return it == barTicks.begin() ? 0 : (int)(it - barTicks.begin()) - 1;
}

} // namespace qvmidi

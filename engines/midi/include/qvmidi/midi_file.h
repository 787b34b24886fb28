// Standard MIDI Files (format 0 and 1) and RIFF RMID files, read into one time-ordered list of
// channel events with the tempo map applied.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace qvmidi {

struct MidiEvent {
    uint32_t tick;
    uint8_t status; // channel message: 0x80..0xEF
    uint8_t data1;
    uint8_t data2;
};

struct TempoChange {
    uint32_t tick;
    uint32_t microsPerQuarter;
};

struct TimeSignature {
    uint32_t tick;
    uint8_t numerator;
    uint8_t denominator; // the note value itself: 4 for x/4, 8 for x/8
};

struct MidiSong {
    uint32_t ticksPerQuarter = 480;
    std::vector<MidiEvent> events;             // sorted by tick; same-tick events keep file order
    std::vector<TempoChange> tempos;           // sorted, first one at tick 0
    std::vector<TimeSignature> timeSignatures; // sorted, first one at tick 0
    std::vector<uint32_t> barTicks;            // start tick of every bar; at least one
    uint32_t endTick = 0;

    // Seconds from the start of the song to the tick, through the tempo map.
    double secondsAt(uint32_t tick) const;
    // The tick at a time in seconds (the inverse of secondsAt).
    uint32_t tickAt(double seconds) const;
    // The bar that holds the tick.
    int barAt(uint32_t tick) const;
    double lengthSeconds() const { return secondsAt(endTick); }
};

// Whether the bytes start like a MIDI file (SMF header, or RIFF RMID holding one).
bool looksLikeMidi(const uint8_t* data, size_t size);

// Reads a whole file. Returns false, with a reason, for anything malformed beyond repair;
// a track cut short or without its end marker is read up to where it stops.
bool parseMidi(const uint8_t* data, size_t size, MidiSong& song, std::string* error = nullptr);

} // namespace qvmidi

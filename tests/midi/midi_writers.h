// Small writers for MIDI files and sound banks, so the tests make every input themselves.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace midiwrite {

using Bytes = std::vector<uint8_t>;

// One track's events: (delta ticks, raw bytes) pairs; the end-of-track marker is added.
struct Track {
    std::vector<std::pair<uint32_t, Bytes>> events;
    bool endMarker = true;
    Track& add(uint32_t delta, Bytes bytes) {
        events.emplace_back(delta, std::move(bytes));
        return *this;
    }
};

Bytes smf(int format, uint16_t division, const std::vector<Track>& tracks);
Bytes rmid(const Bytes& smfBytes);
Bytes tempo(uint32_t microsPerQuarter);
Bytes timeSignature(uint8_t numerator, uint8_t denominatorPower);

// A sine of `frequency` Hz sampled at `rate`, `cycles` whole cycles long, looped over all of it.
struct SineSample {
    double frequency;
    uint32_t rate;
    int cycles;
    uint8_t rootKey;
};

struct BankPreset {
    uint16_t bank;
    uint16_t program;
    int sample; // index into the samples
};

Bytes soundFont(const std::vector<SineSample>& samples, const std::vector<BankPreset>& presets);
Bytes dls(const std::vector<SineSample>& samples, const std::vector<BankPreset>& presets);

} // namespace midiwrite

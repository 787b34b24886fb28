// The dense General MIDI song of the MIDI benchmarks: every channel plays a new four-note chord
// every quarter note at 120 bpm, each held a half note, so about 16 x 8 notes sound at once and
// the 64-voice limit is always busy. 60 seconds.
#pragma once

#include <stdio.h>

#include <memory>
#include <string>

#include "midi_writers.h"
#include "qvmidi/sound_bank.h"

// The bank named on the command line, or Debian's General MIDI one.
inline const char* benchBankPath(int argc, char** argv) {
    return argc > 1 ? argv[1] : "/usr/share/sounds/sf2/TimGM6mb.sf2";
}

// Null (and said why) when the bank cannot be loaded.
inline std::shared_ptr<const qvmidi::SoundBank> benchSoundBank(const char* path) {
    std::string error;
    auto bank = qvmidi::loadSoundBank(path, &error);
    if (!bank)
        fprintf(stderr, "no sound bank: %s\n", error.c_str());
    return bank;
}

inline midiwrite::Bytes denseSong() {
    std::vector<midiwrite::Track> tracks;
    for (int ch = 0; ch < 16; ++ch) {
        midiwrite::Track t;
        t.add(0, {(uint8_t)(0xC0 | ch), (uint8_t)(ch * 8)});
        uint32_t pending = 0;
        for (int beat = 0; beat < 120; ++beat) {
            int root = 40 + (beat * 5 + ch * 3) % 36;
            for (int k = 0; k < 4; ++k)
                t.add(k == 0 ? pending : 0, {(uint8_t)(0x90 | ch), (uint8_t)(root + k * 4), 90});
            pending = 480;
            if (beat > 0)
                for (int k = 0; k < 4; ++k) {
                    int old = 40 + ((beat - 1) * 5 + ch * 3) % 36;
                    t.add(0, {(uint8_t)(0x80 | ch), (uint8_t)(old + k * 4), 0});
                }
        }
        tracks.push_back(t);
    }
    return midiwrite::smf(1, 480, tracks);
}

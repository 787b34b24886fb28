// Plays a MIDI song through the synthesizer: events at their sample-exact times, bars as the
// song's orders, and an optional loop back to the start at the end.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <vector>

#include "qvmidi/midi_file.h"
#include "qvmidi/synth.h"

namespace qvmidi {

class MidiPlayer {
public:
    MidiPlayer(MidiSong song, std::shared_ptr<const SoundBank> bank, uint32_t sampleRate,
               int maxVoices = 64);

    // Renders stereo frames. Without looping, returns fewer frames once the song and its last
    // notes' release have ended; with looping it always fills the buffer.
    size_t render(float* out, size_t frames);

    void setLooping(bool loop) { looping = loop; }
    int bars() const { return (int)song.barTicks.size(); }
    int currentBar() const;
    // Jumps to the start of a bar, with programs and controllers as the song set them there.
    void setBar(int bar);
    double positionSeconds() const { return (double)position / synth.sampleRate(); }
    double lengthSeconds() const { return (double)endSample / synth.sampleRate(); }
    bool ended() const { return finished; }
    const Synth& synthesizer() const { return synth; }

private:
    void restart();

    MidiSong song;
    Synth synth;
    std::vector<uint64_t> eventSamples; // when each event falls, in output samples
    uint64_t endSample = 0;
    uint64_t position = 0;
    size_t nextEvent = 0;
    bool looping = false;
    bool finished = false;
};

} // namespace qvmidi

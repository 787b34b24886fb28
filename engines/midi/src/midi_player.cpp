#include "qvmidi/midi_player.h"

#include <string.h>

#include <algorithm>

namespace qvmidi {
namespace {

const size_t maxStep = 64;         // events land within this many samples of their time at most
const double maxTailSeconds = 3.0; // how long released notes may ring after the song

} // namespace

MidiPlayer::MidiPlayer(MidiSong s, std::shared_ptr<const SoundBank> bank, uint32_t sampleRate,
                       int maxVoices)
    : song(std::move(s)), synth(std::move(bank), sampleRate, maxVoices) {
    // One sweep through events and tempo changes together.
    double rate = synth.sampleRate();
    eventSamples.reserve(song.events.size());
    size_t t = 0;
    double secondsAtTempo = 0;
    uint32_t tempoTick = 0;
    double secondsPerTick = song.tempos.empty()
                                ? 0.5 / song.ticksPerQuarter
                                : song.tempos[0].microsPerQuarter / 1e6 / song.ticksPerQuarter;
    auto toSample = [&](uint32_t tick) {
        while (t + 1 < song.tempos.size() && song.tempos[t + 1].tick <= tick) {
            ++t;
            secondsAtTempo += (song.tempos[t].tick - tempoTick) * secondsPerTick;
            tempoTick = song.tempos[t].tick;
            secondsPerTick = song.tempos[t].microsPerQuarter / 1e6 / song.ticksPerQuarter;
        }
        return (uint64_t)((secondsAtTempo + (tick - tempoTick) * secondsPerTick) * rate + 0.5);
    };
    for (const MidiEvent& e : song.events)
        eventSamples.push_back(toSample(e.tick));
    endSample = toSample(song.endTick);
}

void MidiPlayer::restart() {
    synth.reset();
    position = 0;
    nextEvent = 0;
    finished = false;
}

int MidiPlayer::currentBar() const {
    return song.barAt(song.tickAt(positionSeconds()));
}

void MidiPlayer::setBar(int bar) {
    restart();
    if (song.barTicks.empty())
        return;
    bar = std::max(0, std::min(bar, (int)song.barTicks.size() - 1));
    uint32_t tick = song.barTicks[bar];
    // Chase: everything before the bar but the notes themselves.
    while (nextEvent < song.events.size() && song.events[nextEvent].tick < tick) {
        const MidiEvent& e = song.events[nextEvent++];
        synth.event(e.status, e.data1, e.data2, true);
    }
    position = (uint64_t)(song.secondsAt(tick) * synth.sampleRate() + 0.5);
}

size_t MidiPlayer::render(float* out, size_t frames) {
    size_t done = 0;
    const uint64_t tailEnd = endSample + (uint64_t)(maxTailSeconds * synth.sampleRate());
    while (done < frames) {
        while (nextEvent < eventSamples.size() && eventSamples[nextEvent] <= position) {
            const MidiEvent& e = song.events[nextEvent++];
            synth.event(e.status, e.data1, e.data2);
        }
        if (position >= endSample && nextEvent >= eventSamples.size()) {
            if (looping && endSample > 0) {
                restart();
                continue;
            }
            if (looping) { // an empty song loops as silence
                synth.render(out + 2 * done, frames - done);
                position += frames - done;
                done = frames;
                break;
            }
            if (synth.activeVoices() == 0 || position >= tailEnd) {
                finished = true;
                break;
            }
        }
        size_t n = std::min(frames - done, maxStep);
        if (nextEvent < eventSamples.size() && eventSamples[nextEvent] > position)
            n = (size_t)std::min<uint64_t>(n, eventSamples[nextEvent] - position);
        if (position < endSample)
            n = (size_t)std::min<uint64_t>(n, endSample - position);
        synth.render(out + 2 * done, n);
        position += n;
        done += n;
    }
    if (done < frames)
        memset(out + 2 * done, 0, (frames - done) * 2 * sizeof(float));
    return done;
}

} // namespace qvmidi

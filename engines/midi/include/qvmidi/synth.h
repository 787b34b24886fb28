// A SoundFont synthesizer: sixteen MIDI channels playing a sound bank's presets into float
// stereo. One thread at a time; it allocates nothing after construction.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <vector>

#include "qvmidi/sound_bank.h"

namespace qvmidi {

class Synth {
public:
    Synth(std::shared_ptr<const SoundBank> bank, uint32_t sampleRate, int maxVoices = 64);

    // A channel message (status 0x80..0xEF). Notes are skipped while chasing.
    void event(uint8_t status, uint8_t data1, uint8_t data2, bool chasing = false);
    // Silences every voice and puts every channel back to its power-on state.
    void reset();
    // Writes (not adds) `frames` stereo frames, through the master gain and a soft limiter that
    // keeps every sample below full scale.
    void render(float* out, size_t frames);

    int activeVoices() const;
    uint32_t sampleRate() const { return rate; }
    int program(int channel) const { return channels[channel & 15].program; }
    int controller(int channel, int cc) const { return channels[channel & 15].cc[cc & 127]; }
    int pitchBend(int channel) const { return channels[channel & 15].bend; }

private:
    struct Channel {
        uint8_t cc[128];
        int program;
        int bend;      // 0..16383, 8192 is centre
        int bendRange; // semitones
        int rpn;       // selected registered parameter, or -1
    };
    enum Stage : uint8_t { Delay, Attack, Hold, Decay, Sustain, Release, Finished };
    struct Voice {
        bool active;
        uint8_t channel, key, velocity;
        bool held;      // key still down
        bool sustained; // key up, kept by the pedal
        uint64_t age;
        int exclusiveClass;
        const float* pcm;
        double pos;
        uint32_t end, loopStart, loopEnd;
        int loopMode;
        double pitchCents; // without the channel's bend
        double rateRatio;  // sample rate over output rate
        double step;
        float pan;           // -500..500
        float attenuationDb; // bank and velocity
        float gainL, gainR;  // pan, volume and velocity
        // Volume envelope, in dB of attenuation (0 is full).
        Stage stage;
        double stageLeft; // samples left in delay/attack/hold
        float attackSamples, holdSamples;
        float envDb;
        float decayDbPerSample, sustainDb, releaseDbPerSample;
        float envGain; // linear gain at the start of the current block
        // Low-pass filter.
        bool filtered;
        float b0, b1, b2, a1, a2;
        float x1, x2, y1, y2;
    };

    template <bool Loop, bool Filter>
    static bool span(Voice& v, float* out, size_t n, float env, float envStep, float gl, float gr);
    void noteOn(int channel, int key, int velocity);
    void noteOff(int channel, int key);
    void controlChange(int channel, int cc, int value);
    void releaseVoice(Voice& v);
    void updateGains(Voice& v);
    void updatePitch(Voice& v);
    Voice& freeVoice();
    void startVoice(const Zone& presetZone, const Zone& zone, int channel, int key, int velocity);
    void limit(float* out, size_t frames);

    std::shared_ptr<const SoundBank> bank;
    uint32_t rate;
    Channel channels[16];
    std::vector<Voice> voices;
    uint64_t nextAge = 0;
    float limiterRelease; // the envelope's fall per frame
    float limiterEnvelope = 0;
};

} // namespace qvmidi

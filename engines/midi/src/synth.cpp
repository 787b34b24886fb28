#include "qvmidi/synth.h"

#include <math.h>
#include <string.h>

#include <algorithm>

namespace qvmidi {
namespace {

const float silentDb = 96.0f;
const size_t block = 32; // envelope and gain steps are computed once per block
// A bank's samples at their own level leave a General MIDI piano note some 25 dB below a
// module's note; the limiter below catches what dense songs add up to.
const float masterGain = 10.0f;
// Soft limiter: transparent up to the knee, then bending the peak envelope towards the ceiling,
// which it never reaches, so the mixer's conversion never clips.
const float limiterKnee = 0.45f;    // -7 dBFS
const float limiterCeiling = 0.89f; // -1 dBFS
const double limiterReleaseSeconds = 0.2;

double timecentsToSeconds(double tc) {
    return tc <= -12000 ? 0.0 : pow(2.0, tc / 1200.0);
}
float dbToGain(float db) {
    return db >= silentDb ? 0.0f : powf(10.0f, -db / 20.0f);
}
// MIDI volume-like values map to attenuation as amplitude (value/127)^2.
float levelDb(int value) {
    return value <= 0 ? silentDb : 40.0f * log10f(127.0f / value);
}

} // namespace

Synth::Synth(std::shared_ptr<const SoundBank> b, uint32_t sampleRate, int maxVoices)
    : bank(std::move(b)), rate(sampleRate ? sampleRate : 44100),
      voices((size_t)std::max(1, maxVoices)),
      limiterRelease((float)exp(-1.0 / (limiterReleaseSeconds * rate))) {
    reset();
}

void Synth::reset() {
    for (Voice& v : voices)
        v.active = false;
    limiterEnvelope = 0;
    for (int c = 0; c < 16; ++c) {
        Channel& ch = channels[c];
        memset(ch.cc, 0, sizeof ch.cc);
        ch.cc[7] = 100;
        ch.cc[10] = 64;
        ch.cc[11] = 127;
        ch.cc[100] = ch.cc[101] = 127;
        ch.program = 0;
        ch.bend = 8192;
        ch.bendRange = 2;
        ch.rpn = -1;
    }
}

int Synth::activeVoices() const {
    int n = 0;
    for (const Voice& v : voices)
        n += v.active;
    return n;
}

void Synth::event(uint8_t status, uint8_t a, uint8_t b, bool chasing) {
    int channel = status & 15;
    switch (status & 0xF0) {
    case 0x80: noteOff(channel, a); break;
    case 0x90:
        if (chasing)
            break;
        if (b == 0)
            noteOff(channel, a);
        else
            noteOn(channel, a, b);
        break;
    case 0xB0: controlChange(channel, a & 127, b & 127); break;
    case 0xC0: channels[channel].program = a & 127; break;
    case 0xE0: {
        channels[channel].bend = (b & 127) << 7 | (a & 127);
        for (Voice& v : voices)
            if (v.active && v.channel == channel)
                updatePitch(v);
        break;
    }
    default: break; // aftertouch is not used
    }
}

void Synth::controlChange(int channel, int cc, int value) {
    Channel& ch = channels[channel];
    ch.cc[cc] = (uint8_t)value;
    switch (cc) {
    case 6: // data entry: only the pitch bend range is a registered parameter we honour
        if (ch.rpn == 0)
            ch.bendRange = std::min(value, 24);
        break;
    case 7:
    case 10:
    case 11:
        for (Voice& v : voices)
            if (v.active && v.channel == channel)
                updateGains(v);
        break;
    case 64:
        if (value < 64)
            for (Voice& v : voices)
                if (v.active && v.channel == channel && v.sustained)
                    releaseVoice(v);
        break;
    case 100:
    case 101: ch.rpn = ch.cc[101] == 0 ? ch.cc[100] : -1; break;
    case 98:
    case 99: ch.rpn = -1; break;
    case 120: // all sound off
        for (Voice& v : voices)
            if (v.channel == channel)
                v.active = false;
        break;
    case 121: // reset controllers
        ch.cc[1] = 0;
        ch.cc[11] = 127;
        ch.cc[64] = 0;
        ch.bend = 8192;
        ch.rpn = -1;
        for (Voice& v : voices)
            if (v.active && v.channel == channel) {
                if (v.sustained)
                    releaseVoice(v);
                updatePitch(v);
                updateGains(v);
            }
        break;
    case 123: // all notes off
        for (Voice& v : voices)
            if (v.active && v.channel == channel && (v.held || v.sustained))
                releaseVoice(v);
        break;
    default: break;
    }
}

void Synth::noteOff(int channel, int key) {
    bool pedal = channels[channel].cc[64] >= 64;
    for (Voice& v : voices)
        if (v.active && v.held && v.channel == channel && v.key == key) {
            v.held = false;
            if (pedal)
                v.sustained = true;
            else
                releaseVoice(v);
        }
}

void Synth::releaseVoice(Voice& v) {
    v.held = false;
    v.sustained = false;
    if (v.stage == Release || v.stage == Finished)
        return;
    // Release from the level the voice has reached, also in the middle of its attack.
    v.envDb = v.envGain > 1e-5f ? -20.0f * log10f(v.envGain) : silentDb;
    v.stage = Release;
    if (v.loopMode == 3)
        v.loopMode = 0; // the sample plays out past its loop once the key is up
}

void Synth::noteOn(int channel, int key, int velocity) {
    if (!bank)
        return;
    int bankNumber = channel == 9 ? 128 : channels[channel].cc[0];
    const Preset* preset = bank->find(bankNumber, channels[channel].program);
    if (!preset)
        return;
    // A key struck again cuts its own earlier voices short, as on a piano.
    for (Voice& v : voices)
        if (v.active && v.channel == channel && v.key == key && (v.held || v.sustained))
            releaseVoice(v);
    for (const Zone& pz : preset->zones) {
        if (key < pz.keyLo || key > pz.keyHi || velocity < pz.velLo || velocity > pz.velHi)
            continue;
        if (pz.link < 0 || (size_t)pz.link >= bank->instruments.size())
            continue;
        for (const Zone& iz : bank->instruments[pz.link].zones) {
            if (key < iz.keyLo || key > iz.keyHi || velocity < iz.velLo || velocity > iz.velHi)
                continue;
            if (iz.link < 0 || (size_t)iz.link >= bank->samples.size())
                continue;
            startVoice(pz, iz, channel, key, velocity);
        }
    }
}

Synth::Voice& Synth::freeVoice() {
    Voice* quietest = nullptr;
    Voice* oldest = &voices[0];
    for (Voice& v : voices) {
        if (!v.active)
            return v;
        if (v.stage == Release && (!quietest || v.envDb > quietest->envDb))
            quietest = &v;
        if (v.age < oldest->age)
            oldest = &v;
    }
    return quietest ? *quietest : *oldest;
}

void Synth::startVoice(const Zone& pz, const Zone& iz, int channel, int key, int velocity) {
    auto gen = [&](int g) { return (int)iz.gen[g] + (int)pz.gen[g]; };
    const SampleInfo& s = bank->samples[iz.link];
    if (s.end <= s.start)
        return;

    int exclusive = iz.gen[GenExclusiveClass];
    if (exclusive != 0)
        for (Voice& v : voices)
            if (v.active && v.channel == channel && v.exclusiveClass == exclusive)
                v.active = false;

    Voice& v = freeVoice();
    memset(&v, 0, sizeof v);
    v.active = true;
    v.channel = (uint8_t)channel;
    v.key = (uint8_t)key;
    v.velocity = (uint8_t)velocity;
    v.held = true;
    v.age = nextAge++;
    v.exclusiveClass = exclusive;
    v.pcm = bank->pcm.data();

    // Sample window, moved by the offset generators and kept inside the sample.
    auto clampTo = [&](int64_t x) {
        return (uint32_t)std::max<int64_t>(s.start, std::min<int64_t>(s.end, x));
    };
    uint32_t start =
        clampTo((int64_t)s.start + iz.gen[GenStartOffset] + 32768ll * iz.gen[GenStartCoarseOffset]);
    v.end = clampTo((int64_t)s.end + iz.gen[GenEndOffset] + 32768ll * iz.gen[GenEndCoarseOffset]);
    v.loopStart = clampTo((int64_t)s.loopStart + iz.gen[GenStartLoopOffset] +
                          32768ll * iz.gen[GenStartLoopCoarseOffset]);
    v.loopEnd = clampTo((int64_t)s.loopEnd + iz.gen[GenEndLoopOffset] +
                        32768ll * iz.gen[GenEndLoopCoarseOffset]);
    v.loopMode = iz.gen[GenSampleModes] & 3;
    if (v.loopMode == 2 || v.loopEnd <= v.loopStart + 1 || v.loopEnd > v.end)
        v.loopMode = 0;
    if (start + 1 >= v.end) {
        v.active = false;
        return;
    }
    v.pos = start;

    int rootKey =
        iz.gen[GenRootKey] >= 0 && iz.gen[GenRootKey] <= 127 ? iz.gen[GenRootKey] : s.rootKey;
    int pitchKey = iz.gen[GenKeynum] >= 0 && iz.gen[GenKeynum] <= 127 ? iz.gen[GenKeynum] : key;
    v.pitchCents = (pitchKey - rootKey) * (double)gen(GenScaleTuning) + gen(GenCoarseTune) * 100.0 +
                   gen(GenFineTune) + s.correction;
    v.rateRatio = (double)s.rate / rate;
    updatePitch(v);

    int vel =
        iz.gen[GenVelocity] >= 1 && iz.gen[GenVelocity] <= 127 ? iz.gen[GenVelocity] : velocity;
    v.attenuationDb = std::max(0, gen(GenAttenuation)) / 10.0f + levelDb(vel);
    v.pan = (float)std::max(-500, std::min(500, gen(GenPan)));

    // Volume envelope.
    double keyOffset = 60 - key;
    double delay = timecentsToSeconds(gen(GenDelayVolEnv));
    double attack = timecentsToSeconds(gen(GenAttackVolEnv));
    double hold = timecentsToSeconds(gen(GenHoldVolEnv) + keyOffset * gen(GenKeyToVolEnvHold));
    double decay = timecentsToSeconds(gen(GenDecayVolEnv) + keyOffset * gen(GenKeyToVolEnvDecay));
    double release = timecentsToSeconds(gen(GenReleaseVolEnv));
    v.sustainDb = std::max(0.0f, std::min(silentDb, gen(GenSustainVolEnv) / 10.0f));
    v.decayDbPerSample = decay > 0 ? (float)(100.0 / (decay * rate)) : silentDb;
    // A release shorter than a few milliseconds clicks; keep it audible-click free.
    v.releaseDbPerSample = (float)(100.0 / (std::max(release, 0.005) * rate));
    v.attackSamples = (float)(attack * rate);
    v.holdSamples = (float)(hold * rate);
    v.stage = Delay;
    v.stageLeft = delay * rate;
    v.envDb = silentDb;
    v.envGain = 0;

    // Low-pass filter (a biquad), off when its cutoff is out of hearing.
    int fcCents = gen(GenFilterFc);
    double fc = 8.176 * pow(2.0, fcCents / 1200.0);
    if (fcCents < 13500 && fc < 0.45 * rate) {
        double q = std::max(0.7071, pow(10.0, std::max(0, gen(GenFilterQ)) / 200.0));
        double w = 2 * M_PI * fc / rate;
        double alpha = sin(w) / (2 * q);
        double a0 = 1 + alpha;
        v.b0 = (float)((1 - cos(w)) / 2 / a0);
        v.b1 = (float)((1 - cos(w)) / a0);
        v.b2 = v.b0;
        v.a1 = (float)(-2 * cos(w) / a0);
        v.a2 = (float)((1 - alpha) / a0);
        v.filtered = true;
    }
    updateGains(v);
}

void Synth::updatePitch(Voice& v) {
    const Channel& ch = channels[v.channel];
    double bendCents = (ch.bend - 8192) / 8192.0 * ch.bendRange * 100.0;
    // A step of 1024 (ten octaves up at equal rates) is far past hearing; a bank's tuning can
    // ask for steps up to infinity.
    v.step = std::min(v.rateRatio * pow(2.0, (v.pitchCents + bendCents) / 1200.0), 1024.0);
}

void Synth::updateGains(Voice& v) {
    const Channel& ch = channels[v.channel];
    float pan = v.pan + (ch.cc[10] - 64) / 64.0f * 500.0f;
    pan = std::max(-500.0f, std::min(500.0f, pan));
    float angle = (pan + 500.0f) / 1000.0f * (float)M_PI_2;
    float db = v.attenuationDb + levelDb(ch.cc[7]) + levelDb(ch.cc[11]);
    float g = dbToGain(db) * masterGain;
    v.gainL = cosf(angle) * g;
    v.gainR = sinf(angle) * g;
}

// One voice's samples for part of a block, with its loop and filter choices fixed at compile
// time and its state in locals (the output buffer could otherwise alias it). True when the
// sample has played out.
template <bool Loop, bool Filter>
bool Synth::span(Voice& v, float* o, size_t n, float env, float envStep, float gl, float gr) {
    const float* pcm = v.pcm;
    double pos = v.pos;
    const double step = v.step;
    const double loopStart = v.loopStart, loopEnd = v.loopEnd, loopLength = loopEnd - loopStart;
    const double last = (double)v.end - 1;
    const uint32_t loopEndIndex = v.loopEnd, loopStartIndex = v.loopStart;
    float x1 = v.x1, x2 = v.x2, y1 = v.y1, y2 = v.y2;
    const float b0 = v.b0, b1 = v.b1, b2 = v.b2, a1 = v.a1, a2 = v.a2;
    bool ended = false;
    for (size_t i = 0; i < n; ++i) {
        uint32_t idx = (uint32_t)pos;
        float frac = (float)(pos - idx);
        uint32_t nextIdx = idx + 1;
        if (Loop && nextIdx >= loopEndIndex)
            nextIdx = loopStartIndex + (nextIdx - loopEndIndex);
        float sample = pcm[idx] + (pcm[nextIdx] - pcm[idx]) * frac;
        if (Filter) {
            float y = b0 * sample + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
            x2 = x1;
            x1 = sample;
            y2 = y1;
            y1 = y;
            sample = y;
        }
        sample *= env;
        env += envStep;
        o[2 * i] += sample * gl;
        o[2 * i + 1] += sample * gr;
        pos += step;
        if (Loop && pos >= loopEnd) {
            // A bank's extreme tuning can step many loop lengths at once, further than repeated
            // subtraction can come back from.
            pos = loopStart + fmod(pos - loopStart, loopLength);
            if (pos >= loopEnd)
                pos = loopStart;
        } else if (!Loop && pos >= last) {
            ended = true;
            break;
        }
    }
    v.pos = pos;
    v.x1 = x1, v.x2 = x2, v.y1 = y1, v.y2 = y2;
    return ended;
}

void Synth::render(float* out, size_t frames) {
    memset(out, 0, frames * 2 * sizeof(float));
    for (Voice& v : voices) {
        if (!v.active)
            continue;
        float* o = out;
        size_t left = frames;
        while (left > 0 && v.active) {
            size_t n = std::min(left, block);
            // Envelope: advance by n samples, ramp linearly between the block's end points.
            float startGain = v.envGain;
            switch (v.stage) {
            case Delay:
                v.stageLeft -= (double)n;
                if (v.stageLeft <= 0) {
                    v.stage = Attack;
                    v.stageLeft = v.attackSamples;
                }
                break;
            case Attack:
                v.stageLeft -= (double)n;
                if (v.stageLeft <= 0) {
                    v.stage = Hold;
                    v.stageLeft = v.holdSamples;
                    v.envDb = 0;
                }
                break;
            case Hold:
                v.stageLeft -= (double)n;
                if (v.stageLeft <= 0)
                    v.stage = Decay;
                break;
            case Decay:
                v.envDb += v.decayDbPerSample * n;
                if (v.envDb >= v.sustainDb) {
                    v.envDb = v.sustainDb;
                    v.stage = Sustain;
                }
                break;
            case Sustain: break;
            case Release: v.envDb += v.releaseDbPerSample * n; break;
            case Finished: break;
            }
            float endGain;
            if (v.stage == Attack) {
                float total = std::max(1.0f, v.attackSamples);
                endGain = std::min(1.0f, (float)(1.0 - v.stageLeft / total));
                v.envDb = 0;
            } else if (v.stage == Delay) {
                endGain = 0;
            } else {
                endGain = dbToGain(v.envDb);
            }
            if (v.stage == Release && v.envDb >= silentDb) {
                v.active = false;
                endGain = 0;
            }
            v.envGain = endGain;

            float gl = v.gainL, gr = v.gainR;
            float env = startGain, envStep = (endGain - startGain) / (float)n;
            bool ended = v.loopMode
                             ? (v.filtered ? span<true, true>(v, o, n, env, envStep, gl, gr)
                                           : span<true, false>(v, o, n, env, envStep, gl, gr))
                             : (v.filtered ? span<false, true>(v, o, n, env, envStep, gl, gr)
                                           : span<false, false>(v, o, n, env, envStep, gl, gr));
            if (ended)
                v.active = false;
            o += 2 * n;
            left -= n;
        }
    }
    limit(out, frames);
}

// The envelope follows each peak at once and falls back slowly, so the gain never lets a sample
// past the ceiling and changes smoothly afterwards.
void Synth::limit(float* out, size_t frames) {
    const float range = limiterCeiling - limiterKnee;
    float envelope = limiterEnvelope;
    for (size_t i = 0; i < frames; ++i) {
        float l = out[2 * i], r = out[2 * i + 1];
        // The envelope first: a NaN sample must not stick in it.
        envelope = std::max(envelope * limiterRelease, std::max(fabsf(l), fabsf(r)));
        if (envelope > limiterKnee) {
            float g = (limiterKnee + range * tanhf((envelope - limiterKnee) / range)) / envelope;
            out[2 * i] = l * g;
            out[2 * i + 1] = r * g;
        }
    }
    limiterEnvelope = envelope;
}

} // namespace qvmidi

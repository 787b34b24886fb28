// The MIDI reader, the two bank readers and the synthesizer, on inputs the tests make.
#include <gtest/gtest.h>

#include <math.h>

#include "midi_writers.h"
#include "qvmidi/midi_decoder.h"
#include "qvmidi/midi_player.h"

using namespace qvmidi;
using midiwrite::Bytes;
using midiwrite::Track;

namespace {

const uint32_t rate = 44100;

Bytes noteOn(int channel, int key, int velocity) {
    return {(uint8_t)(0x90 | channel), (uint8_t)key, (uint8_t)velocity};
}
Bytes noteOff(int channel, int key) {
    return {(uint8_t)(0x80 | channel), (uint8_t)key, 0};
}

MidiSong parsed(const Bytes& bytes) {
    MidiSong song;
    std::string error;
    EXPECT_TRUE(parseMidi(bytes.data(), bytes.size(), song, &error)) << error;
    return song;
}

// The strongest frequency between 50 Hz and 4 kHz, to the nearest hertz (left channel).
double dominantFrequency(const std::vector<float>& stereo) {
    size_t n = stereo.size() / 2;
    double best = 0, bestPower = -1;
    for (int f = 50; f <= 4000; ++f) {
        double w = 2 * M_PI * f / rate, coeff = 2 * cos(w), s1 = 0, s2 = 0;
        for (size_t i = 0; i < n; ++i) {
            double s0 = stereo[2 * i] + coeff * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
        if (power > bestPower) {
            bestPower = power;
            best = f;
        }
    }
    return best;
}

double rms(const std::vector<float>& stereo) {
    double sum = 0;
    for (float v : stereo)
        sum += (double)v * v;
    return sqrt(sum / std::max<size_t>(1, stereo.size()));
}

std::vector<float> renderSeconds(MidiPlayer& player, double seconds) {
    std::vector<float> out((size_t)(seconds * rate) * 2);
    player.render(out.data(), out.size() / 2);
    return out;
}

// Bank: program 0 is a 440 Hz sine at key 69; the drum kit (bank 128) is a 1000 Hz sine at
// key 69 whatever key is struck, because drum zones here are keyed like melodic ones.
std::shared_ptr<SoundBank> testBank(bool useDls) {
    std::vector<midiwrite::SineSample> samples = {{440.0, 44000, 40, 69}, {1000.0, 44000, 50, 69}};
    std::vector<midiwrite::BankPreset> presets = {{0, 0, 0}, {128, 0, 1}};
    Bytes bytes =
        useDls ? midiwrite::dls(samples, presets) : midiwrite::soundFont(samples, presets);
    auto bank = std::make_shared<SoundBank>();
    std::string error;
    bool ok = useDls ? readDls(bytes.data(), bytes.size(), *bank, &error)
                     : readSoundFont(bytes.data(), bytes.size(), *bank, &error);
    EXPECT_TRUE(ok) << error;
    return bank;
}

Bytes oneNote(int channel, int key, uint32_t lengthTicks) {
    Track t;
    t.add(0, noteOn(channel, key, 100)).add(lengthTicks, noteOff(channel, key));
    return midiwrite::smf(0, 480, {t});
}

TEST(MidiReader, MergesTracksAndAppliesTempoChanges) {
    Track conductor;
    conductor.add(0, midiwrite::tempo(500000)).add(960, midiwrite::tempo(250000));
    Track notes;
    // Running status: the second note-on leaves out its status byte.
    notes.add(0, noteOn(0, 60, 100))
        .add(480, {62, 100})
        .add(960, noteOff(0, 60))
        .add(480, {0x80 | 0, 62, 0});
    MidiSong song = parsed(midiwrite::smf(1, 480, {conductor, notes}));
    ASSERT_EQ(song.events.size(), 4u);
    EXPECT_EQ(song.events[1].status, 0x90);
    EXPECT_EQ(song.events[1].data1, 62);
    EXPECT_EQ(song.events[1].tick, 480u);
    EXPECT_EQ(song.endTick, 1920u);
    // Two quarters at 0.5 s, then two at 0.25 s.
    EXPECT_DOUBLE_EQ(song.secondsAt(960), 1.0);
    EXPECT_DOUBLE_EQ(song.secondsAt(1920), 1.5);
    EXPECT_EQ(song.tickAt(1.25), 1440u);
}

TEST(MidiReader, CountsBarsAcrossTimeSignatureChanges) {
    Track t;
    // Two bars of 4/4, then three of 3/4, then 6/8 up to the end.
    t.add(0, midiwrite::timeSignature(4, 2))
        .add(2 * 1920, midiwrite::timeSignature(3, 2))
        .add(3 * 1440, midiwrite::timeSignature(6, 3))
        .add(0, noteOn(0, 60, 90))
        .add(1440 * 2 - 1, noteOff(0, 60));
    MidiSong song = parsed(midiwrite::smf(0, 480, {t}));
    ASSERT_EQ(song.barTicks.size(), 7u);
    EXPECT_EQ(song.barTicks[2], 3840u);
    EXPECT_EQ(song.barTicks[5], 3840u + 3 * 1440);
    EXPECT_EQ(song.barAt(3840u + 1440), 3);

    MidiSong plain = parsed(oneNote(0, 60, 1920 * 3));
    EXPECT_EQ(plain.barTicks.size(), 3u) << "4/4 when no signature is given";
}

TEST(MidiReader, ReadsRmidAndSurvivesDamage) {
    Bytes file = oneNote(0, 60, 480);
    EXPECT_TRUE(looksLikeMidi(file.data(), file.size()));
    Bytes wrapped = midiwrite::rmid(file);
    EXPECT_TRUE(looksLikeMidi(wrapped.data(), wrapped.size()));
    EXPECT_EQ(parsed(wrapped).events.size(), 2u);

    // Every truncation either fails cleanly or gives what was there.
    for (size_t n = 0; n < file.size(); ++n) {
        MidiSong song;
        parseMidi(file.data(), n, song);
    }
    // Zero tempo is ignored; a track without its end marker ends where its data does.
    Track t;
    t.endMarker = false;
    t.add(0, {0xFF, 0x51, 0x03, 0, 0, 0}).add(0, noteOn(0, 60, 90)).add(480, noteOff(0, 60));
    MidiSong song = parsed(midiwrite::smf(0, 480, {t}));
    EXPECT_DOUBLE_EQ(song.lengthSeconds(), 0.5);
    // A length field far beyond the file is clamped to the file.
    Bytes lying = oneNote(0, 60, 480);
    lying[18] = 0x7F;
    EXPECT_EQ(parsed(lying).events.size(), 2u);
    // Nonsense is refused.
    Bytes junk = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 9, 0, 1, 0, 0};
    EXPECT_FALSE(parseMidi(junk.data(), junk.size(), song));
}

class Synthesis : public ::testing::TestWithParam<bool> {};

TEST_P(Synthesis, PlaysTheNoteAtItsPitchAndTheDrumKitOnChannelTen) {
    auto bank = testBank(GetParam());
    ASSERT_EQ(bank->presets.size(), 2u);
    MidiPlayer melodic(parsed(oneNote(0, 69, 960)), bank, rate);
    std::vector<float> a4 = renderSeconds(melodic, 0.8);
    EXPECT_NEAR(dominantFrequency(a4), 440.0, 2.0);
    EXPECT_GT(rms(a4), 0.01);

    MidiPlayer octave(parsed(oneNote(0, 81, 960)), bank, rate);
    EXPECT_NEAR(dominantFrequency(renderSeconds(octave, 0.8)), 880.0, 3.0);

    MidiPlayer drums(parsed(oneNote(9, 69, 960)), bank, rate);
    EXPECT_NEAR(dominantFrequency(renderSeconds(drums, 0.8)), 1000.0, 3.0);
}

INSTANTIATE_TEST_SUITE_P(Banks, Synthesis, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Dls" : "SoundFont"; });

TEST(Synthesis, VolumeControllersSustainAndPitchBend) {
    auto bank = testBank(false);
    // Half volume on CC7 is about 12 dB quieter (the square law of MIDI volume). Soft notes: the
    // limiter must not take part.
    Track loud, soft;
    loud.add(0, noteOn(0, 69, 40)).add(960, noteOff(0, 69));
    soft.add(0, {0xB0, 7, 50})
        .add(0, {0xB0, 11, 127})
        .add(0, noteOn(0, 69, 40))
        .add(960, noteOff(0, 69));
    loud.events.insert(loud.events.begin(), {0, {0xB0, 7, 100}});
    MidiPlayer a(parsed(midiwrite::smf(0, 480, {loud})), bank, rate);
    MidiPlayer b(parsed(midiwrite::smf(0, 480, {soft})), bank, rate);
    double ratioDb = 20 * log10(rms(renderSeconds(a, 0.5)) / rms(renderSeconds(b, 0.5)));
    EXPECT_NEAR(ratioDb, 40 * log10(100.0 / 50.0), 0.5);

    // With the pedal down the note rings after its note-off; without, it dies away.
    Track pedal;
    pedal.add(0, {0xB0, 64, 127})
        .add(0, noteOn(0, 69, 100))
        .add(240, noteOff(0, 69))
        .add(1680, {0xB0, 64, 0});
    MidiPlayer held(parsed(midiwrite::smf(0, 480, {pedal})), bank, rate);
    std::vector<float> heldOut = renderSeconds(held, 1.5);
    std::vector<float> tail(heldOut.begin() + 2 * rate, heldOut.begin() + 2 * (rate + 4410));
    EXPECT_GT(rms(tail), 0.01);

    // A full bend up with the default range of two semitones.
    Track bend;
    bend.add(0, {0xE0, 0x7F, 0x7F}).add(0, noteOn(0, 69, 100)).add(960, noteOff(0, 69));
    MidiPlayer bent(parsed(midiwrite::smf(0, 480, {bend})), bank, rate);
    EXPECT_NEAR(dominantFrequency(renderSeconds(bent, 0.8)), 440.0 * pow(2.0, 2.0 / 12), 3.0);
}

TEST(Synthesis, PolyphonyIsLimitedByStealingVoices) {
    auto bank = testBank(false);
    Track chord;
    for (int key = 30; key < 110; ++key)
        chord.add(0, noteOn(0, key, 100));
    chord.add(960, noteOff(0, 30));
    MidiPlayer player(parsed(midiwrite::smf(0, 480, {chord})), bank, rate, 16);
    renderSeconds(player, 0.1);
    EXPECT_EQ(player.synthesizer().activeVoices(), 16);
}

TEST(MidiPlayer, BarsSeekWithChasedProgramsAndLoopAtTheEnd) {
    auto bank = testBank(false);
    Track t;
    // Bar 0: program 5 and volume 90 on channel 0; bar 2: a note. 4 bars in all.
    t.add(0, {0xC0, 5})
        .add(0, {0xB0, 7, 90})
        .add(3840, noteOn(0, 69, 100))
        .add(1920, noteOff(0, 69))
        .add(1920, {0xB0, 10, 64});
    MidiPlayer player(parsed(midiwrite::smf(0, 480, {t})), bank, rate);
    EXPECT_EQ(player.bars(), 4);
    player.setBar(2);
    EXPECT_EQ(player.currentBar(), 2);
    EXPECT_EQ(player.synthesizer().program(0), 5);
    EXPECT_EQ(player.synthesizer().controller(0, 7), 90);
    EXPECT_NEAR(player.positionSeconds(), 4.0, 0.001);

    // Played to its end with looping on, it comes back to bar 0 and goes on.
    player.setLooping(true);
    player.setBar(3);
    std::vector<float> out(rate * 2 * 3);
    EXPECT_EQ(player.render(out.data(), rate * 3), (size_t)rate * 3);
    EXPECT_EQ(player.currentBar(), 0);
    EXPECT_LT(player.positionSeconds(), 2.0);

    // Without looping it ends.
    MidiPlayer once(parsed(oneNote(0, 69, 240)), bank, rate);
    std::vector<float> buf(rate * 2 * 5);
    EXPECT_LT(once.render(buf.data(), rate * 5), (size_t)rate * 5);
    EXPECT_TRUE(once.ended());
}

TEST(SoundBanks, DamagedBanksAreRefusedOrPlaySafely) {
    Bytes good = midiwrite::soundFont({{440.0, 44000, 40, 69}}, {{0, 0, 0}});
    Bytes dlsGood = midiwrite::dls({{440.0, 44000, 40, 69}}, {{0, 0, 0}});
    for (const Bytes* source : {&good, &dlsGood}) {
        for (size_t n = 0; n < source->size(); n += 7) {
            SoundBank bank;
            bool ok = source == &good ? readSoundFont(source->data(), n, bank)
                                      : readDls(source->data(), n, bank);
            if (!ok)
                continue;
            auto shared = std::make_shared<SoundBank>(std::move(bank));
            MidiPlayer player(parsed(oneNote(0, 69, 480)), shared, rate);
            renderSeconds(player, 0.2);
        }
    }
    // Sample bounds beyond the data: the sample is silenced, never read out of range.
    Bytes broken = good;
    size_t shdr = 0;
    for (size_t i = 0; i + 4 < broken.size(); ++i)
        if (!memcmp(&broken[i], "shdr", 4))
            shdr = i + 8;
    ASSERT_NE(shdr, 0u);
    broken[shdr + 24 + 3] = 0x7F; // end far past the sample data
    SoundBank bank;
    ASSERT_TRUE(readSoundFont(broken.data(), broken.size(), bank));
    MidiPlayer player(parsed(oneNote(0, 69, 480)), std::make_shared<SoundBank>(std::move(bank)),
                      rate);
    EXPECT_LT(rms(renderSeconds(player, 0.3)), 1e-6);
}

// A bank's tuning can step a looped sample many loop lengths a frame, up to an infinite step:
// the voice plays on in bounded time, with finite samples.
TEST(SoundBanks, ExtremeTuningOfALoopedSampleStaysFinite) {
    for (int16_t scaleTuning : {1200, 32767}) {
        auto bank = std::make_shared<SoundBank>();
        bank->pcm.assign(64, 0.5f);
        SampleInfo sample;
        sample.end = 64;
        sample.loopStart = 10;
        sample.loopEnd = 12;
        sample.rootKey = 0;
        bank->samples.push_back(sample);
        Zone zone;
        zone.link = 0;
        zone.put(GenSampleModes, 1);
        zone.put(GenScaleTuning, scaleTuning);
        zone.put(GenKeynum, 127);
        zone.put(GenDelayVolEnv, -12000);
        zone.put(GenAttackVolEnv, -12000);
        bank->instruments.push_back({{zone}});
        Zone presetZone;
        presetZone.link = 0;
        bank->presets.push_back({0, 0, {presetZone}});
        MidiPlayer player(parsed(oneNote(0, 127, 480)), bank, rate);
        for (float x : renderSeconds(player, 0.2))
            ASSERT_TRUE(std::isfinite(x)) << scaleTuning;
    }
}

TEST(SoundBanks, GeneralMidiSoundFontPlaysAPianoA4) {
    std::string error;
    auto bank = loadSoundBank("/usr/share/sounds/sf2/TimGM6mb.sf2", &error);
    if (!bank)
        GTEST_SKIP() << "the General MIDI SoundFont package is not installed: " << error;
    MidiPlayer player(parsed(oneNote(0, 69, 960)), bank, rate);
    std::vector<float> out = renderSeconds(player, 0.8);
    EXPECT_NEAR(dominantFrequency(out), 440.0, 4.0);
}

// A piano note sits where a module's note does (-20 dBFS or so), and sixteen channels of loud
// chords are held below full scale instead of clipping.
TEST(SoundBanks, GeneralMidiIsAsLoudAsModulesAndDenseSongsStayBelowFullScale) {
    std::vector<Track> tracks(16);
    for (int ch = 0; ch < 16; ++ch) {
        tracks[ch].add(0, {(uint8_t)(0xB0 | ch), 7, 127});
        for (int k = 0; k < 8; ++k)
            tracks[ch].add(0, noteOn(ch, 48 + 3 * k + ch, 127));
    }
    MidiPlayer dense(parsed(midiwrite::smf(1, 480, tracks)), testBank(false), rate);
    std::vector<float> out = renderSeconds(dense, 1.0);
    float peak = 0;
    for (float v : out) {
        ASSERT_TRUE(std::isfinite(v));
        peak = std::max(peak, fabsf(v));
    }
    EXPECT_LT(peak, 0.9f);
    EXPECT_GT(20 * log10(rms(out)), -12.0) << "held down, not silenced";

    auto bank = loadSoundBank("/usr/share/sounds/sf2/TimGM6mb.sf2");
    if (!bank)
        GTEST_SKIP() << "the General MIDI SoundFont package is not installed";
    MidiPlayer piano(parsed(oneNote(0, 69, 960)), bank, rate);
    EXPECT_NEAR(20 * log10(rms(renderSeconds(piano, 1.0))), -21.0, 4.0);
}

} // namespace

namespace {

TEST(MidiDecoder, IsAModuleWhoseOrdersAreBars) {
    auto bank = testBank(false);
    Track t;
    t.add(0, noteOn(0, 69, 100)).add(1920 * 3, noteOff(0, 69));
    Bytes bytes = midiwrite::smf(0, 480, {t});
    auto file = qvcore::FileData::fromBytes(bytes.data(), bytes.size());
    EXPECT_EQ(qvmidi::openMidi(file, nullptr, qvcore::ModuleEnd::Loop), nullptr) << "no bank";
    Bytes junk(100, 0x55);
    EXPECT_EQ(qvmidi::openMidi(qvcore::FileData::fromBytes(junk.data(), junk.size()), bank,
                               qvcore::ModuleEnd::Loop),
              nullptr);

    auto decoder = qvmidi::openMidi(file, bank, qvcore::ModuleEnd::Loop);
    ASSERT_NE(decoder, nullptr);
    EXPECT_EQ(decoder->kind(), qvcore::Kind::Module);
    EXPECT_EQ(decoder->moduleType(), "midi");
    EXPECT_TRUE(decoder->setRenderRate(48000));
    EXPECT_EQ(decoder->numOrders(), 3);
    EXPECT_EQ(decoder->lengthMs(), 6000u);
    EXPECT_TRUE(decoder->setOrderRow(2, 0));
    EXPECT_EQ(decoder->currentOrder(), 2);
    EXPECT_FALSE(decoder->setOrderRow(3, 0));
    // Looping: past the end it is back in bar 0.
    std::vector<float> out(48000 * 2 * 3);
    EXPECT_EQ(decoder->render(out.data(), 48000 * 3), 48000u * 3);
    EXPECT_EQ(decoder->currentOrder(), 0);

    EXPECT_EQ(qvmidi::findSoundBank({"/nonexistent/bank.sf2"}), nullptr);
}

} // namespace

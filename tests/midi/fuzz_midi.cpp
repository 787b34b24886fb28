// Fuzz target: one of the three MIDI readers (chosen at build time), then a short render.
#include <stddef.h>
#include <stdint.h>

#include <memory>

#include "qvmidi/midi_player.h"

namespace {

[[maybe_unused]] std::shared_ptr<const qvmidi::SoundBank> tinyBank() {
    auto bank = std::make_shared<qvmidi::SoundBank>();
    bank->pcm.assign(64, 0.5f);
    qvmidi::SampleInfo s;
    s.start = 0;
    s.end = 64;
    s.loopStart = 0;
    s.loopEnd = 64;
    bank->samples.push_back(s);
    qvmidi::Zone zone;
    zone.link = 0;
    zone.put(qvmidi::GenSampleModes, 1);
    bank->instruments.push_back({{zone}});
    qvmidi::Zone presetZone;
    presetZone.link = 0;
    bank->presets.push_back({0, 0, {presetZone}});
    return bank;
}

[[maybe_unused]] qvmidi::MidiSong tinySong() {
    qvmidi::MidiSong song;
    for (int key = 36; key < 96; key += 3)
        song.events.push_back({(uint32_t)(key - 36) * 20, 0x90, (uint8_t)key, 100});
    song.tempos.push_back({0, 500000});
    song.timeSignatures.push_back({0, 4, 4});
    song.barTicks.push_back(0);
    song.endTick = 1920;
    return song;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
#if defined(FUZZ_MIDI_FILE)
    qvmidi::MidiSong song;
    if (!qvmidi::parseMidi(data, size, song))
        return 0;
    qvmidi::MidiPlayer player(std::move(song), tinyBank(), 8000);
    player.setBar(player.bars() / 2);
#else
    auto bank = std::make_shared<qvmidi::SoundBank>();
#if defined(FUZZ_SOUNDFONT)
    if (!qvmidi::readSoundFont(data, size, *bank))
        return 0;
#else
    if (!qvmidi::readDls(data, size, *bank))
        return 0;
#endif
    qvmidi::MidiPlayer player(tinySong(), bank, 8000);
#endif
    float out[2 * 512];
    for (int i = 0; i < 8; ++i)
        player.render(out, 512);
    return 0;
}

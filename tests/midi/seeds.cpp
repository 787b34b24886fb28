// Writes a seed corpus for the MIDI fuzz targets: a few valid inputs of each kind.
#include <stdio.h>

#include <string>

#include "midi_writers.h"

namespace {

void save(const std::string& path, const midiwrite::Bytes& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return;
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: quaverly_midi_seeds MIDI_DIR SF2_DIR DLS_DIR\n");
        return 2;
    }
    midiwrite::Track t;
    t.add(0, midiwrite::tempo(400000)).add(0, midiwrite::timeSignature(3, 2));
    t.add(0, {0xC0, 5}).add(0, {0x90, 60, 100}).add(240, {64, 90}).add(240, {0x80, 60, 0});
    t.add(0, {0xB0, 64, 127}).add(10, {0xE0, 0, 0x50}).add(100, {0xF0, 2, 1, 0xF7});
    save(std::string(argv[1]) + "/song.mid", midiwrite::smf(1, 96, {t, t}));
    save(std::string(argv[1]) + "/song.rmi", midiwrite::rmid(midiwrite::smf(0, 480, {t})));
    std::vector<midiwrite::SineSample> samples = {{440.0, 8000, 4, 69}, {1000.0, 8000, 5, 60}};
    std::vector<midiwrite::BankPreset> presets = {{0, 0, 0}, {128, 0, 1}};
    save(std::string(argv[2]) + "/bank.sf2", midiwrite::soundFont(samples, presets));
    save(std::string(argv[3]) + "/bank.dls", midiwrite::dls(samples, presets));
    return 0;
}

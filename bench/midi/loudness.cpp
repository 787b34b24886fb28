// How loud MIDI plays beside a module: a velocity-100 piano A4 from the General MIDI bank and the
// dense benchmark song, each as RMS and peak in dBFS, and a module's note at full volume, all as
// the decoders hand them to the mixer. Prints figures; asserts nothing.
#include <math.h>
#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dense_song.h"
#include "qvcore/qvcore.h"
#include "qvmidi/midi_decoder.h"
#include "tests/gen/gen.h"

namespace {

const uint32_t rate = 44100;

struct Level {
    double rmsDb = -200, peakDb = -200;
    size_t overs = 0; // samples at or beyond full scale
};

double toDb(double x) {
    return x > 0 ? 20 * log10(x) : -200;
}

// Renders `seconds` (the whole of it when the decoder ends sooner) after skipping `skip`.
Level measure(qvcore::Decoder& decoder, double skip, double seconds) {
    decoder.setRenderRate(rate);
    std::vector<float> buffer(2 * 1024);
    size_t skipFrames = (size_t)(skip * rate), frames = (size_t)(seconds * rate), done = 0;
    double sum = 0, peak = 0;
    Level level;
    while (done < skipFrames + frames) {
        size_t n =
            decoder.render(buffer.data(), std::min<size_t>(1024, skipFrames + frames - done));
        if (n == 0)
            break;
        for (size_t i = 0; i < 2 * n; ++i) {
            if (done + i / 2 < skipFrames)
                continue;
            double v = buffer[i];
            sum += v * v;
            peak = std::max(peak, fabs(v));
            level.overs += fabs(v) >= 1.0;
        }
        done += n;
    }
    size_t counted = done > skipFrames ? done - skipFrames : 0;
    level.rmsDb = toDb(sqrt(sum / std::max<size_t>(1, 2 * counted)));
    level.peakDb = toDb(peak);
    return level;
}

void print(const char* what, const Level& l) {
    printf("%-46s RMS %6.1f dBFS  peak %6.1f dBFS  samples at full scale %zu\n", what, l.rmsDb,
           l.peakDb, l.overs);
}

std::unique_ptr<qvcore::Decoder> midi(const midiwrite::Bytes& bytes,
                                      std::shared_ptr<const qvmidi::SoundBank> bank) {
    return qvmidi::openMidi(qvcore::FileData::fromBytes(bytes.data(), bytes.size()),
                            std::move(bank), qvcore::ModuleEnd::Stop);
}

} // namespace

int main(int argc, char** argv) {
    const char* bankPath = benchBankPath(argc, argv);
    auto bank = benchSoundBank(bankPath);
    if (!bank)
        return 1;

    // Grand piano (program 0), A4 at velocity 100 held one second; its first second is measured.
    midiwrite::Track note;
    note.add(0, {0x90, 69, 100}).add(960, {0x80, 69, 0});
    auto piano = midi(midiwrite::smf(0, 480, {note}), bank);
    auto dense = midi(denseSong(), bank);
    qvgen::ModuleSpec params; // 4-channel MOD, a 550 Hz note on two channels at full volume
    qvgen::Bytes modBytes = qvgen::module(params);
    auto module = qvcore::openModule(qvcore::FileData::fromBytes(modBytes.data(), modBytes.size()),
                                     qvcore::ModuleEnd::Stop);
    if (!piano || !dense || !module) {
        fprintf(stderr, "a test input did not open\n");
        return 1;
    }
    printf("bank %s, %u Hz\n", bankPath, rate);
    print("MIDI piano A4, velocity 100 (first second)", measure(*piano, 0, 1.0));
    print("MIDI dense song, 16 channels, 64 voices", measure(*dense, 0, 600));
    print("module note at full volume (MOD, 550 Hz)", measure(*module, 0.5, 1.0));
    return 0;
}

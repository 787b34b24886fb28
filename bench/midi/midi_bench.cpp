// Render speed of the MIDI synthesizer on a dense General MIDI song: 16 channels, up to 64
// voices, 60 seconds. Prints the speed as a multiple of real time (median of several runs).
#include <stdio.h>
#include <time.h>

#include <algorithm>
#include <vector>

#include "midi_writers.h"
#include "qvmidi/midi_player.h"

int main(int argc, char** argv) {
    const char* bankPath = argc > 1 ? argv[1] : "/usr/share/sounds/sf2/TimGM6mb.sf2";
    std::string error;
    auto bank = qvmidi::loadSoundBank(bankPath, &error);
    if (!bank) {
        fprintf(stderr, "no sound bank: %s\n", error.c_str());
        return 1;
    }
    // Every channel plays a new four-note chord every quarter note at 120 bpm, each held a
    // half note, so about 16 x 8 notes sound at once: the 64-voice limit is always busy.
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
    midiwrite::Bytes file = midiwrite::smf(1, 480, tracks);
    qvmidi::MidiSong song;
    if (!qvmidi::parseMidi(file.data(), file.size(), song)) {
        fprintf(stderr, "the generated song did not parse\n");
        return 1;
    }
    const uint32_t rate = 44100;
    std::vector<double> speeds;
    for (int run = 0; run < 5; ++run) {
        qvmidi::MidiPlayer player(song, bank, rate, 64);
        std::vector<float> buffer(2 * 1024);
        size_t frames = 0;
        int peakVoices = 0;
        // Process CPU time, not wall time: on a shared machine the other load does not count.
        timespec cpuStart, cpuEnd;
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpuStart);
        size_t n;
        while ((n = player.render(buffer.data(), 1024)) > 0) {
            frames += n;
            peakVoices = std::max(peakVoices, player.synthesizer().activeVoices());
            if (n < 1024)
                break;
        }
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpuEnd);
        double seconds =
            (cpuEnd.tv_sec - cpuStart.tv_sec) + (cpuEnd.tv_nsec - cpuStart.tv_nsec) / 1e9;
        speeds.push_back(frames / (double)rate / seconds);
        if (run == 0)
            printf("song %.1f s, %zu events, peak voices %d\n", frames / (double)rate,
                   song.events.size(), peakVoices);
    }
    std::sort(speeds.begin(), speeds.end());
    printf("midi render speed: median %.1fx real time per CPU second (min %.1fx, max %.1fx), goal "
           ">= 50x\n",
           speeds[speeds.size() / 2], speeds.front(), speeds.back());
    return 0;
}

// Render speed of the MIDI synthesizer on a dense General MIDI song: 16 channels, up to 64
// voices, 60 seconds. Prints the speed as a multiple of real time (median of several runs).
#include <stdio.h>
#include <time.h>

#include <algorithm>
#include <vector>

#include "dense_song.h"
#include "qvmidi/midi_player.h"

int main(int argc, char** argv) {
    auto bank = benchSoundBank(benchBankPath(argc, argv));
    if (!bank)
        return 1;
    midiwrite::Bytes file = denseSong();
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

// Shared set-up of the device tests: both libraries initialised once per process on the default
// output, the recording side on the sink's monitor, temporary media files, and a recorder that
// hears what plays through the library's own wave input.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/gen/gen.h"

namespace qvtest {

constexpr int recordRate = 44100;

// Writes bytes to a file in this process's temporary folder; returns its path.
std::string writeTemp(const std::string& name, const qvgen::Bytes& bytes);

// Records `seconds` of what the output plays (16-bit stereo at recordRate, as the library
// delivers it) and returns it as stereo float.
std::vector<float> record(double seconds);

struct Heard {
    double frequency = 0; // dominant frequency, Hz
    double toneDb = -200; // level of the component at `expected`, dBFS
    double rmsDb = -200;  // level of everything, dBFS
};

// Records and analyses, leaving out the first 100 ms (device latency).
Heard listen(double seconds, double expected);

// Waits until a tone at `frequency` is heard (a stream that starts may take a moment to reach
// the sink); false after `timeoutMs`.
bool waitUntilHeard(double frequency, int timeoutMs = 4000);

// Waits until that tone is no longer heard; false after `timeoutMs`.
bool waitUntilSilent(double frequency, int timeoutMs = 4000);

// The level a module's tone has when rendered straight from the core at recordRate.
double moduleReferenceDb(const qvgen::Bytes& module, double frequency);

void sleepMs(int ms);

// True under Wine with the test environment's PulseAudio server, which host() can drive.
bool underTestEnvironment();
// Runs a shell command on the host (pactl); Wine starts it but gives nothing to wait on, so
// this waits a moment.
void host(const std::string& command);

// Index of the library's first input of the wave type, -1 if none.
int waveInput();

} // namespace qvtest

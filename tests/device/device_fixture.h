// Shared set-up of the device tests: both libraries initialised once per process on the default
// output, the recording side on the sink's monitor, temporary media files, and a recorder that
// hears what plays through the library's own wave input.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fmod3.h"
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

// Opens a file as an FMOD stream and plays it at full volume; stops and closes it.
FSOUND_STREAM* playStream(const std::string& path);
void closeStream(FSOUND_STREAM* s);

// Runs one test of this program in a process of its own, with `flag` set in its environment,
// and returns its exit code (0 when it passed or skipped); waits 30 s at most.
DWORD runTestInChild(const std::string& test, const char* flag);

// A null sink of the test's own on the host's PulseAudio server, unloaded when it goes (the
// environment's sink is the default again then).
class HostSink {
public:
    HostSink(const std::string& name, const std::string& description, int channels = 2);
    ~HostSink();
    HostSink(const HostSink&) = delete;
    HostSink& operator=(const HostSink&) = delete;
    bool ok() const { return module_ >= 0; }
    const std::string& name() const { return name_; }
    void unload();

private:
    std::string name_;
    int module_ = -1;
};

// Records the monitors of sinks on the host, all from the same moment, for `seconds`: what
// each sink plays, as interleaved float at recordRate. `first` runs on the host just before;
// `atOneSecond` one second into the recordings (their clock: starting them takes a while).
class SinkRecording {
public:
    SinkRecording(const std::vector<std::string>& sinks, double seconds, int channels = 2,
                  const std::string& first = "", const std::string& atOneSecond = "");
    // Waits for the end of the recording.
    std::vector<float> samples(size_t sink);
    int channels() const { return channels_; }

private:
    std::vector<std::string> files_;
    int channels_;
    DWORD endsAt_;
};

// Seconds from the start of a recording at which `channel` is first / last louder than
// -30 dBFS in 50 ms windows, at or after `from`; -1 when never.
double firstSound(const std::vector<float>& samples, int channels, int channel, double from = 0);
double lastSound(const std::vector<float>& samples, int channels, int channel);
// The longest run of 50 ms windows in which none of the recordings is louder than -30 dBFS
// (first channel), between the first and the last loud window; seconds.
double longestSilence(const std::vector<const std::vector<float>*>& recordings, int channels);
// The loudest 50 ms window of `channel`, dBFS.
double peakDb(const std::vector<float>& samples, int channels, int channel);

// Index of the library's first input of the wave type, -1 if none.
int waveInput();

} // namespace qvtest

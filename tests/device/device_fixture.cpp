#include "tests/device/device_fixture.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "bass23.h"
#include "fmod3.h"
#include "qvcore/qvcore.h"

namespace qvtest {

namespace {

std::string tempFolder;

// Filled by the recording callback on the library's recording thread.
std::mutex capturedLock;
std::vector<int16_t> captured;

BOOL CALLBACK collect(HRECORD, void* buffer, DWORD length, DWORD) {
    const auto* samples = static_cast<const int16_t*>(buffer);
    std::lock_guard<std::mutex> lock(capturedLock);
    captured.insert(captured.end(), samples, samples + length / 2);
    return TRUE;
}

class AudioEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        char base[MAX_PATH];
        GetTempPathA(sizeof base, base);
        tempFolder = std::string(base) + "quaverly-device-" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(tempFolder.c_str(), nullptr);

        ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr)) << "no output device";
        ASSERT_TRUE(FSOUND_Init(44000, 32, 0)) << "FMOD error " << FSOUND_GetError();
        BASS_SetConfig(BASS_CONFIG_MAXVOL, 255);
        ASSERT_TRUE(BASS_RecordInit(-1));
        const int input = waveInput();
        ASSERT_GE(input, 0) << "no input of the wave type";
        ASSERT_TRUE(BASS_RecordSetInput(input, 0x60032));
        warmUpCapture();
    }

    // A null sink whose other clients asked for a long latency renders in long blocks, and its
    // monitor then delivers a new capture's first packet only after up to a second (seen under
    // Wine 8 with a default pacat keepalive). Wait for the first packets once, here.
    static void warmUpCapture() {
        const HRECORD r = BASS_RecordStart(recordRate, 2, 0, collect, 0);
        ASSERT_NE(r, 0u);
        for (int i = 0; i < 100; ++i) {
            {
                std::lock_guard<std::mutex> lock(capturedLock);
                if (captured.size() >= recordRate / 5 * 2)
                    break;
            }
            Sleep(50);
        }
        BASS_ChannelStop(r);
    }

    void TearDown() override {
        BASS_RecordFree();
        BASS_Stop();
        BASS_Free();
        FSOUND_Close();
        // Best effort: the media are small and the folder is private to this process.
        WIN32_FIND_DATAA found;
        HANDLE h = FindFirstFileA((tempFolder + "\\*").c_str(), &found);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                DeleteFileA((tempFolder + "\\" + found.cFileName).c_str());
            } while (FindNextFileA(h, &found));
            FindClose(h);
        }
        RemoveDirectoryA(tempFolder.c_str());
    }
};

[[maybe_unused]] auto* const environment =
    ::testing::AddGlobalTestEnvironment(new AudioEnvironment);

} // namespace

std::string writeTemp(const std::string& name, const qvgen::Bytes& bytes) {
    const std::string path = tempFolder + "\\" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    return path;
}

void sleepMs(int ms) {
    Sleep(static_cast<DWORD>(ms));
}

bool underTestEnvironment() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") && std::getenv("PULSE_SERVER") &&
           std::getenv("QUAVERLY_SINK");
}

void host(const std::string& command) {
    std::string line = "/bin/sh -c \"" + command + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                       &pi)) {
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    sleepMs(700);
}

FSOUND_STREAM* playStream(const std::string& path) {
    FSOUND_STREAM* s = FSOUND_Stream_Open(path.c_str(), FSOUND_NORMAL, 0, 0);
    EXPECT_NE(s, nullptr);
    EXPECT_GE(FSOUND_Stream_Play(FSOUND_FREE, s), 0);
    FSOUND_SetVolume(FSOUND_ALL, 255);
    return s;
}

void closeStream(FSOUND_STREAM* s) {
    FSOUND_Stream_Stop(s);
    FSOUND_Stream_Close(s);
}

DWORD runTestInChild(const std::string& test, const char* flag) {
    char exe[MAX_PATH];
    if (GetModuleFileNameA(nullptr, exe, sizeof exe) == 0)
        return 1;
    std::string line = std::string("\"") + exe + "\" --gtest_filter=" + test;
    SetEnvironmentVariableA(flag, "1");
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                        nullptr, &si, &pi);
    SetEnvironmentVariableA(flag, nullptr);
    if (!started)
        return 1;
    DWORD code = 1;
    if (WaitForSingleObject(pi.hProcess, 30000) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

// With a silent keepalive, as the environment's sink: a null sink's monitor delivers nothing
// while nothing plays into it, so its recording would not keep to the wall clock.
HostSink::HostSink(const std::string& name, const std::string& description, int channels)
    : name_(name) {
    std::string map = channels == 6 ? " channel_map=surround-51" : "";
    host("pactl load-module module-null-sink sink_name=" + name + " channels=" +
         std::to_string(channels) + map + " sink_properties=device.description=" + description +
         " > /tmp/" + name + ".id; pacat --playback --device=" + name +
         " --raw --format=s16le --rate=44100 --channels=2 --latency-msec=20 < /dev/zero "
         "> /dev/null 2>&1 & echo $! > /tmp/" +
         name + ".keepalive");
    FILE* f = std::fopen(("Z:\\tmp\\" + name + ".id").c_str(), "r");
    if (f) {
        if (std::fscanf(f, "%d", &module_) != 1)
            module_ = -1;
        std::fclose(f);
    }
}

HostSink::~HostSink() {
    host(std::string("pactl set-default-sink ") + std::getenv("QUAVERLY_SINK"));
    unload();
}

void HostSink::unload() {
    if (module_ >= 0)
        host("kill $(cat /tmp/" + name_ + ".keepalive); pactl unload-module " +
             std::to_string(module_));
    module_ = -1;
}

SinkRecording::SinkRecording(const std::vector<std::string>& sinks, double seconds, int channels,
                             const std::string& first, const std::string& atOneSecond)
    : channels_(channels) {
    static int count = 0;
    std::string command = first.empty() ? "" : first + (first.back() == '&' ? " " : "; ");
    const std::string map =
        channels == 6 ? " --channel-map=front-left,front-right,front-center,lfe,rear-left,"
                        "rear-right"
                      : "";
    for (const std::string& sink : sinks) {
        const std::string file = "/tmp/quaverly-" + std::to_string(GetCurrentProcessId()) + "-" +
                                 std::to_string(count++) + ".raw";
        command += "timeout " + std::to_string(seconds) + " parec --device=" + sink +
                   ".monitor --raw --format=float32le --rate=" + std::to_string(recordRate) +
                   " --channels=" + std::to_string(channels) + map + " --latency-msec=20 > " +
                   file + " 2>/dev/null & ";
        files_.push_back(file);
    }
    if (!atOneSecond.empty()) {
        std::string wait;
        for (const std::string& file : files_)
            wait += "until [ -s " + file + " ]; do sleep 0.01; done; ";
        command += "(" + wait + "sleep 1; " + atOneSecond + ") & ";
    }
    host(command + "true");
    // host() waited 0.7 s of it already.
    endsAt_ = GetTickCount() + static_cast<DWORD>(seconds * 1000) - 700 + 500;
}

std::vector<float> SinkRecording::samples(size_t sink) {
    const LONG wait = static_cast<LONG>(endsAt_ - GetTickCount());
    if (wait > 0)
        sleepMs(wait);
    std::vector<float> out;
    std::string path = "Z:" + files_.at(sink);
    std::replace(path.begin(), path.end(), '/', '\\');
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return out;
    float block[4096];
    size_t n;
    while ((n = std::fread(block, sizeof(float), 4096, f)) > 0)
        out.insert(out.end(), block, block + n);
    std::fclose(f);
    DeleteFileA(path.c_str());
    return out;
}

namespace {

constexpr size_t windowFrames = recordRate / 20;

double windowDb(const std::vector<float>& s, int channels, int channel, size_t window) {
    double sum = 0;
    const size_t from = window * windowFrames;
    for (size_t i = from; i < from + windowFrames; ++i) {
        const double v = s[i * channels + channel];
        sum += v * v;
    }
    return sum > 0 ? 10 * std::log10(sum / windowFrames) : -200;
}

size_t windows(const std::vector<float>& s, int channels) {
    return s.size() / channels / windowFrames;
}

} // namespace

double firstSound(const std::vector<float>& s, int channels, int channel, double from) {
    for (size_t w = static_cast<size_t>(from * 20); w < windows(s, channels); ++w)
        if (windowDb(s, channels, channel, w) > -30)
            return w / 20.0;
    return -1;
}

double lastSound(const std::vector<float>& s, int channels, int channel) {
    for (size_t w = windows(s, channels); w-- > 0;)
        if (windowDb(s, channels, channel, w) > -30)
            return (w + 1) / 20.0;
    return -1;
}

double longestSilence(const std::vector<const std::vector<float>*>& recordings, int channels) {
    size_t count = 0;
    for (const auto* r : recordings)
        count = std::max(count, windows(*r, channels));
    long first = -1, quietFrom = -1, longest = 0;
    for (size_t w = 0; w < count; ++w) {
        bool loud = false;
        for (const auto* r : recordings)
            loud = loud || (w < windows(*r, channels) && windowDb(*r, channels, 0, w) > -30);
        if (!loud) {
            if (quietFrom < 0)
                quietFrom = static_cast<long>(w);
            continue;
        }
        if (first >= 0 && quietFrom >= 0)
            longest = std::max(longest, static_cast<long>(w) - quietFrom);
        if (first < 0)
            first = static_cast<long>(w);
        quietFrom = -1;
    }
    return longest / 20.0;
}

double peakDb(const std::vector<float>& s, int channels, int channel) {
    double peak = -200;
    for (size_t w = 0; w < windows(s, channels); ++w)
        peak = std::max(peak, windowDb(s, channels, channel, w));
    return peak;
}

int waveInput() {
    for (int i = 0;; ++i) {
        const DWORD flags = BASS_RecordGetInput(i);
        if (flags == 0xFFFFFFFF)
            return -1;
        if ((flags & BASS_INPUT_TYPE_MASK) == BASS_INPUT_TYPE_WAVE)
            return i;
    }
}

std::vector<float> record(double seconds) {
    {
        std::lock_guard<std::mutex> lock(capturedLock);
        captured.clear();
        captured.reserve(static_cast<size_t>((seconds + 1) * recordRate * 2));
    }
    const HRECORD r = BASS_RecordStart(recordRate, 2, 0, collect, 0);
    EXPECT_NE(r, 0u);
    sleepMs(static_cast<int>(seconds * 1000));
    BASS_ChannelStop(r);
    std::lock_guard<std::mutex> lock(capturedLock);
    std::vector<float> out(captured.size());
    std::transform(captured.begin(), captured.end(), out.begin(),
                   [](int16_t s) { return static_cast<float>(s) / 32768.0f; });
    return out;
}

Heard listen(double seconds, double expected) {
    std::vector<float> all = record(seconds + 0.1);
    const size_t skip = std::min(all.size(), static_cast<size_t>(0.1 * recordRate) * 2);
    const float* data = all.data() + skip;
    const size_t frames = (all.size() - skip) / 2;
    Heard h;
    h.frequency = qvgen::dominantFrequency(data, frames, recordRate);
    h.toneDb = qvgen::toneLevelDb(data, frames, recordRate, expected);
    h.rmsDb = qvgen::rmsDb(data, frames);
    std::printf("  heard %.2f s: %.1f Hz, tone %.1f dBFS, all %.1f dBFS\n",
                static_cast<double>(frames) / recordRate, h.frequency, h.toneDb, h.rmsDb);
    return h;
}

bool waitUntilHeard(double frequency, int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 250) {
        const std::vector<float> all = record(0.25);
        if (qvgen::toneLevelDb(all.data(), all.size() / 2, recordRate, frequency) > -40.0)
            return true;
    }
    return false;
}

bool waitUntilSilent(double frequency, int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 250) {
        const std::vector<float> all = record(0.25);
        if (qvgen::toneLevelDb(all.data(), all.size() / 2, recordRate, frequency) < -60.0)
            return true;
    }
    return false;
}

double moduleReferenceDb(const qvgen::Bytes& module, double frequency) {
    auto decoder = qvcore::openModule(qvcore::FileData::fromBytes(module.data(), module.size()),
                                      qvcore::ModuleEnd::Stop);
    if (!decoder || !decoder->setRenderRate(recordRate))
        return -200;
    std::vector<float> out(2 * recordRate);
    decoder->render(out.data(), recordRate / 2); // past the attack
    const size_t n = decoder->render(out.data(), recordRate);
    return qvgen::toneLevelDb(out.data(), n, recordRate, frequency);
}

} // namespace qvtest

// Drives the real quaverly.exe from another process, as a user would, and listens to what the
// sound card plays through the default capture device (the null sink's monitor in tests).
#pragma once

#include <windows.h>

#include <mmsystem.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace e2e {

// Unix paths (as CMake and the scripts pass them) seen through Wine's Z: drive.
std::string windowsPath(const std::string& path);
// The folder of generated media (QUAVERLY_MEDIA), as a Windows path; empty if unset.
std::string mediaDir();
// UTF-8 text as UTF-16, for names outside this process's code page.
std::wstring wide(const std::string& utf8);
// Writes bytes to a file; false on failure.
bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
// The text of a window or control of another process.
std::string windowText(HWND window);

class App {
public:
    ~App();
    // Starts quaverly.exe (QUAVERLY_EXE) and waits for its main window.
    bool start();
    // Starts `exe` (a Unix or Windows path) and waits for nothing; false, with GetLastError
    // set, when it cannot be started.
    bool launch(const std::string& exe);
    // Waits for the main window; null when it does not appear in time.
    HWND waitForMain(DWORD ms);
    // Presses Exit and waits for the process to end; returns its exit status or -1.
    long exit(DWORD ms = 20000);
    // Waits for the process to end: its exit status, or -1 (and it is killed) when it does not.
    long waitForExit(DWORD ms);
    void kill();

    HWND main() const { return mainWindow; }
    HWND control(int id) const { return GetDlgItem(mainWindow, id); }
    void click(int id);
    std::string text(int id) const;
    // Adds one file through the open dialog, typing its full path as a user would.
    bool addFile(const std::string& windowsFilePath);
    bool addFile(const std::wstring& windowsFilePath);
    // A visible top-level window of the process with the caption (or any caption when empty).
    HWND waitForWindow(const std::string& caption, DWORD ms = 15000) const;
    // The same, without waiting.
    HWND findWindow(const std::string& caption) const;
    HWND findWindowOtherThan(HWND known) const;
    bool running() const;
    DWORD processId() const { return process.dwProcessId; }

private:
    PROCESS_INFORMATION process = {};
    HWND mainWindow = nullptr;
};

// Records 16-bit stereo 44.1 kHz from the default capture device while it lives.
class Monitor {
public:
    static const int rate = 44100;
    bool start();
    void stop();
    ~Monitor() { stop(); }
    // Milliseconds since start() of what has been captured so far.
    double capturedMs();
    // The captured audio between two times (ms since start), as float stereo.
    std::vector<float> between(double fromMs, double toMs);
    double nowMs() const;

private:
    void run();
    HWAVEIN device = nullptr;
    HANDLE event = nullptr;
    std::thread thread;
    volatile bool running = false;
    std::mutex lock;
    std::vector<int16_t> samples;
    LARGE_INTEGER started = {}, frequency = {};
};

// Plays a steady sine on the default output device from this process (not through Quaverly).
class TonePlayer {
public:
    bool start(double frequency, double seconds);
    ~TonePlayer();

private:
    HWAVEOUT device = nullptr;
    WAVEHDR header = {};
    std::vector<int16_t> pcm;
};

// The pitch and level of a stretch of audio (float stereo at Monitor::rate).
double dominantFrequency(const std::vector<float>& stereo);
double levelDb(const std::vector<float>& stereo);

void sleepMs(DWORD ms);

} // namespace e2e

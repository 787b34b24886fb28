#include "tests/e2e/harness.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include "app/ids.h"
#include "tests/gen/gen.h"

namespace e2e {
namespace {

const DWORD waitMs = 20000;
const char* const mainCaption = "Quaverly - Tamsel";

struct Search {
    DWORD processId;
    const std::string* caption;
    HWND except;
    HWND found;
};

BOOL CALLBACK match(HWND window, LPARAM param) {
    auto* s = reinterpret_cast<Search*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != s->processId || !IsWindowVisible(window) || window == s->except)
        return TRUE;
    if (s->caption && !s->caption->empty() && windowText(window) != *s->caption)
        return TRUE;
    s->found = window;
    return FALSE;
}

} // namespace

std::string windowText(HWND window) {
    char text[1024] = "";
    DWORD_PTR length = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, 2000,
                        &length);
    return text;
}

void sleepMs(DWORD ms) {
    Sleep(ms);
}

std::string windowsPath(const std::string& path) {
    std::string out = path;
    if (!out.empty() && out[0] == '/')
        out = "Z:" + out;
    for (char& c : out)
        if (c == '/')
            c = '\\';
    return out;
}

std::string mediaDir() {
    const char* dir = getenv("QUAVERLY_MEDIA");
    return dir && *dir ? windowsPath(dir) : std::string();
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

App::~App() {
    kill();
}

bool App::start() {
    const char* exe = getenv("QUAVERLY_EXE");
#ifdef QUAVERLY_EXE_PATH
    if (!exe)
        exe = QUAVERLY_EXE_PATH;
#endif
    return exe && launch(exe) && waitForMain(15000);
}

bool App::launch(const std::string& exe) {
    std::string path = windowsPath(exe);
    std::string commandLine = "\"" + path + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    return CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &process);
}

HWND App::waitForMain(DWORD ms) {
    mainWindow = waitForWindow(mainCaption, ms);
    return mainWindow;
}

bool App::running() const {
    return process.hProcess && WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT;
}

long App::exit(DWORD ms) {
    if (!process.hProcess)
        return -1;
    PostMessageA(mainWindow, WM_COMMAND, MAKEWPARAM(IDC_EXIT, BN_CLICKED), 0);
    return waitForExit(ms);
}

long App::waitForExit(DWORD ms) {
    if (!process.hProcess)
        return -1;
    if (WaitForSingleObject(process.hProcess, ms) != WAIT_OBJECT_0) {
        kill();
        return -1;
    }
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    process = {};
    return (long)status;
}

void App::kill() {
    if (!process.hProcess)
        return;
    TerminateProcess(process.hProcess, 99);
    WaitForSingleObject(process.hProcess, 5000);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    process = {};
}

void App::click(int id) {
    PostMessageA(mainWindow, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)control(id));
}

std::string App::text(int id) const {
    return windowText(control(id));
}

HWND App::waitForWindow(const std::string& caption, DWORD ms) const {
    for (DWORD waited = 0; waited < ms; waited += 50) {
        if (HWND found = findWindow(caption))
            return found;
        if (!running())
            return nullptr;
        Sleep(50);
    }
    return nullptr;
}

HWND App::findWindow(const std::string& caption) const {
    Search s = {process.dwProcessId, &caption, nullptr, nullptr};
    EnumWindows(match, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

HWND App::findWindowOtherThan(HWND known) const {
    std::string any;
    Search s = {process.dwProcessId, &any, known, nullptr};
    EnumWindows(match, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

std::wstring wide(const std::string& utf8) {
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring text(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, text.data(), n);
    text.resize(n - 1);
    return text;
}

bool App::addFile(const std::string& file) {
    return addFile(wide(file));
}

bool App::addFile(const std::wstring& file) {
    PostMessageA(mainWindow, WM_COMMAND, MAKEWPARAM(IDC_OPEN, BN_CLICKED),
                 (LPARAM)control(IDC_OPEN));
    HWND dialog = waitForWindow("Open file");
    if (!dialog)
        return false;
    // The file name box: an edit, or a combo box holding one, depending on the dialog's style.
    HWND name = GetDlgItem(dialog, 0x480);
    if (!name)
        name = GetDlgItem(dialog, 0x47C);
    if (!name)
        return false;
    SendMessageTimeoutW(name, WM_SETTEXT, 0, (LPARAM)file.c_str(), SMTO_ABORTIFHUNG, 2000, nullptr);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    for (DWORD waited = 0; waited < waitMs; waited += 50) {
        if (!IsWindow(dialog) || !IsWindowVisible(dialog))
            return true;
        Sleep(50);
    }
    return false;
}

bool Monitor::start() {
    QueryPerformanceFrequency(&frequency);
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = rate;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = rate * 4;
    event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (waveInOpen(&device, WAVE_MAPPER, &format, (DWORD_PTR)event, 0, CALLBACK_EVENT) !=
        MMSYSERR_NOERROR)
        return false;
    running = true;
    QueryPerformanceCounter(&started);
    thread = std::thread([this] { run(); });
    return true;
}

void Monitor::run() {
    const int buffers = 8, frames = rate / 20; // 50 ms each
    std::vector<std::vector<int16_t>> data(buffers, std::vector<int16_t>(frames * 2));
    std::vector<WAVEHDR> headers(buffers);
    for (int i = 0; i < buffers; ++i) {
        headers[i] = {};
        headers[i].lpData = (LPSTR)data[i].data();
        headers[i].dwBufferLength = frames * 4;
        waveInPrepareHeader(device, &headers[i], sizeof(WAVEHDR));
        waveInAddBuffer(device, &headers[i], sizeof(WAVEHDR));
    }
    waveInStart(device);
    int next = 0;
    while (running) {
        WaitForSingleObject(event, 100);
        while (headers[next].dwFlags & WHDR_DONE) {
            {
                std::lock_guard<std::mutex> guard(lock);
                const int16_t* p = data[next].data();
                samples.insert(samples.end(), p, p + headers[next].dwBytesRecorded / 2);
            }
            headers[next].dwFlags &= ~WHDR_DONE;
            waveInAddBuffer(device, &headers[next], sizeof(WAVEHDR));
            next = (next + 1) % buffers;
        }
    }
    waveInReset(device);
    for (WAVEHDR& h : headers)
        waveInUnprepareHeader(device, &h, sizeof(WAVEHDR));
}

void Monitor::stop() {
    if (!running)
        return;
    running = false;
    SetEvent(event);
    thread.join();
    waveInClose(device);
    CloseHandle(event);
    device = nullptr;
}

double Monitor::nowMs() const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (now.QuadPart - started.QuadPart) * 1000.0 / frequency.QuadPart;
}

double Monitor::capturedMs() {
    std::lock_guard<std::mutex> guard(lock);
    return samples.size() / 2 * 1000.0 / rate;
}

std::vector<float> Monitor::between(double fromMs, double toMs) {
    std::lock_guard<std::mutex> guard(lock);
    size_t from = std::min(samples.size() / 2, (size_t)(fromMs * rate / 1000));
    size_t to = std::min(samples.size() / 2, (size_t)(toMs * rate / 1000));
    std::vector<float> out;
    for (size_t i = 2 * from; i < 2 * to; ++i)
        out.push_back(samples[i] / 32768.0f);
    return out;
}

bool TonePlayer::start(double frequency, double seconds) {
    const int rate = 44100;
    WAVEFORMATEX format = {WAVE_FORMAT_PCM, 2, rate, rate * 4, 4, 16, 0};
    size_t frames = (size_t)(seconds * rate);
    pcm.resize(frames * 2);
    for (size_t i = 0; i < frames; ++i)
        pcm[2 * i] = pcm[2 * i + 1] = (int16_t)(16000 * sin(2 * M_PI * frequency * i / rate));
    if (waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR)
        return false;
    header.lpData = (LPSTR)pcm.data();
    header.dwBufferLength = (DWORD)(pcm.size() * 2);
    waveOutPrepareHeader(device, &header, sizeof header);
    return waveOutWrite(device, &header, sizeof header) == MMSYSERR_NOERROR;
}

TonePlayer::~TonePlayer() {
    if (!device)
        return;
    waveOutReset(device);
    waveOutUnprepareHeader(device, &header, sizeof header);
    waveOutClose(device);
}

double dominantFrequency(const std::vector<float>& stereo) {
    return qvgen::dominantFrequency(stereo.data(), stereo.size() / 2, Monitor::rate);
}

double levelDb(const std::vector<float>& stereo) {
    return qvgen::rmsDb(stereo.data(), stereo.size() / 2);
}

} // namespace e2e

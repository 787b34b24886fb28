#include "recording.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <vector>

#include "qvcore/convert.h"
#include "qvdevice/com.h"

namespace qvbass {

namespace {

constexpr DWORD pollMs = 10;
constexpr DWORD openTimeoutMs = 5000;
constexpr DWORD closeTimeoutMs = 2000;
// Capture latency we wait out before the wall clock says the system delivers nothing.
constexpr double slackSeconds = 0.2;
// A device may take this long to deliver its first packet (Wine's first capture in a process
// does); zeros are not put in front of a late start, only in place of a source that stays mute.
constexpr double startGraceSeconds = 1.0;

struct Event {
    HANDLE h;
    explicit Event(bool manualReset) : h(CreateEventW(nullptr, manualReset, FALSE, nullptr)) {}
    ~Event() {
        if (h)
            CloseHandle(h);
    }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
};

double secondsSince(LARGE_INTEGER start) {
    LARGE_INTEGER now, freq;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&freq);
    return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(freq.QuadPart);
}

} // namespace

struct RecordState {
    qvdevice::CaptureSource source;
    DWORD freq = 0;
    DWORD chans = 0;
    RECORDPROC* proc = nullptr;
    DWORD user = 0;
    HRECORD handle = 0;

    // The stopper clears `enabled` and then waits while `inProc`; the recording thread sets
    // `inProc` and then looks at `enabled`. Both sequentially consistent: one of them sees the
    // other, so no call of proc starts after stop() has returned.
    std::atomic<bool> enabled{true};
    std::atomic<bool> inProc{false};
    std::atomic<bool> ended{false};
    std::atomic<DWORD> threadId{0};

    Event stopEvent{true};
    Event readyEvent{true};
    Event doneEvent{true};
    Event procDone{false};
    bool opened = false; // written before readyEvent
};

namespace {

class Pipeline {
public:
    Pipeline(RecordState& s, uint32_t inRate)
        : s_(s), inRate_(inRate), chunk_(inRate / 10), resampler_(inRate, s.freq, 2),
          in_(2 * chunk_, 0.0f), out_(2 * resampler_.maxOutput(chunk_), 0.0f),
          block_(2 * resampler_.maxOutput(chunk_), 0) {}

    bool ok() const { return resampler_.ok(); }
    size_t chunk() const { return chunk_; }
    float* input() { return in_.data(); }
    uint64_t fed() const { return fed_; }

    // Resamples `frames` of input (already in input()), converts and delivers. False when the
    // recording is over.
    bool feed(size_t frames) {
        fed_ += frames;
        const size_t n = resampler_.process(in_.data(), frames, out_.data(), out_.size() / 2);
        if (n == 0)
            return true;
        if (s_.chans == 1) {
            for (size_t i = 0; i < n; ++i)
                block_[i] = qvcore::floatToInt16(0.5f * (out_[2 * i] + out_[2 * i + 1]));
        } else {
            qvcore::floatToInt16(out_.data(), block_.data(), 2 * n);
        }
        return deliver(block_.data(), static_cast<DWORD>(n * s_.chans * sizeof(int16_t)));
    }

    bool feedSilence(uint64_t frames) {
        while (frames > 0) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(frames, chunk_));
            std::fill(in_.begin(), in_.begin() + 2 * n, 0.0f);
            if (!feed(n))
                return false;
            frames -= n;
        }
        return true;
    }

private:
    bool deliver(int16_t* data, DWORD bytes) {
        s_.inProc.store(true);
        if (!s_.enabled.load()) {
            s_.inProc.store(false);
            return false;
        }
        const BOOL goOn = s_.proc(s_.handle, data, bytes, s_.user);
        if (!goOn)
            s_.enabled.store(false);
        s_.inProc.store(false);
        SetEvent(s_.procDone.h);
        return goOn != FALSE;
    }

    RecordState& s_;
    uint32_t inRate_;
    size_t chunk_;
    qvcore::StreamResampler resampler_;
    std::vector<float> in_;
    std::vector<float> out_;
    std::vector<int16_t> block_;
    uint64_t fed_ = 0;
};

void record(RecordState& s, qvdevice::CaptureStream& capture, Pipeline& pipe) {
    LARGE_INTEGER opened, start;
    QueryPerformanceCounter(&opened);
    bool started = false; // the clock runs from the first packet, or from the end of the grace
    for (;;) {
        if (WaitForSingleObject(s.stopEvent.h, pollMs) == WAIT_OBJECT_0 || !s.enabled.load())
            return;
        size_t n;
        while ((n = capture.read(pipe.input(), pipe.chunk())) > 0) {
            if (!started) {
                QueryPerformanceCounter(&start);
                started = true;
            }
            if (!pipe.feed(n))
                return;
        }
        if (!started) {
            if (secondsSince(opened) < startGraceSeconds)
                continue;
            start = opened;
            started = true;
        }
        // When the system delivers nothing (a loopback while nothing plays, a device that went
        // away), the wall clock goes on: fill with zeros.
        const double due = (secondsSince(start) - slackSeconds) * capture.rate();
        if (due > static_cast<double>(pipe.fed()) &&
            !pipe.feedSilence(static_cast<uint64_t>(due) - pipe.fed()))
            return;
    }
}

void recordingThread(std::shared_ptr<RecordState> state) {
    RecordState& s = *state;
    s.threadId = GetCurrentThreadId();
    {
        qvdevice::ThreadCom com;
        qvdevice::CaptureStream capture;
        std::unique_ptr<Pipeline> pipe;
        if (capture.open(s.source, 0)) {
            pipe = std::make_unique<Pipeline>(s, capture.rate());
            s.opened = pipe->ok();
        }
        SetEvent(s.readyEvent.h);
        if (s.opened)
            record(s, capture, *pipe);
        s.ended = true;
    }
    SetEvent(s.doneEvent.h);
}

} // namespace

std::unique_ptr<Recording> Recording::start(const qvdevice::CaptureSource& source, DWORD freq,
                                            DWORD chans, RECORDPROC* proc, DWORD user,
                                            HRECORD handle) {
    if (!proc || freq < 8000 || freq > 192000 || (chans != 1 && chans != 2))
        return nullptr;
    auto state = std::make_shared<RecordState>();
    if (!state->stopEvent.h || !state->readyEvent.h || !state->doneEvent.h || !state->procDone.h)
        return nullptr;
    state->source = source;
    state->freq = freq;
    state->chans = chans;
    state->proc = proc;
    state->user = user;
    state->handle = handle;
    std::unique_ptr<Recording> r(new Recording);
    r->state_ = state;
    try {
        r->thread_ = std::thread(recordingThread, state);
    } catch (...) {
        return nullptr;
    }
    if (WaitForSingleObject(state->readyEvent.h, openTimeoutMs) != WAIT_OBJECT_0 || !state->opened)
        return nullptr; // the destructor stops and reaps the thread
    return r;
}

Recording::~Recording() {
    stop();
    if (!thread_.joinable())
        return;
    if (GetCurrentThreadId() == state_->threadId) {
        thread_.detach(); // freed from inside the callback: the thread ends by itself
        return;
    }
    if (WaitForSingleObject(state_->doneEvent.h, closeTimeoutMs) == WAIT_OBJECT_0)
        thread_.join();
    else
        thread_.detach();
}

void Recording::stop() {
    RecordState& s = *state_;
    s.enabled.store(false);
    SetEvent(s.stopEvent.h);
    if (GetCurrentThreadId() == s.threadId)
        return; // inside the callback: it is the last call
    // Wait for a call in progress. It may be waiting on this thread (a window text set from
    // the callback), so sent messages are handled meanwhile.
    while (s.inProc.load()) {
        MsgWaitForMultipleObjects(1, &s.procDone.h, FALSE, pollMs, QS_SENDMESSAGE);
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

bool Recording::active() const {
    return state_->enabled.load() && !state_->ended.load();
}

} // namespace qvbass

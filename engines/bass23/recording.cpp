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
constexpr DWORD finishTimeoutMs = 500; // for the last blocks at a stop
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
    Event endedEvent{true}; // no more calls will be made
    Event procDone{false};
    bool opened = false; // written before readyEvent
};

namespace {

class Pipeline {
public:
    Pipeline(RecordState& s, uint32_t inRate)
        : s_(s), chunk_(inRate / 10), resampler_(inRate, s.freq, 2), in_(2 * chunk_, 0.0f),
          zeros_(2 * chunk_, 0.0f), out_(2 * resampler_.maxOutput(chunk_), 0.0f),
          block_(2 * resampler_.maxOutput(chunk_), 0) {}

    bool ok() const { return resampler_.ok(); }
    size_t chunk() const { return chunk_; }
    float* input() { return in_.data(); }
    uint64_t fed() const { return fed_; }

    // Resamples `frames` of input (at most chunk()), converts and delivers. False when the
    // recording is over.
    bool feed(const float* stereo, size_t frames) {
        fed_ += frames;
        const size_t n = resampler_.process(stereo, frames, out_.data(), out_.size() / 2);
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
            if (!feed(zeros_.data(), n))
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
    size_t chunk_;
    qvcore::StreamResampler resampler_;
    std::vector<float> in_;
    std::vector<float> zeros_;
    std::vector<float> out_;
    std::vector<int16_t> block_;
    uint64_t fed_ = 0;
};

// Delivers what the source gives, and zeros where it gives nothing, so that the recording
// keeps to the wall clock from the moment it was opened to the moment it is stopped.
void record(RecordState& s, qvdevice::CaptureStream& capture, Pipeline& pipe) {
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    const double rate = capture.rate();
    bool delivered = false; // the source has given its first packet
    for (;;) {
        const bool stopping = WaitForSingleObject(s.stopEvent.h, pollMs) == WAIT_OBJECT_0;
        if (!s.enabled.load())
            return;
        size_t n;
        while ((n = capture.read(pipe.input(), pipe.chunk())) > 0) {
            if (!delivered) {
                // A late first packet: what came before it is silence. (It is also the last
                // moment to fill it in front of the data.)
                delivered = true;
                const double before = secondsSince(start) * rate - static_cast<double>(n);
                if (before > static_cast<double>(pipe.fed()) &&
                    !pipe.feedSilence(static_cast<uint64_t>(before) - pipe.fed()))
                    return;
            }
            if (!pipe.feed(pipe.input(), n))
                return;
        }
        // When the system delivers nothing (a loopback while nothing plays, a device that went
        // away), the wall clock goes on: fill with zeros. A source that has not started yet
        // gets a moment's grace, and while it runs its latency is allowed for; at the stop the
        // recording is made up to the wall clock.
        const double elapsed = secondsSince(start);
        if (!stopping && !delivered && elapsed < startGraceSeconds)
            continue;
        const double due = (stopping ? elapsed : elapsed - slackSeconds) * rate;
        if (due > static_cast<double>(pipe.fed()) &&
            !pipe.feedSilence(static_cast<uint64_t>(due) - pipe.fed()))
            return;
        if (stopping)
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
        SetEvent(s.endedEvent.h);
    }
    SetEvent(s.doneEvent.h);
}

} // namespace

namespace {

// The callback may be waiting on this thread (a window text set from the recording thread), so
// messages sent to this thread are handled while it waits.
void waitHandlingSentMessages(RecordState&, HANDLE event, DWORD timeoutMs) {
    const ULONGLONG until = GetTickCount64() + timeoutMs;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now >= until)
            return;
        const DWORD w = MsgWaitForMultipleObjects(1, &event, FALSE, static_cast<DWORD>(until - now),
                                                  QS_SENDMESSAGE);
        if (w != WAIT_OBJECT_0 + 1)
            return; // signalled, timed out or failed
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

} // namespace

std::unique_ptr<Recording> Recording::start(const qvdevice::CaptureSource& source, DWORD freq,
                                            DWORD chans, RECORDPROC* proc, DWORD user,
                                            HRECORD handle) {
    if (!proc || freq < 8000 || freq > 192000 || (chans != 1 && chans != 2))
        return nullptr;
    auto state = std::make_shared<RecordState>();
    if (!state->stopEvent.h || !state->readyEvent.h || !state->doneEvent.h ||
        !state->endedEvent.h || !state->procDone.h)
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
    if (GetCurrentThreadId() == s.threadId) {
        s.enabled.store(false); // inside the callback: it is the last call
        SetEvent(s.stopEvent.h);
        return;
    }
    // Let the thread deliver what is left, up to this moment, and end by itself.
    SetEvent(s.stopEvent.h);
    waitHandlingSentMessages(s, s.endedEvent.h, finishTimeoutMs);
    // Whatever happened, no call starts from now on; wait for one in progress.
    s.enabled.store(false);
    while (s.inProc.load())
        waitHandlingSentMessages(s, s.procDone.h, pollMs);
}

bool Recording::active() const {
    return state_->enabled.load() && !state_->ended.load();
}

} // namespace qvbass

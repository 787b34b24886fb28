#include "recording.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <vector>

#include "qvcore/capture_timeline.h"
#include "qvcore/convert.h"
#include "qvdevice/com.h"
#include "qvwin32/handle.h"

namespace qvbass {

namespace {

// How often the capture and delivery threads look again.
constexpr DWORD pollMs = 10, deliveryPollMs = 20;
constexpr DWORD openTimeoutMs = 5000;
// A stop waits this long for what was captured to be taken, then this long more for a call
// that is still writing.
constexpr DWORD deliverTimeoutMs = 3000, callTimeoutMs = 1000;
// A source that has delivered nothing for this long is silent (a loopback while nothing plays),
// and its time passes in zeros. Well above capture latency and the stalls of a busy system's
// audio threads: zeros given for what turns out to be a late delivery would sit inside sound.
constexpr double slackSeconds = 1.0;
// At a stop, packets still on their way are waited for this many polls.
constexpr int stopPolls = 30;
// A source that went away is looked for again this often.
constexpr double reopenSeconds = 0.5;
// Room between the two threads: a writer may fall this far behind before sound is lost.
constexpr DWORD queueSeconds = 20;

using Event = qvwin32::Handle;
using qvwin32::makeEvent;

std::atomic<qvdevice::CaptureSystem*> testSystem{nullptr};

// Samples from the capture thread to the delivery thread; neither ever waits for the other.
class SampleQueue {
public:
    explicit SampleQueue(size_t samples) : ring_(samples) {}

    // What does not fit is owed, and made up with zeros at the next push that finds room, so
    // that the recording keeps its length while its writer catches up (zeros still owed when
    // the capture ends are not written). Every owed sample is sound lost.
    void push(const int16_t* data, size_t n) {
        size_t room = ring_.size() - static_cast<size_t>(head_ - tail_.load());
        const size_t zeros = static_cast<size_t>(std::min<uint64_t>(owed_, room));
        for (size_t i = 0; i < zeros; ++i)
            ring_[(head_ + i) % ring_.size()] = 0;
        if (zeros > 0) {
            if (zeroRunEnd_.load() != head_)
                zeroRunStart_.store(head_);
            zeroRunEnd_.store(head_ + zeros);
            zerosQueued_.fetch_add(zeros);
        }
        owed_ -= zeros;
        room -= zeros;
        head_ += zeros;
        if (owed_ > 0 || n > room) {
            owed_ += n;
            lost_.fetch_add(n);
            published_.store(head_);
            return;
        }
        for (size_t i = 0; i < n; ++i)
            ring_[(head_ + i) % ring_.size()] = data[i];
        head_ += n;
        published_.store(head_);
    }
    size_t pop(int16_t* out, size_t max) {
        const uint64_t tail = tail_.load();
        const size_t n = static_cast<size_t>(std::min<uint64_t>(published_.load() - tail, max));
        for (size_t i = 0; i < n; ++i)
            out[i] = ring_[(tail + i) % ring_.size()];
        tail_.store(tail + n);
        return n;
    }
    bool empty() const { return published_.load() == tail_.load(); }

    // What was lost, in samples, once `delivered` samples reached the callback: zeros in the
    // delivered part stand for sound the writer fell too far behind for, and the time after it
    // (queued or owed) never reached the file. Exact while the zeros not delivered lie in the
    // latest run of them, as they do for a writer that stays behind until the stop.
    void loss(uint64_t delivered, uint64_t& replaced, uint64_t& unwritten) const {
        const uint64_t published = published_.load();
        const uint64_t zeros = zerosQueued_.load();
        const uint64_t start = std::max(zeroRunStart_.load(), delivered);
        const uint64_t end = std::min(zeroRunEnd_.load(), published);
        const uint64_t zerosAfter = std::min(zeros, end > start ? end - start : 0);
        const uint64_t owedAtEnd = lost_.load() - zeros;
        replaced = zeros - zerosAfter;
        unwritten = (published > delivered ? published - delivered : 0) + owedAtEnd;
    }

private:
    std::vector<int16_t> ring_;
    uint64_t head_ = 0; // the capture thread's own
    uint64_t owed_ = 0;
    std::atomic<uint64_t> published_{0};
    std::atomic<uint64_t> tail_{0};
    std::atomic<uint64_t> lost_{0};        // sound samples that did not fit
    std::atomic<uint64_t> zerosQueued_{0}; // zeros queued in their place
    std::atomic<uint64_t> zeroRunStart_{0}, zeroRunEnd_{0};
};

} // namespace

struct RecordState {
    qvdevice::CaptureSystem* system = nullptr;
    qvdevice::CaptureSource source;
    DWORD freq = 0;
    DWORD chans = 0;
    RECORDPROC* proc = nullptr;
    DWORD user = 0;
    HRECORD handle = 0;

    // The stopper clears `enabled` and then waits while `inProc`; the delivery thread sets
    // `inProc` and then looks at `enabled`. Both sequentially consistent: one of them sees the
    // other, so no call of proc starts after stop() has returned.
    std::atomic<bool> enabled{true};
    std::atomic<bool> inProc{false};
    std::atomic<bool> ended{false};
    std::atomic<bool> captured{false}; // the capture thread queued its last samples
    std::atomic<bool> stopAsked{false};
    std::atomic<bool> stopped{false}; // a stop has run to its end
    std::atomic<double> stopTime{0.0};
    std::atomic<DWORD> deliveryThreadId{0};
    std::atomic<SourceState> sourceState{SourceState::First};
    std::atomic<uint64_t> delivered{0}; // samples handed to the callback

    Event stopEvent = makeEvent(true);
    Event readyEvent = makeEvent(true);
    Event wake = makeEvent(false);        // the delivery thread has more to do
    Event captureDone = makeEvent(true);  // the capture thread is over
    Event deliveryDone = makeEvent(true); // no more calls will be made
    Event procDone = makeEvent(false);
    bool opened = false; // written before readyEvent
    SampleQueue queue;

    RecordState(DWORD f, DWORD c)
        : freq(f), chans(c), queue(static_cast<size_t>(f) * c * queueSeconds) {}
};

namespace {

// Resamples and converts to 16-bit, and queues for the delivery thread.
class Producer {
public:
    explicit Producer(RecordState& s) : s_(s), zeros_(2 * 4096, 0.0f) {}

    bool setRate(uint32_t rate) {
        if (resampler_ && rate_ == rate)
            return true;
        finish();
        resampler_ = std::make_unique<qvcore::StreamResampler>(rate, s_.freq, 2);
        rate_ = rate;
        out_.assign(2 * resampler_->maxOutput(zeros_.size() / 2 + maxPacket), 0.0f);
        block_.assign(out_.size(), 0);
        return resampler_->ok();
    }

    void sound(const float* stereo, size_t frames) {
        while (frames > 0) {
            const size_t n = std::min(frames, maxPacket);
            put(resampler_->process(stereo, n, out_.data(), out_.size() / 2));
            stereo += 2 * n;
            frames -= n;
        }
    }
    void silence(uint64_t frames) {
        while (frames > 0) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(frames, zeros_.size() / 2));
            put(resampler_->process(zeros_.data(), n, out_.data(), out_.size() / 2));
            frames -= n;
        }
    }
    // The resampler's tail: the last moments before a stop or a change of rate.
    void finish() {
        if (resampler_)
            put(resampler_->drain(out_.data(), out_.size() / 2));
    }

    static constexpr size_t maxPacket = 4096;

private:
    void put(size_t frames) {
        if (frames == 0)
            return;
        if (s_.chans == 1) {
            for (size_t i = 0; i < frames; ++i)
                block_[i] = qvcore::floatToInt16(0.5f * (out_[2 * i] + out_[2 * i + 1]));
        } else {
            qvcore::floatToInt16(out_.data(), block_.data(), 2 * frames);
        }
        s_.queue.push(block_.data(), frames * s_.chans);
    }

    RecordState& s_;
    uint32_t rate_ = 0;
    std::unique_ptr<qvcore::StreamResampler> resampler_;
    std::vector<float> zeros_;
    std::vector<float> out_;
    std::vector<int16_t> block_;
};

// Drains the source and places what it gives on the recording's time line, from the moment
// the recording was opened to the moment it is stopped.
class Capture {
public:
    Capture(RecordState& s, std::unique_ptr<qvdevice::CaptureReader> reader)
        : s_(s), reader_(std::move(reader)), line_(s.system->now()), out_(s),
          buffer_(2 * Producer::maxPacket) {
        heardAt_ = line_.covered();
    }

    bool ok() {
        line_.newSource(reader_->rate());
        return out_.setRate(reader_->rate());
    }

    void run() {
        for (;;) {
            const bool stopping = s_.system->wait(s_.stopEvent.get(), pollMs);
            if (!s_.enabled.load())
                return;
            followSource(stopping);
            if (stopping) {
                finish(s_.stopTime.load());
                return;
            }
            drain(-1.0);
            out_.silence(line_.fillTo(s_.system->now() - slackSeconds));
        }
    }

private:
    // A device that failed or went away, or a loopback whose output is no longer the default:
    // the recording goes on from the source as it is now, zeros filling the time between.
    void followSource(bool stopping) {
        if (reader_ && (reader_->lost() || reader_->moved())) {
            drain(-1.0); // what it captured before
            reader_.reset();
            s_.sourceState = SourceState::Missing;
            retryAt_ = s_.system->now();
        }
        if (reader_ || stopping || s_.system->now() < retryAt_)
            return;
        reader_ = s_.system->open(s_.source);
        if (!reader_ || !out_.setRate(reader_->rate())) {
            reader_.reset();
            retryAt_ = s_.system->now() + reopenSeconds;
            return;
        }
        line_.newSource(reader_->rate());
        s_.sourceState = SourceState::Replaced;
    }

    // Takes every packet that waits; with `until` >= 0 only what was captured before it.
    void drain(double until) {
        if (!reader_)
            return;
        qvdevice::PacketInfo info;
        size_t n;
        while ((n = reader_->read(buffer_.data(), Producer::maxPacket, info)) > 0) {
            heardAt_ = s_.system->now();
            const qvcore::CapturePacket p{info.position, info.time, static_cast<uint32_t>(n),
                                          info.discontinuity};
            const uint32_t keep = until >= 0 ? line_.framesBefore(p, until) : p.frames;
            if (keep == 0)
                continue; // captured after the stop
            out_.silence(line_.place(p));
            out_.sound(buffer_.data(), keep);
        }
    }

    // Everything captured up to the stop: packets still on their way are waited for while the
    // source delivers; a silent source's time is made up with zeros.
    void finish(double stopAt) {
        for (int i = 0; i < stopPolls; ++i) {
            drain(stopAt);
            const bool silent = s_.system->now() - heardAt_ > slackSeconds;
            if (line_.covered() >= stopAt || !reader_ || silent)
                break;
            s_.system->wait(s_.captureDone.get(), pollMs); // not set before this thread ends
        }
        out_.silence(line_.fillTo(stopAt));
        out_.finish();
    }

    RecordState& s_;
    std::unique_ptr<qvdevice::CaptureReader> reader_;
    qvcore::CaptureTimeline line_;
    Producer out_;
    std::vector<float> buffer_;
    double retryAt_ = 0;
    double heardAt_ = 0;
};

void captureThread(std::shared_ptr<RecordState> state) {
    RecordState& s = *state;
    {
        qvdevice::ThreadCom com;
        std::unique_ptr<Capture> capture;
        if (auto reader = s.system->open(s.source)) {
            capture = std::make_unique<Capture>(s, std::move(reader));
            s.opened = capture->ok();
        }
        SetEvent(s.readyEvent.get());
        if (s.opened)
            capture->run();
    }
    s.captured = true;
    SetEvent(s.wake.get());
    SetEvent(s.captureDone.get());
}

bool deliver(RecordState& s, int16_t* data, DWORD bytes) {
    s.inProc.store(true);
    if (!s.enabled.load()) {
        s.inProc.store(false);
        return false;
    }
    s.delivered.fetch_add(bytes / sizeof(int16_t));
    const BOOL goOn = s.proc(s.handle, data, bytes, s.user);
    if (!goOn)
        s.enabled.store(false);
    s.inProc.store(false);
    SetEvent(s.procDone.get());
    return goOn != FALSE;
}

// Hands the queue to the callback in blocks of a tenth of a second.
void deliveryThread(std::shared_ptr<RecordState> state) {
    RecordState& s = *state;
    s.deliveryThreadId = GetCurrentThreadId();
    std::vector<int16_t> block(static_cast<size_t>(s.freq / 10) * s.chans);
    for (;;) {
        const bool last = s.captured.load();
        size_t n;
        bool goOn = true;
        while (goOn && (n = s.queue.pop(block.data(), block.size())) > 0)
            goOn = deliver(s, block.data(), static_cast<DWORD>(n * sizeof(int16_t)));
        if (!goOn || !s.enabled.load() || (last && s.queue.empty()))
            break;
        WaitForSingleObject(s.wake.get(), deliveryPollMs);
    }
    s.ended = true;
    SetEvent(s.stopEvent.get()); // a recording its callback ended needs no more capture
    SetEvent(s.deliveryDone.get());
}

// The callback may be waiting on this thread (a window text set from the recording thread), so
// messages sent to this thread are handled while it waits.
void waitHandlingSentMessages(HANDLE event, DWORD timeoutMs) {
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

bool isSet(HANDLE event) {
    return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

} // namespace

qvdevice::CaptureSystem& captureSystem() {
    qvdevice::CaptureSystem* s = testSystem.load();
    return s ? *s : qvdevice::wasapiCapture();
}

void useCaptureSystem(qvdevice::CaptureSystem* system) {
    testSystem = system;
}

std::unique_ptr<Recording> Recording::start(const qvdevice::CaptureSource& source, DWORD freq,
                                            DWORD chans, RECORDPROC* proc, DWORD user,
                                            HRECORD handle) {
    if (!proc || freq < 8000 || freq > 192000 || (chans != 1 && chans != 2))
        return nullptr;
    auto state = std::make_shared<RecordState>(freq, chans);
    for (const Event* e : {&state->stopEvent, &state->readyEvent, &state->wake, &state->captureDone,
                           &state->deliveryDone, &state->procDone})
        if (!*e)
            return nullptr;
    state->system = &captureSystem();
    state->source = source;
    state->proc = proc;
    state->user = user;
    state->handle = handle;
    std::unique_ptr<Recording> r(new Recording);
    r->state_ = state;
    try {
        r->capture_ = std::thread(captureThread, state);
        if (WaitForSingleObject(state->readyEvent.get(), openTimeoutMs) != WAIT_OBJECT_0 ||
            !state->opened)
            return nullptr; // the destructor stops and reaps the thread
        r->delivery_ = std::thread(deliveryThread, state);
    } catch (...) {
        return nullptr;
    }
    return r;
}

Recording::~Recording() {
    stop();
    // A thread still inside a stuck write ends by itself; it holds the state.
    const bool self = GetCurrentThreadId() == state_->deliveryThreadId;
    if (capture_.joinable()) {
        if (isSet(state_->captureDone.get()))
            capture_.join();
        else
            capture_.detach();
    }
    if (delivery_.joinable()) {
        if (!self && isSet(state_->deliveryDone.get()))
            delivery_.join();
        else
            delivery_.detach();
    }
}

void Recording::stop() {
    RecordState& s = *state_;
    if (GetCurrentThreadId() == s.deliveryThreadId) {
        s.enabled.store(false); // inside the callback: it is the last call
        SetEvent(s.stopEvent.get());
        return;
    }
    if (s.stopped.load())
        return;
    if (!s.stopAsked.exchange(true)) {
        s.stopTime = s.system->now();
        SetEvent(s.stopEvent.get());
        SetEvent(s.wake.get());
    }
    if (delivery_.joinable())
        waitHandlingSentMessages(s.deliveryDone.get(), deliverTimeoutMs);
    // Whatever happened, no call starts from now on; wait for one in progress, within reason.
    s.enabled.store(false);
    SetEvent(s.wake.get());
    const ULONGLONG until = GetTickCount64() + callTimeoutMs;
    while (s.inProc.load() && GetTickCount64() < until)
        waitHandlingSentMessages(s.procDone.get(), pollMs);
    // The capture thread is quick to end once it is told.
    waitHandlingSentMessages(s.captureDone.get(), callTimeoutMs);
    s.stopped = true;
}

bool Recording::active() const {
    return state_->enabled.load() && !state_->ended.load();
}

void Recording::loss(uint64_t& replacedBytes, uint64_t& unwrittenBytes) const {
    uint64_t replaced = 0, unwritten = 0;
    state_->queue.loss(state_->delivered.load(), replaced, unwritten);
    replacedBytes = replaced * sizeof(int16_t);
    unwrittenBytes = unwritten * sizeof(int16_t);
}

SourceState Recording::source() const {
    return state_->sourceState.load();
}

} // namespace qvbass

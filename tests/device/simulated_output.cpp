#include "tests/device/simulated_output.h"

#include <audioclient.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace qvtest {

namespace {

using qvdevice::DeviceFormat;
using qvdevice::SampleKind;

constexpr double periodSeconds = 0.01;
constexpr UINT32 periodMs = 10;

LONGLONG counter() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

double seconds(LONGLONG ticks) {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(ticks) / static_cast<double>(f.QuadPart);
}

uint32_t sampleBytes(SampleKind kind) {
    return kind == SampleKind::Int16 ? 2 : kind == SampleKind::Int24 ? 3 : 4;
}

float sampleAt(const BYTE* p, SampleKind kind) {
    switch (kind) {
    case SampleKind::Float32: {
        float v;
        std::memcpy(&v, p, 4);
        return v;
    }
    case SampleKind::Int16: {
        int16_t v;
        std::memcpy(&v, p, 2);
        return v / 32768.0f;
    }
    case SampleKind::Int24: {
        const int32_t v = static_cast<int32_t>(static_cast<uint32_t>(p[0]) << 8 |
                                               static_cast<uint32_t>(p[1]) << 16 |
                                               static_cast<uint32_t>(p[2]) << 24) >>
                          8;
        return v / 8388608.0f;
    }
    case SampleKind::Int32: {
        int32_t v;
        std::memcpy(&v, p, 4);
        return static_cast<float>(v / 2147483648.0);
    }
    }
    return 0;
}

// One stream: the device's engine reads what was written at the format's rate from Start on,
// and signals the event every 10 ms while its endpoint still does.
class SimClient final : public qvdevice::RenderClient {
public:
    SimClient(SimulatedOutput& sys, std::wstring id, int generation, DeviceFormat format)
        : sys_(sys), id_(std::move(id)), generation_(generation), format_(format) {}
    ~SimClient() override { stop(); }

    HRESULT initialize(HANDLE event, DeviceFormat& format, UINT32& bufferFrames,
                       REFERENCE_TIME& period) override {
        HRESULT hr;
        if (sys_.failing(id_, generation_, Call::Initialize, hr))
            return hr;
        event_ = event;
        // As a shared-mode engine does: about three of its periods.
        buffer_ = static_cast<UINT32>(std::lround(3 * periodSeconds * format_.rate));
        data_.assign(static_cast<size_t>(buffer_) * format_.bytesPerFrame, 0);
        format = format_;
        bufferFrames = buffer_;
        period = static_cast<REFERENCE_TIME>(periodMs) * 10000;
        entry_ = sys_.record(id_);
        return S_OK;
    }
    HRESULT padding(UINT32& frames) override {
        HRESULT hr;
        if (sys_.failing(id_, generation_, Call::Padding, hr))
            return hr;
        frames = queued();
        return S_OK;
    }
    HRESULT getBuffer(UINT32 frames, BYTE*& data) override {
        HRESULT hr;
        if (sys_.failing(id_, generation_, Call::GetBuffer, hr))
            return hr;
        if (frames > buffer_ - queued())
            return AUDCLNT_E_BUFFER_TOO_LARGE;
        data = data_.data();
        return S_OK;
    }
    HRESULT releaseBuffer(UINT32 frames, bool silent) override {
        if (!silent)
            sys_.wrote(entry_, data_.data(), frames, format_);
        written_ += frames;
        return S_OK;
    }
    HRESULT start() override {
        started_ = counter();
        startedAt_ = sys_.now();
        if (event_ && !timer_)
            CreateTimerQueueTimer(&timer_, nullptr, tick, this, periodMs, periodMs,
                                  WT_EXECUTEDEFAULT);
        return S_OK;
    }
    void stop() override {
        if (timer_)
            DeleteTimerQueueTimer(nullptr, timer_, INVALID_HANDLE_VALUE);
        timer_ = nullptr;
    }

private:
    static void CALLBACK tick(void* self, BOOLEAN) {
        auto* c = static_cast<SimClient*>(self);
        if (!c->sys_.eventsStopped(c->id_, c->startedAt_))
            SetEvent(c->event_);
    }
    UINT32 queued() const {
        if (!started_)
            return static_cast<UINT32>(std::min<uint64_t>(written_, buffer_));
        const auto played = static_cast<uint64_t>(seconds(counter() - started_) * format_.rate);
        return static_cast<UINT32>(
            written_ > played ? std::min<uint64_t>(written_ - played, buffer_) : 0);
    }

    SimulatedOutput& sys_;
    std::wstring id_;
    int generation_;
    DeviceFormat format_;
    HANDLE event_ = nullptr;
    HANDLE timer_ = nullptr;
    UINT32 buffer_ = 0;
    std::vector<BYTE> data_;
    uint64_t written_ = 0;
    LONGLONG started_ = 0;
    double startedAt_ = 0;
    size_t entry_ = 0;
};

class SimWatch final : public qvdevice::OutputSystem::Watch {
public:
    SimWatch(SimulatedOutput& sys, HANDLE event) : sys_(sys), event_(event) {}
    ~SimWatch() override { sys_.unwatch(event_); }

private:
    SimulatedOutput& sys_;
    HANDLE event_;
};

} // namespace

DeviceFormat simFormat(SampleKind kind, uint32_t channels, uint32_t rate) {
    DeviceFormat f;
    f.kind = kind;
    f.channels = channels;
    f.rate = rate;
    f.bytesPerFrame = sampleBytes(kind) * channels;
    return f;
}

SimulatedOutput::SimulatedOutput() : start_(counter()) {}

double SimulatedOutput::now() const {
    return seconds(counter() - start_);
}

void SimulatedOutput::add(const SimEndpoint& endpoint) {
    {
        std::lock_guard<std::mutex> lock(lock_);
        endpoints_.push_back(Present{endpoint, ++generations_});
    }
    notify();
}

void SimulatedOutput::remove(const std::wstring& id) {
    {
        std::lock_guard<std::mutex> lock(lock_);
        endpoints_.erase(std::remove_if(endpoints_.begin(), endpoints_.end(),
                                        [&](const Present& e) { return e.endpoint.id == id; }),
                         endpoints_.end());
    }
    notify();
}

void SimulatedOutput::setDefault(const std::wstring& id) {
    {
        std::lock_guard<std::mutex> lock(lock_);
        default_ = id;
    }
    notify();
}

void SimulatedOutput::notify() {
    std::lock_guard<std::mutex> lock(lock_);
    for (HANDLE e : watchers_)
        SetEvent(e);
}

std::vector<SimulatedOutput::Written> SimulatedOutput::written() const {
    std::lock_guard<std::mutex> lock(lock_);
    return written_;
}

HRESULT SimulatedOutput::defaultDevice(std::wstring& id) {
    std::lock_guard<std::mutex> lock(lock_);
    if (default_.empty())
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    id = default_;
    return S_OK;
}

HRESULT SimulatedOutput::activate(const std::wstring& id,
                                  std::unique_ptr<qvdevice::RenderClient>& out) {
    std::lock_guard<std::mutex> lock(lock_);
    const Present* e = find(id);
    if (!e)
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    out = std::make_unique<SimClient>(*this, id, e->generation, e->endpoint.format);
    ++activations_;
    return S_OK;
}

const SimulatedOutput::Present* SimulatedOutput::find(const std::wstring& id) const {
    for (const Present& e : endpoints_)
        if (e.endpoint.id == id)
            return &e;
    return nullptr;
}

std::unique_ptr<qvdevice::OutputSystem::Watch> SimulatedOutput::watch(HANDLE event) {
    std::lock_guard<std::mutex> lock(lock_);
    watchers_.insert(event);
    return std::make_unique<SimWatch>(*this, event);
}

void SimulatedOutput::unwatch(HANDLE event) {
    std::lock_guard<std::mutex> lock(lock_);
    watchers_.erase(event);
}

bool SimulatedOutput::failing(const std::wstring& id, int generation, Call call,
                              HRESULT& hr) const {
    const double t = now();
    std::lock_guard<std::mutex> lock(lock_);
    const Present* e = find(id);
    if (!e || e->generation != generation) {
        hr = AUDCLNT_E_DEVICE_INVALIDATED; // unplugged, or back in another format
        return true;
    }
    const SimEndpoint& s = e->endpoint;
    if (s.failCall != Call::None && (s.failCall == call || call == Call::Initialize) &&
        t >= s.failFrom && t < s.failUntil) {
        hr = s.failWith;
        return true;
    }
    return false;
}

bool SimulatedOutput::eventsStopped(const std::wstring& id, double startedAt) const {
    const double t = now();
    std::lock_guard<std::mutex> lock(lock_);
    const Present* e = find(id);
    return !e || (t >= e->endpoint.eventsStopAt && startedAt < e->endpoint.eventsStopAt);
}

size_t SimulatedOutput::record(const std::wstring& device) {
    std::lock_guard<std::mutex> lock(lock_);
    written_.push_back(Written{device});
    return written_.size() - 1;
}

void SimulatedOutput::wrote(size_t entry, const BYTE* data, UINT32 frames, const DeviceFormat& f) {
    const double t = now();
    const uint32_t bytes = sampleBytes(f.kind);
    float front = 0, others = 0;
    for (UINT32 i = 0; i < frames; ++i) {
        const BYTE* frame = data + static_cast<size_t>(i) * f.bytesPerFrame;
        for (uint32_t c = 0; c < f.channels; ++c) {
            const float v = std::fabs(sampleAt(frame + c * bytes, f.kind));
            float& peak = c < 2 ? front : others;
            peak = std::max(peak, v);
        }
    }
    std::lock_guard<std::mutex> lock(lock_);
    Written& w = written_[entry];
    if (w.firstAt < 0 && front > 0)
        w.firstAt = t;
    w.frames += frames;
    w.frontPeak = std::max(w.frontPeak, front);
    w.othersPeak = std::max(w.othersPeak, others);
}

} // namespace qvtest

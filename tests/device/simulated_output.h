// Render endpoints that behave as Windows' do and Wine's cannot: a device that is invalidated
// in the middle of a call, taken in exclusive mode, that stops signalling its event, a new
// default, no device at all, any mix format. The device's clock is the performance counter;
// it consumes what was written in real time, and what it plays is checked as it is written.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "qvdevice/output.h"

namespace qvtest {

enum class Call { None, Padding, GetBuffer, Initialize };

// Times are seconds since the SimulatedOutput was made.
struct SimEndpoint {
    std::wstring id;
    qvdevice::DeviceFormat format;
    // From `failFrom` until `failUntil`, `failCall` answers `failWith` in its streams, and new
    // streams on it cannot be initialised (with the same answer).
    Call failCall = Call::None;
    HRESULT failWith = S_OK;
    double failFrom = 1e9;
    double failUntil = 1e9;
    // Streams started before then signal their event no more from then on.
    double eventsStopAt = 1e9;
};

// A mix format as describeFormat gives it (24 bits in a 32-bit container is Int32).
qvdevice::DeviceFormat simFormat(qvdevice::SampleKind kind, uint32_t channels, uint32_t rate);

class SimulatedOutput : public qvdevice::OutputSystem {
public:
    SimulatedOutput();

    // Control, from the test's thread.
    void add(const SimEndpoint& endpoint);
    void remove(const std::wstring& id);
    void setDefault(const std::wstring& id); // empty: none
    double now() const;                      // seconds since construction

    // What the streams did. Times are seconds since construction.
    struct Written {
        std::wstring device;
        double firstAt = -1; // first frames written with sound
        uint64_t frames = 0;
        float frontPeak = 0;  // front left and right
        float othersPeak = 0; // every other channel
    };
    std::vector<Written> written() const;
    int activations() const { return activations_.load(); }

    HRESULT defaultDevice(std::wstring& id) override;
    HRESULT activate(const std::wstring& id, std::unique_ptr<qvdevice::RenderClient>& out) override;
    std::unique_ptr<Watch> watch(HANDLE event) override;

    // For the streams.
    // `generation` tells a device from the one of the same id that came back after it.
    bool failing(const std::wstring& id, int generation, Call call, HRESULT& hr) const;
    bool eventsStopped(const std::wstring& id, double startedAt) const;
    size_t record(const std::wstring& device); // a new stream's entry in written()
    void wrote(size_t entry, const BYTE* data, UINT32 frames, const qvdevice::DeviceFormat& f);
    void unwatch(HANDLE event);

private:
    void notify();
    mutable std::mutex lock_;
    struct Present {
        SimEndpoint endpoint;
        int generation;
    };
    const Present* find(const std::wstring& id) const;
    std::vector<Present> endpoints_;
    int generations_ = 0;
    std::wstring default_;
    std::set<HANDLE> watchers_;
    std::vector<Written> written_;
    std::atomic<int> activations_{0};
    LONGLONG start_ = 0;
};

} // namespace qvtest

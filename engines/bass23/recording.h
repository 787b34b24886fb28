// One recording: a capture thread drains the source, places its packets by the source's own
// clock, converts them to 16-bit at the rate and channel count asked and queues them; a
// delivery thread hands the queue block by block to the program's callback, which may write a
// file. A slow or stuck write never holds up the draining of the device.
#pragma once

#include <cstdint>
#include <memory>
#include <thread>

#include "bass23.h"
#include "qvdevice/capture.h"

namespace qvbass {

struct RecordState;

// Where recordings come from: the system's WASAPI unless a test put a simulation in place.
qvdevice::CaptureSystem& captureSystem();
void useCaptureSystem(qvdevice::CaptureSystem* system); // null: the system's own again

// What a recording hears.
enum class SourceState { First, Replaced, Missing };

class Recording {
public:
    // Null when the source cannot be opened or the format is not offered.
    static std::unique_ptr<Recording> start(const qvdevice::CaptureSource& source, DWORD freq,
                                            DWORD chans, RECORDPROC* proc, DWORD user,
                                            HRECORD handle);
    ~Recording();
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

    // Delivers what was captured up to this moment, then ends: once it returns, no call of the
    // callback starts any more. Bounded: a callback that cannot keep up loses what it has not
    // taken after a few seconds, and one stuck in a write is left to return by itself. Safe to
    // call again, also from a message handled while an earlier call waits. From inside the
    // callback it only makes this call of it the last.
    void stop();
    // Still recording: neither stopped nor ended by the callback.
    bool active() const;
    SourceState source() const;
    // Sound lost so far, in bytes of the recording's format: replaced by zeros because the
    // callback fell too far behind, and not written at all (what a stop had to give up on).
    void loss(uint64_t& replacedBytes, uint64_t& unwrittenBytes) const;

private:
    Recording() = default;
    std::shared_ptr<RecordState> state_;
    std::thread capture_;
    std::thread delivery_;
};

} // namespace qvbass

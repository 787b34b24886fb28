// One recording: a thread that reads a capture source, converts it to 16-bit at the rate and
// channel count asked, and hands it block by block to the program's callback.
#pragma once

#include <memory>
#include <thread>

#include "audio/bass23.h"
#include "qvdevice/capture.h"

namespace qvbass {

struct RecordState;

class Recording {
public:
    // Null when the source cannot be opened or the format is not offered.
    static std::unique_ptr<Recording> start(const qvdevice::CaptureSource& source, DWORD freq,
                                            DWORD chans, RECORDPROC* proc, DWORD user,
                                            HRECORD handle);
    ~Recording();
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

    // Once this returns, the callback never runs again. From inside the callback it only makes
    // this call of it the last.
    void stop();
    // Still recording: neither stopped nor ended by the callback.
    bool active() const;

private:
    Recording() = default;
    std::shared_ptr<RecordState> state_;
    std::thread thread_;
};

} // namespace qvbass

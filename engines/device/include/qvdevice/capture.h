// Recording sources: the active capture endpoints and, where it really works, the loopback of
// the default output; and a capture stream that reads one of them as stereo float.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "qvdevice/com.h"
#include "qvdevice/format.h"

struct IMMDeviceEnumerator;
struct IAudioClient;
struct IAudioCaptureClient;

namespace qvdevice {

enum class SourceKind { Loopback, Wave, Microphone, Line };

struct CaptureSource {
    SourceKind kind = SourceKind::Microphone;
    std::wstring id;  // endpoint id; empty for the loopback of the default output
    std::string name; // friendly name, in the ANSI code page
};

// Loopback of the default output first (when probeLoopback says it works), then every active
// capture endpoint in the system's order. Call on a thread with COM.
std::vector<CaptureSource> listCaptureSources(bool withLoopback);

// True when the loopback of the default output delivers what plays: it renders a faint tone for
// a moment and looks for it. The answer is kept per default output device.
bool probeLoopback();

// True for names that say the endpoint carries what the card plays.
bool isWaveName(const std::string& name);

// Opened, read and closed on one thread (with COM). Polled, not event-driven: a loopback
// delivers no packets while nothing plays.
class CaptureStream {
public:
    CaptureStream();
    ~CaptureStream();
    CaptureStream(const CaptureStream&) = delete;
    CaptureStream& operator=(const CaptureStream&) = delete;

    // `maxFrames`: the most read() will be asked for at once (buffers are sized here).
    bool open(const CaptureSource& source, size_t maxFrames);
    void close();
    bool isOpen() const { return static_cast<bool>(capture_); }
    uint32_t rate() const { return format_.rate; }

    // Appends what the endpoint holds, up to `capacity` stereo frames; silent packets give
    // zeros. Returns the frames written. After a failure (device gone) it returns 0 and lost()
    // is true.
    size_t read(float* stereo, size_t capacity);
    bool lost() const { return lost_; }

private:
    ComPtr<IAudioClient> client_;
    ComPtr<IAudioCaptureClient> capture_;
    DeviceFormat format_;
    bool lost_ = false;
    // A packet that did not fit is kept for the next read.
    std::vector<float> pending_;
    size_t pendingFrames_ = 0;
};

} // namespace qvdevice

// Recording sources: the active capture endpoints and, where it really works, the loopback of
// the default output; and a capture stream that reads one of them as stereo float.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
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

// Whether the loopback of a device works, remembered once it did (a device that failed is
// tried again at the next call: it may only have been busy); `probe` runs when not known.
bool rememberedProbe(const std::wstring& device, bool (*probe)());

// What the device says of one packet.
struct PacketInfo {
    uint64_t position = 0; // device frame position of its first frame
    double time = -1.0;    // performance-counter seconds when it was captured; < 0 unknown
    bool discontinuity = false;
};

// One open capture stream, read on one thread. A loopback delivers no packets while nothing
// plays.
class CaptureReader {
public:
    virtual ~CaptureReader() = default;
    virtual uint32_t rate() const = 0;
    // The next packet as stereo float, or as much of it as fits (the rest comes next, with
    // its position and time moved on): the frames written, 0 when nothing waits.
    virtual size_t read(float* stereo, size_t capacity, PacketInfo& info) = 0;
    // The device failed or went away.
    virtual bool lost() const = 0;
    // A loopback whose output is no longer the default one (headphones plugged in): what plays
    // now goes elsewhere.
    virtual bool moved() const = 0;
};

// What a recording sees of the system: its sources, their streams and the clock that stamps
// their packets. Tests put a simulated one in its place.
class CaptureSystem {
public:
    virtual ~CaptureSystem() = default;
    // Loopback of the default output first (when it really works), then every active capture
    // endpoint in the system's order. On a thread with COM.
    virtual std::vector<CaptureSource> sources(bool withLoopback) = 0;
    // Null when the source cannot be opened now. On a thread with COM, read there.
    virtual std::unique_ptr<CaptureReader> open(const CaptureSource& source) = 0;
    // Seconds on the performance counter.
    virtual double now() = 0;
    // Waits up to `ms`, or until `event` is set: true when it is.
    virtual bool wait(void* event, unsigned ms) = 0;
};

// The system's own, through WASAPI.
CaptureSystem& wasapiCapture();

// Opened, read and closed on one thread (with COM). Polled, not event-driven: a loopback
// delivers no packets while nothing plays.
class CaptureStream : public CaptureReader {
public:
    CaptureStream();
    ~CaptureStream() override;
    CaptureStream(const CaptureStream&) = delete;
    CaptureStream& operator=(const CaptureStream&) = delete;

    // `maxFrames`: the most read() will be asked for at once (buffers are sized here).
    HRESULT open(const CaptureSource& source, size_t maxFrames);
    void close();
    uint32_t rate() const override { return format_.rate; }

    // Silent packets give zeros. After a failure (device gone) it returns 0 and lost() is true.
    size_t read(float* stereo, size_t capacity, PacketInfo& info) override;
    size_t read(float* stereo, size_t capacity) {
        PacketInfo info;
        return read(stereo, capacity, info);
    }
    bool lost() const override { return lost_; }
    bool moved() const override;

private:
    struct Watch;
    ComPtr<IAudioClient> client_;
    ComPtr<IAudioCaptureClient> capture_;
    DeviceFormat format_;
    bool lost_ = false;
    // A packet that did not fit is kept for the next read, with what the device said of it.
    std::vector<float> pending_;
    size_t pendingFrames_ = 0;
    size_t pendingOffset_ = 0;
    PacketInfo pendingInfo_;
    std::unique_ptr<Watch> watch_; // loopback only: follows the default output
};

} // namespace qvdevice

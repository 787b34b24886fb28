// An output stream on the default device together with the mixer that feeds it. The mixer is
// any type with Mixer(rate, maxBlockFrames, maxChannels), outputRate(), setOutputRate(rate) and
// render(float*, frames); it stays in place when the stream moves to another device, and
// takes that device's rate before it renders for it.
#pragma once

#include <atomic>
#include <cstring>
#include <memory>

#include "qvdevice/output.h"

namespace qvdevice {

// Whether a library call may start, stop or pause a channel, or notice that one has ended.
enum class Effect { Silent, Audible };

// Held through a library call (inside its lock): as an audible call ends, `update` tells the
// output whether anything is to be heard now, so that an idle device may sleep.
template <void (*update)()> struct AfterCall {
    Effect effect;
    ~AfterCall() {
        if (effect == Effect::Audible)
            update();
    }
};

template <class Mixer> class MixedOutput {
public:
    // The render thread holds its address.
    MixedOutput(const MixedOutput&) = delete;
    MixedOutput& operator=(const MixedOutput&) = delete;
    MixedOutput() = default;
    ~MixedOutput() { close(); }

    HRESULT open(unsigned maxChannels) {
        close();
        HRESULT hr = output_.open(&MixedOutput::render, this);
        if (FAILED(hr))
            return hr;
        mixer_ = std::make_unique<Mixer>(output_.rate(), maxBlockFrames, maxChannels);
        live_.store(mixer_.get(), std::memory_order_release);
        setActive(false);
        return S_OK;
    }

    void close() {
        output_.close();
        live_.store(nullptr, std::memory_order_release);
        mixer_.reset();
    }

    // Whether anything plays (see OutputStream::setActive).
    void setActive(bool active) { output_.setActive(active); }

    Mixer* mixer() const { return mixer_.get(); }
    const OutputStream& output() const { return output_; }

private:
    static constexpr size_t maxBlockFrames = 2048;

    static void render(void* user, float* stereo, uint32_t frames) {
        auto* self = static_cast<MixedOutput*>(user);
        if (Mixer* m = self->live_.load(std::memory_order_acquire)) {
            // Only right after the stream moved to a device with another rate, before any of
            // its sound: the mixer's resamplers are rebuilt here, on the render thread.
            const uint32_t rate = self->output_.rate();
            if (rate && rate != m->outputRate())
                m->setOutputRate(rate);
            m->render(stereo, frames);
        } else
            std::memset(stereo, 0, sizeof(float) * 2 * frames);
    }

    OutputStream output_;
    std::unique_ptr<Mixer> mixer_;
    // What the render thread mixes: null until the mixer is set up.
    std::atomic<Mixer*> live_{nullptr};
};

} // namespace qvdevice

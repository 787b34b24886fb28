#include "qvcore/mixer.h"

#include <algorithm>
#include <cmath>
#include <thread>

#include <soxr.h>

namespace qvcore {

namespace {

constexpr unsigned kSlotBits = 12; // ids: generation << 12 | (slot + 1)
constexpr int kStopped = 0, kPlaying = 1, kEnded = 2;

int clampVolume(int v) {
    return std::clamp(v, 0, 255);
}

// Held by render for one block of one channel, by control calls to move that channel's decoder.
// A control call that wants the lock goes first: render skips the channel for a block rather
// than take the lock again in front of it, so the wait is at most one block's decode.
class SpinLock {
public:
    bool tryLock() {
        if (wanted_.load(std::memory_order_acquire))
            return false;
        return !flag_.exchange(true, std::memory_order_acquire);
    }
    void lock() {
        wanted_.fetch_add(1);
        while (flag_.exchange(true, std::memory_order_acquire))
            std::this_thread::yield();
        wanted_.fetch_sub(1);
    }
    void unlock() { flag_.store(false, std::memory_order_release); }

private:
    std::atomic<bool> flag_{false};
    std::atomic<int> wanted_{0};
};

struct Guard {
    SpinLock& l;
    explicit Guard(SpinLock& lock) : l(lock) { l.lock(); }
    ~Guard() { l.unlock(); }
};

} // namespace

class Channel {
public:
    Channel(std::unique_ptr<Decoder> d, std::uint32_t outRate, std::size_t maxBlock)
        : dec(std::move(d)), maxBlock_(maxBlock) {
        configure(outRate);
        numOrders.store(dec->numOrders());
        publish();
    }
    ~Channel() {
        if (soxr_)
            soxr_delete(soxr_);
    }

    // Sizes the buffers and the resampler for an output rate (control side, under the lock).
    bool configure(std::uint32_t outRate) {
        if (soxr_) {
            soxr_delete(soxr_);
            soxr_ = nullptr;
        }
        dec->setRenderRate(outRate);
        inRate_ = dec->sampleRate();
        outRate_ = outRate;
        out_.assign(2 * maxBlock_, 0.0f);
        inLen_ = inPos_ = 0;
        eof_ = false;
        drained_ = false;
        base_ = dec->positionFrames();
        outSinceReset_ = 0;
        length.store(dec->lengthMs());
        if (inRate_ == outRate_ || inRate_ == 0)
            return true;
        soxr_error_t err = nullptr;
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        soxr_ = soxr_create(inRate_, outRate_, 2, &err, nullptr, &quality, nullptr);
        if (err) {
            soxr_delete(soxr_);
            soxr_ = nullptr;
            return false;
        }
        inBlock_ =
            static_cast<std::size_t>(static_cast<std::uint64_t>(maxBlock_) * inRate_ / outRate_) +
            16;
        in_.assign(2 * inBlock_, 0.0f);
        return true;
    }

    // After a seek: drop what the resampler holds (control side, under the lock).
    void resetPipeline() {
        if (soxr_)
            soxr_clear(soxr_);
        inLen_ = inPos_ = 0;
        eof_ = false;
        drained_ = false;
        rampFrom_ = -1.0f;
        base_ = dec->positionFrames();
        outSinceReset_ = 0;
    }

    // Render side, under the lock: fills out_ with `frames` frames (silence past the end);
    // false once everything up to the source's end has been given out.
    bool produce(std::size_t frames) {
        std::size_t done = 0;
        if (!soxr_) {
            if (!eof_) {
                done = dec->render(out_.data(), frames);
                if (done < frames)
                    eof_ = true;
            }
            std::fill(out_.begin() + 2 * done, out_.begin() + 2 * frames, 0.0f);
            return !eof_;
        }
        bool drained = false;
        for (int round = 0; round < 64 && done < frames; ++round) {
            if (inPos_ == inLen_ && !eof_) {
                inLen_ = dec->render(in_.data(), inBlock_);
                inPos_ = 0;
                if (inLen_ < inBlock_)
                    eof_ = true;
            }
            const bool flushing = eof_ && inPos_ == inLen_;
            std::size_t idone = 0, odone = 0;
            soxr_process(soxr_, flushing ? nullptr : in_.data() + 2 * inPos_, inLen_ - inPos_,
                         &idone, out_.data() + 2 * done, frames - done, &odone);
            inPos_ += idone;
            done += odone;
            if (flushing && odone == 0) {
                drained = true;
                break;
            }
        }
        std::fill(out_.begin() + 2 * done, out_.begin() + 2 * frames, 0.0f);
        outSinceReset_ += done;
        drained_ = drained;
        return !drained;
    }

    // Source frames given out so far: what is being heard, not what the decoder read ahead.
    std::uint64_t heardFrames() const {
        const std::uint64_t decoded = dec->positionFrames();
        if (!soxr_ || drained_ || !outRate_)
            return decoded;
        // The resampler removes its own delay, so output maps linearly back to the source.
        const std::uint64_t heard = base_ + outSinceReset_ * inRate_ / outRate_;
        return std::min(heard, decoded);
    }

    void publish() {
        position.store(inRate_ ? heardFrames() * 1000 / inRate_ : 0);
        order.store(dec->currentOrder());
        row.store(dec->currentRow());
    }

    // Adds this block at `gain`, ramped over the block from the last gain to avoid clicks.
    void mixInto(float* out, std::size_t frames, float gain) {
        const float from = rampFrom_ < 0 ? gain : rampFrom_;
        rampFrom_ = gain;
        const float* src = out_.data();
        if (from == gain) {
            for (std::size_t i = 0; i < 2 * frames; ++i)
                out[i] += src[i] * gain;
            return;
        }
        const float step = (gain - from) / static_cast<float>(frames);
        for (std::size_t i = 0; i < frames; ++i) {
            const float g = from + step * static_cast<float>(i + 1);
            out[2 * i] += src[2 * i] * g;
            out[2 * i + 1] += src[2 * i + 1] * g;
        }
    }

    std::unique_ptr<Decoder> dec;
    SpinLock lock;
    std::atomic<int> volume{255};
    std::atomic<bool> paused{false};
    std::atomic<int> state{kStopped};
    std::atomic<std::uint64_t> position{0};
    std::atomic<std::uint64_t> length{0};
    std::atomic<int> numOrders{0};
    std::atomic<int> order{0};
    std::atomic<int> row{0};

private:
    std::size_t maxBlock_;
    soxr_t soxr_ = nullptr;
    std::uint32_t inRate_ = 0;
    std::uint32_t outRate_ = 0;
    std::vector<float> in_;
    std::size_t inBlock_ = 0;
    std::size_t inLen_ = 0;
    std::size_t inPos_ = 0;
    bool eof_ = false;
    bool drained_ = false;
    std::uint64_t base_ = 0;          // source position at the last reset
    std::uint64_t outSinceReset_ = 0; // frames given out since then
    std::vector<float> out_;
    float rampFrom_ = -1.0f;
};

Mixer::Mixer(std::uint32_t outputRate, std::size_t maxBlockFrames, unsigned maxChannels)
    : outputRate_(outputRate ? outputRate : 48000),
      maxBlock_(std::max<std::size_t>(maxBlockFrames, 64)),
      slots_(std::clamp(maxChannels, 1u, (1u << kSlotBits) - 1)) {}

Mixer::~Mixer() {
    for (Slot& s : slots_)
        delete s.channel.exchange(nullptr);
}

Channel* Mixer::find(ChannelId id) const {
    const std::uint32_t index = (id & ((1u << kSlotBits) - 1));
    if (index == 0 || index > slots_.size())
        return nullptr;
    const Slot& s = slots_[index - 1];
    if (s.generation != (id >> kSlotBits))
        return nullptr;
    return s.channel.load();
}

template <class Result, class Body>
Result Mixer::onChannel(ChannelId id, Result missing, Body body) const {
    std::lock_guard<std::mutex> g(control_);
    Channel* c = find(id);
    if (!c)
        return missing;
    return body(*c);
}

void Mixer::setOutputRate(std::uint32_t rate) {
    if (rate == 0)
        return;
    std::lock_guard<std::mutex> g(control_);
    outputRate_.store(rate);
    for (Slot& s : slots_) {
        if (Channel* c = s.channel.load()) {
            Guard l(c->lock);
            // Go on from what was heard: what the old resampler held is dropped.
            const std::uint64_t heard = c->heardFrames();
            const bool drained = c->state.load() == kEnded;
            const std::uint32_t oldRate = c->dec->sampleRate();
            c->configure(rate);
            // A module's frame count follows its render rate.
            const std::uint32_t newRate = c->dec->sampleRate();
            if (!drained && oldRate && newRate)
                c->dec->seekFrames(heard * newRate / oldRate);
            c->resetPipeline();
            c->publish();
        }
    }
}

Mixer::ChannelId Mixer::add(std::unique_ptr<Decoder> decoder) {
    if (!decoder)
        return 0;
    std::lock_guard<std::mutex> g(control_);
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        Slot& s = slots_[i];
        if (s.channel.load())
            continue;
        auto* c = new Channel(std::move(decoder), outputRate_.load(), maxBlock_);
        s.generation = (s.generation + 1) & ((1u << (32 - kSlotBits)) - 1);
        if (s.generation == 0)
            s.generation = 1;
        s.channel.store(c);
        return (s.generation << kSlotBits) | static_cast<std::uint32_t>(i + 1);
    }
    return 0;
}

void Mixer::remove(ChannelId id) {
    Channel* c = nullptr;
    {
        std::lock_guard<std::mutex> g(control_);
        if (!find(id))
            return;
        Slot& s = slots_[(id & ((1u << kSlotBits) - 1)) - 1];
        c = s.channel.exchange(nullptr);
        // A render pass that started before the exchange may still hold the pointer.
        const std::uint64_t pass = renderPasses_.load();
        if (pass & 1) {
            while (renderPasses_.load() == pass)
                std::this_thread::yield();
        }
    }
    delete c;
}

bool Mixer::play(ChannelId id, bool restart) {
    return onChannel(id, false, [restart](Channel& c) {
        if (restart || c.state.load() == kEnded) {
            Guard l(c.lock);
            c.dec->seekFrames(0);
            c.resetPipeline();
            c.publish();
        }
        c.paused.store(false);
        c.state.store(kPlaying);
        return true;
    });
}

bool Mixer::stop(ChannelId id) {
    return onChannel(id, false, [](Channel& c) {
        int playing = kPlaying;
        c.state.compare_exchange_strong(playing, kStopped);
        return true;
    });
}

bool Mixer::setPaused(ChannelId id, bool paused) {
    return onChannel(id, false, [paused](Channel& c) {
        c.paused.store(paused);
        return true;
    });
}

bool Mixer::setVolume(ChannelId id, int volume) {
    return onChannel(id, false, [volume](Channel& c) {
        c.volume.store(clampVolume(volume));
        return true;
    });
}

int Mixer::volume(ChannelId id) const {
    return onChannel(id, -1, [](Channel& c) { return c.volume.load(); });
}

ChannelState Mixer::state(ChannelId id) const {
    return onChannel(id, ChannelState::Invalid, [](Channel& c) -> ChannelState {
        switch (c.state.load()) {
        case kPlaying: return c.paused.load() ? ChannelState::Paused : ChannelState::Playing;
        case kEnded: return ChannelState::Ended;
        default: return ChannelState::Stopped;
        }
    });
}

bool Mixer::isActive(ChannelId id) const {
    const ChannelState s = state(id);
    return s == ChannelState::Playing || s == ChannelState::Paused;
}

bool Mixer::seekMs(ChannelId id, std::uint64_t ms) {
    return onChannel(id, false, [ms](Channel& c) {
        Guard l(c.lock);
        const bool ok = c.dec->seekMs(ms);
        c.resetPipeline();
        c.publish();
        if (ok) {
            int ended = kEnded;
            c.state.compare_exchange_strong(ended, kPlaying);
        }
        return ok;
    });
}

std::uint64_t Mixer::positionMs(ChannelId id) const {
    return onChannel(id, std::uint64_t{0}, [](Channel& c) { return c.position.load(); });
}

std::uint64_t Mixer::lengthMs(ChannelId id) const {
    return onChannel(id, std::uint64_t{0}, [](Channel& c) { return c.length.load(); });
}

bool Mixer::setOrderRow(ChannelId id, int order, int row) {
    return onChannel(id, false, [order, row](Channel& c) {
        Guard l(c.lock);
        const bool ok = c.dec->setOrderRow(order, row);
        if (ok) {
            c.resetPipeline();
            c.publish();
            int ended = kEnded;
            c.state.compare_exchange_strong(ended, kPlaying);
        }
        return ok;
    });
}

int Mixer::numOrders(ChannelId id) const {
    return onChannel(id, 0, [](Channel& c) { return c.numOrders.load(); });
}

int Mixer::order(ChannelId id) const {
    return onChannel(id, -1, [](Channel& c) { return c.order.load(); });
}

int Mixer::row(ChannelId id) const {
    return onChannel(id, -1, [](Channel& c) { return c.row.load(); });
}

void Mixer::setMasterVolume(int volume) {
    masterVolume_.store(clampVolume(volume));
}

void Mixer::render(float* out, std::size_t frames) {
    std::fill(out, out + 2 * frames, 0.0f);
    if (masterPaused_.load())
        return;
    renderPasses_.fetch_add(1); // odd: a pass is running
    const float master = static_cast<float>(masterVolume_.load()) / 255.0f;
    for (std::size_t at = 0; at < frames; at += maxBlock_) {
        const std::size_t n = std::min(maxBlock_, frames - at);
        for (Slot& s : slots_) {
            Channel* c = s.channel.load();
            if (!c || c->state.load() != kPlaying || c->paused.load())
                continue;
            // A control call is moving this decoder (a seek): leave it silent for this block.
            if (!c->lock.tryLock())
                continue;
            const bool more = c->produce(n);
            const float gain = static_cast<float>(c->volume.load()) / 255.0f * master;
            c->mixInto(out + 2 * at, n, gain);
            c->publish();
            if (!more) {
                // An end is an end: a source that stopped short of the length it announced
                // (a cut file) still reaches it, so whoever waits for the length moves on.
                if (c->position.load() < c->length.load())
                    c->position.store(c->length.load());
                int playing = kPlaying;
                c->state.compare_exchange_strong(playing, kEnded);
            }
            c->lock.unlock();
        }
    }
    renderPasses_.fetch_add(1);
}

} // namespace qvcore

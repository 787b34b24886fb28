#include "qvcore/read_ahead.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace qvcore {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// What the decoder and its thread share. The thread keeps it alive, so that a decoder closed
// while the source is stuck can leave the thread behind to finish on its own.
//
// One thread writes the ring (the reader), one reads it (render). Indices count frames and only
// grow; a seek resets both while render is held off by the mixer's channel lock.
struct Shared {
    Shared(PcmSourceOpener o, double seconds) : opener(std::move(o)), bufferSeconds(seconds) {}

    static constexpr std::size_t chunkFrames = 4096;
    static constexpr std::uint64_t unknown = ~std::uint64_t{0};

    PcmSourceOpener opener;
    double bufferSeconds;
    PcmSourceInfo info;
    std::unique_ptr<PcmSource> source; // the thread's own, from its opening to its end
    std::vector<float> ring, chunk;
    std::atomic<std::uint64_t> written{0}, read{0};
    std::atomic<bool> ended{false};
    std::atomic<std::uint64_t> realEnd{unknown}; // where the source really ended
    std::uint64_t base = 0;                      // the source frame at ring index 0 (thread side)

    std::mutex mutex;
    std::condition_variable wake, done;
    bool opened = false, quit = false, finished = false, seekOk = false;
    std::uint64_t seekAsked = 0, seekServed = 0, seekAbandoned = 0, seekTo = 0;

    std::size_t capacity() const { return ring.size() / 2; }
    std::size_t space() const {
        return capacity() - static_cast<std::size_t>(written.load(std::memory_order_relaxed) -
                                                     read.load(std::memory_order_acquire));
    }

    void run() {
        std::unique_ptr<PcmSource> made = opener(info);
        opener = nullptr; // what it holds goes on this thread
        if (made && info.rate) {
            const std::size_t frames = std::max<std::size_t>(
                static_cast<std::size_t>(info.rate * bufferSeconds), 2 * chunkFrames);
            ring.assign(2 * frames, 0.0f);
            chunk.assign(2 * chunkFrames, 0.0f);
            source = std::move(made);
            prefill();
        }
        made.reset();
        {
            std::lock_guard<std::mutex> lock(mutex);
            opened = true;
        }
        done.notify_all();
        if (source)
            loop();
        source.reset(); // on this thread, where it was made
        std::lock_guard<std::mutex> lock(mutex);
        finished = true;
        done.notify_all();
    }

    void loop() {
        std::unique_lock<std::mutex> lock(mutex);
        while (!quit) {
            if (seekServed < seekAsked) {
                serveSeek(lock);
                continue;
            }
            if (ended.load(std::memory_order_relaxed) || space() < chunkFrames) {
                wake.wait_for(lock, 10ms);
                continue;
            }
            lock.unlock();
            readChunk();
            lock.lock();
            done.notify_all(); // a seek's caller may wait for the first audio
        }
    }

    // The source moves first; the ring changes only once that worked and the caller still
    // waits (holding render off). A seek that failed or was given up on leaves playback as it
    // was: the source goes back to where the ring ends.
    void serveSeek(std::unique_lock<std::mutex>& lock) {
        const std::uint64_t ticket = seekAsked, to = seekTo;
        const std::uint64_t length = info.lengthFrames;
        const bool past = length && to >= length;
        lock.unlock();
        const bool ok = past || source->seek(to);
        lock.lock();
        const bool wanted = seekAbandoned < ticket;
        if (ok && wanted) {
            written.store(0, std::memory_order_relaxed);
            read.store(0, std::memory_order_relaxed);
            base = past ? length : to;
            ended.store(past, std::memory_order_release);
        } else if (!past) {
            lock.unlock();
            const bool back = source->seek(base + written.load(std::memory_order_relaxed));
            lock.lock();
            if (!back)
                endHere();
        }
        seekOk = ok && wanted;
        seekServed = ticket;
        done.notify_all();
    }

    // Enough to play on at once after the open.
    void prefill() {
        const std::size_t want = std::min(capacity(), static_cast<std::size_t>(info.rate / 4));
        while (!ended.load(std::memory_order_relaxed) &&
               written.load(std::memory_order_relaxed) < want)
            readChunk();
    }

    void readChunk() {
        const std::size_t n = source->read(chunk.data(), chunkFrames);
        std::uint64_t w = written.load(std::memory_order_relaxed);
        for (std::size_t done = 0; done < n;) {
            const std::size_t at = static_cast<std::size_t>(w % capacity());
            const std::size_t run = std::min(n - done, capacity() - at);
            std::memcpy(&ring[2 * at], &chunk[2 * done], run * 2 * sizeof(float));
            done += run;
            w += run;
        }
        written.store(w, std::memory_order_release);
        if (n < chunkFrames)
            endHere();
    }

    // The source gives nothing more: the stream ends where the ring does.
    void endHere() {
        realEnd.store(base + written.load(std::memory_order_relaxed), std::memory_order_relaxed);
        ended.store(true, std::memory_order_release);
    }

    void copyOut(std::uint64_t from, float* out, std::size_t n) const {
        for (std::size_t done = 0; done < n;) {
            const std::size_t at = static_cast<std::size_t>((from + done) % capacity());
            const std::size_t run = std::min(n - done, capacity() - at);
            std::memcpy(out + 2 * done, &ring[2 * at], run * 2 * sizeof(float));
            done += run;
        }
    }
};

// Every wait of a control call on the thread is bounded: a source stuck on a network file never
// holds the caller (the UI thread) longer than this.
constexpr auto seekWait = 1s;
constexpr auto closeWait = 500ms;
// A source that gives nothing for this long while it is played has stopped answering.
constexpr std::uint64_t stallSeconds = 10;

class ReadAheadDecoder final : public Decoder {
public:
    explicit ReadAheadDecoder(std::shared_ptr<Shared> shared) : s_(std::move(shared)) {}

    ~ReadAheadDecoder() override {
        std::unique_lock<std::mutex> lock(s_->mutex);
        s_->quit = true;
        s_->wake.notify_all();
        // An opener that never came back is not waited for at all.
        const bool finished =
            s_->opened && s_->done.wait_for(lock, closeWait, [this] { return s_->finished; });
        lock.unlock();
        if (finished)
            thread_.join();
        else
            thread_.detach(); // it ends when the source answers, and frees what it holds
    }

    bool start(std::chrono::milliseconds openWait) {
        thread_ = std::thread([s = s_] { s->run(); });
        std::unique_lock<std::mutex> lock(s_->mutex);
        if (!s_->done.wait_for(lock, openWait, [this] { return s_->opened; }))
            return false;
        if (!s_->source)
            return false;
        stallFrames_ = stallSeconds * s_->info.rate;
        return true;
    }

    Kind kind() const override { return s_->info.kind; }
    std::uint32_t sampleRate() const override { return s_->info.rate; }
    std::uint64_t lengthFrames() const override {
        const std::uint64_t end = s_->realEnd.load(std::memory_order_relaxed);
        const std::uint64_t length = s_->info.lengthFrames;
        return end != Shared::unknown && (!length || end < length) ? end : length;
    }
    std::uint64_t positionFrames() const override { return position_; }

    std::size_t render(float* out, std::size_t frames) override {
        if (stalled_ >= stallFrames_)
            return 0;
        const bool ended = s_->ended.load(std::memory_order_acquire);
        const std::uint64_t written = s_->written.load(std::memory_order_acquire);
        const std::uint64_t read = s_->read.load(std::memory_order_relaxed);
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(written - read, frames));
        s_->copyOut(read, out, n);
        s_->read.store(read + n, std::memory_order_release);
        position_ += n;
        stalled_ = n ? 0 : stalled_ + frames;
        if (n == frames || ended || stalled_ >= stallFrames_)
            return n;
        // The reader fell behind: silence, and the position waits for it.
        std::fill(out + 2 * n, out + 2 * frames, 0.0f);
        return frames;
    }

    bool seekFrames(std::uint64_t frame) override {
        const std::uint64_t length = lengthFrames();
        if (length && frame > length)
            frame = length;
        const auto deadline = Clock::now() + seekWait;
        std::unique_lock<std::mutex> lock(s_->mutex);
        if (s_->finished)
            return false;
        const std::uint64_t ticket = ++s_->seekAsked;
        s_->seekTo = frame;
        s_->wake.notify_all();
        if (!s_->done.wait_until(lock, deadline, [&] { return s_->seekServed >= ticket; })) {
            s_->seekAbandoned = ticket;
            return false;
        }
        if (!s_->seekOk)
            return false;
        position_ = frame;
        stalled_ = 0;
        // Some audio to play on with at once, if it comes in time; else silence until it does.
        const std::uint64_t want = std::min<std::uint64_t>(s_->info.rate / 20, Shared::chunkFrames);
        s_->done.wait_until(lock, deadline, [&] {
            return s_->ended.load() || s_->finished || s_->written.load() >= want;
        });
        return true;
    }

private:
    std::shared_ptr<Shared> s_;
    std::thread thread_;
    std::uint64_t position_ = 0; // render side
    std::uint64_t stalled_ = 0;  // frames of silence given since the source last gave audio
    std::uint64_t stallFrames_ = 0;
};

} // namespace

std::unique_ptr<Decoder> openReadAhead(PcmSourceOpener opener, double bufferSeconds,
                                       std::chrono::milliseconds openWait) {
    auto decoder = std::make_unique<ReadAheadDecoder>(
        std::make_shared<Shared>(std::move(opener), bufferSeconds));
    if (!decoder->start(openWait))
        return nullptr;
    return decoder;
}

} // namespace qvcore

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

// One thread writes the buffer (the reader), one reads it (render). Indices count frames and
// only grow; a seek resets both while render is held off by the mixer's channel lock.
class ReadAheadDecoder final : public Decoder {
public:
    ReadAheadDecoder(PcmSourceOpener opener, double bufferSeconds)
        : opener_(std::move(opener)), bufferSeconds_(bufferSeconds) {}

    ~ReadAheadDecoder() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

    bool start() {
        thread_ = std::thread([this] { run(); });
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [this] { return opened_; });
        return source_ != nullptr;
    }

    Kind kind() const override { return Kind::System; }
    std::uint32_t sampleRate() const override { return info_.rate; }
    std::uint64_t lengthFrames() const override { return info_.lengthFrames; }
    std::uint64_t positionFrames() const override { return position_; }

    std::size_t render(float* out, std::size_t frames) override {
        const bool ended = ended_.load(std::memory_order_acquire);
        const std::uint64_t written = written_.load(std::memory_order_acquire);
        const std::uint64_t read = read_.load(std::memory_order_relaxed);
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(written - read, frames));
        copyOut(read, out, n);
        read_.store(read + n, std::memory_order_release);
        position_ += n;
        if (n == frames || ended)
            return n;
        // The reader fell behind: silence, and the position waits for it.
        std::fill(out + 2 * n, out + 2 * frames, 0.0f);
        return frames;
    }

    bool seekFrames(std::uint64_t frame) override {
        if (info_.lengthFrames && frame > info_.lengthFrames)
            frame = info_.lengthFrames;
        std::unique_lock<std::mutex> lock(mutex_);
        const std::uint64_t ticket = ++seekAsked_;
        seekTo_ = frame;
        wake_.notify_all();
        done_.wait(lock, [&] { return seekServed_ >= ticket; });
        if (!seekOk_)
            return false;
        position_ = frame;
        return true;
    }

private:
    void run() {
        std::unique_ptr<PcmSource> source = opener_(info_);
        if (source && info_.rate) {
            const std::size_t frames = std::max<std::size_t>(
                static_cast<std::size_t>(info_.rate * bufferSeconds_), 2 * chunkFrames);
            ring_.assign(2 * frames, 0.0f);
            chunk_.assign(2 * chunkFrames, 0.0f);
            source_ = source.get();
            prefill();
        } else {
            source.reset();
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            opened_ = true;
        }
        done_.notify_all();
        if (!source_)
            return;
        std::unique_lock<std::mutex> lock(mutex_);
        while (!quit_) {
            if (seekServed_ < seekAsked_) {
                const std::uint64_t ticket = seekAsked_, to = seekTo_;
                lock.unlock();
                const bool ok = seekSource(to);
                lock.lock();
                seekOk_ = ok;
                seekServed_ = ticket;
                done_.notify_all();
                continue;
            }
            if (ended_.load(std::memory_order_relaxed) || space() < chunkFrames) {
                wake_.wait_for(lock, 10ms);
                continue;
            }
            lock.unlock();
            readChunk();
            lock.lock();
        }
        lock.unlock();
        source_ = nullptr;
        source.reset(); // on this thread, where it was made
    }

    // Render is held off while this runs (the seek's caller holds the channel).
    bool seekSource(std::uint64_t frame) {
        written_.store(0, std::memory_order_relaxed);
        read_.store(0, std::memory_order_relaxed);
        ended_.store(false, std::memory_order_relaxed);
        if (info_.lengthFrames && frame >= info_.lengthFrames) {
            ended_.store(true, std::memory_order_release);
            return true;
        }
        if (!source_->seek(frame)) {
            ended_.store(true, std::memory_order_release);
            return false;
        }
        prefill();
        return true;
    }

    // Enough to play on at once after an open or a seek.
    void prefill() {
        const std::size_t want =
            std::min(ring_.size() / 2, static_cast<std::size_t>(info_.rate / 4));
        while (!ended_.load(std::memory_order_relaxed) &&
               written_.load(std::memory_order_relaxed) < want)
            readChunk();
    }

    std::size_t space() const {
        return ring_.size() / 2 -
               static_cast<std::size_t>(written_.load(std::memory_order_relaxed) -
                                        read_.load(std::memory_order_acquire));
    }

    void readChunk() {
        const std::size_t n = source_->read(chunk_.data(), chunkFrames);
        std::uint64_t w = written_.load(std::memory_order_relaxed);
        const std::size_t capacity = ring_.size() / 2;
        for (std::size_t done = 0; done < n;) {
            const std::size_t at = static_cast<std::size_t>(w % capacity);
            const std::size_t run = std::min(n - done, capacity - at);
            std::memcpy(&ring_[2 * at], &chunk_[2 * done], run * 2 * sizeof(float));
            done += run;
            w += run;
        }
        written_.store(w, std::memory_order_release);
        if (n < chunkFrames)
            ended_.store(true, std::memory_order_release);
    }

    void copyOut(std::uint64_t from, float* out, std::size_t n) const {
        const std::size_t capacity = ring_.size() / 2;
        for (std::size_t done = 0; done < n;) {
            const std::size_t at = static_cast<std::size_t>((from + done) % capacity);
            const std::size_t run = std::min(n - done, capacity - at);
            std::memcpy(out + 2 * done, &ring_[2 * at], run * 2 * sizeof(float));
            done += run;
        }
    }

    static constexpr std::size_t chunkFrames = 4096;

    PcmSourceOpener opener_;
    double bufferSeconds_;
    PcmSourceInfo info_;
    PcmSource* source_ = nullptr; // the thread's own; set before `opened_`
    std::vector<float> ring_, chunk_;
    std::atomic<std::uint64_t> written_{0}, read_{0};
    std::atomic<bool> ended_{false};
    std::uint64_t position_ = 0; // render side

    std::mutex mutex_;
    std::condition_variable wake_, done_;
    bool opened_ = false, quit_ = false, seekOk_ = false;
    std::uint64_t seekAsked_ = 0, seekServed_ = 0, seekTo_ = 0;
    std::thread thread_;
};

} // namespace

std::unique_ptr<Decoder> openReadAhead(PcmSourceOpener opener, double bufferSeconds) {
    auto decoder = std::make_unique<ReadAheadDecoder>(std::move(opener), bufferSeconds);
    if (!decoder->start())
        return nullptr;
    return decoder;
}

} // namespace qvcore

#include "qvcore/file_data.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "internal.h"

namespace qvcore {
namespace detail {
namespace {

constexpr std::size_t headBytes = 1u << 20;
constexpr std::size_t tailBytes = 1u << 20;
constexpr std::size_t pieceBytes = 1u << 20;

// What a large file and the thread that reads it share; the thread keeps it alive, so that a
// file closed while a read hangs on a dead drive never waits for that read.
struct Loading {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t size = 0;
    std::unique_ptr<FileReader> reader; // the thread's, once it runs
    std::atomic<std::size_t> front{0};  // [0, front) is in memory
    std::atomic<std::size_t> tail{0};   // and so is [tail, size)
    std::atomic<bool> stopped{false}, quit{false};
    std::mutex mutex;
    std::condition_variable moved;

    // Reads [from, to) into place; false when the file ended or failed before `to`.
    bool readRange(std::size_t from, std::size_t to, std::atomic<std::size_t>* advance) {
        while (from < to && !quit.load(std::memory_order_relaxed)) {
            const std::int64_t n =
                reader->readAt(from, bytes.get() + from, std::min(to - from, pieceBytes));
            if (n <= 0)
                return false;
            from += static_cast<std::size_t>(n);
            if (advance) {
                advance->store(from, std::memory_order_release);
                tell();
            }
        }
        return from >= to;
    }

    void tell() {
        { std::lock_guard<std::mutex> lock(mutex); }
        moved.notify_all();
    }

    void run() {
        const std::size_t head = front.load(std::memory_order_relaxed);
        const std::size_t tailFrom = std::max(head, size > tailBytes ? size - tailBytes : 0);
        if (readRange(tailFrom, size, nullptr)) {
            tail.store(tailFrom, std::memory_order_release);
            tell();
            if (readRange(head, tailFrom, &front))
                front.store(size, std::memory_order_release);
        }
        reader.reset();
        stopped.store(true, std::memory_order_release);
        tell();
    }

    std::size_t inMemory(std::size_t offset, std::size_t n) const {
        const std::size_t f = front.load(std::memory_order_acquire);
        if (offset >= tail.load(std::memory_order_acquire) && tail.load() < size)
            return n;
        return offset < f ? std::min(n, f - offset) : 0;
    }
};

class BackgroundFile final : public FileData {
public:
    explicit BackgroundFile(std::shared_ptr<Loading> l) : l_(std::move(l)) {}
    ~BackgroundFile() override { l_->quit.store(true); }

    const std::uint8_t* data() const override { return l_->bytes.get(); }
    std::size_t size() const override { return l_->size; }
    std::size_t loaded() const override { return l_->front.load(std::memory_order_acquire); }

    std::size_t waitFor(std::size_t offset, std::size_t n) const override {
        if (offset >= l_->size)
            return 0;
        n = std::min(n, l_->size - offset);
        std::size_t have = l_->inMemory(offset, n);
        if (have == n)
            return n;
        std::unique_lock<std::mutex> lock(l_->mutex);
        l_->moved.wait(lock, [&] {
            have = l_->inMemory(offset, n);
            return have == n || l_->stopped.load(std::memory_order_acquire);
        });
        return l_->inMemory(offset, n);
    }

private:
    std::shared_ptr<Loading> l_;
};

// A file too large to hold: its first part stays in memory, and a thread reads a window of the
// rest ahead of wherever the reader is. A read outside the window moves it there.
constexpr std::size_t windowBytes = 8u << 20;
constexpr std::size_t windowPiece = 256u << 10;

struct Window {
    std::unique_ptr<std::uint8_t[]> head; // [0, headSize), for the probe and data()
    std::size_t headSize = 0;
    std::size_t size = 0;
    std::unique_ptr<FileReader> reader; // the thread's
    std::unique_ptr<std::uint8_t[]> ring, piece;
    std::mutex mutex;
    std::condition_variable moved;
    // Under the mutex: [start, end) is in the ring, at its offset modulo windowBytes; `wanted`
    // is where the reader reads next.
    std::size_t start = 0, end = 0, wanted = 0;
    bool stopped = false, quit = false;

    void run() {
        std::unique_lock<std::mutex> lock(mutex);
        while (!quit) {
            if (wanted < start || wanted > end)
                start = end = wanted;
            // A little is kept behind the reader, for the small steps back that decoders take.
            const std::size_t keep = wanted - std::min(wanted - start, windowBytes / 4);
            if (end >= size || end - keep >= windowBytes) {
                moved.wait(lock);
                continue;
            }
            const std::size_t from = end;
            const std::size_t n = std::min({windowPiece, size - from, windowBytes - (end - keep)});
            lock.unlock();
            const std::int64_t got = reader->readAt(from, piece.get(), n);
            lock.lock();
            if (got <= 0)
                break; // the file shrank, vanished or failed: reading ends here
            if (end != from)
                continue; // the window moved meanwhile
            const std::size_t len = static_cast<std::size_t>(got);
            const std::size_t at = from % windowBytes, first = std::min(len, windowBytes - at);
            std::memcpy(ring.get() + at, piece.get(), first);
            std::memcpy(ring.get(), piece.get() + first, len - first);
            end = from + len;
            start = std::max(start, end > windowBytes ? end - windowBytes : 0);
            moved.notify_all();
        }
        stopped = true;
        moved.notify_all();
        lock.unlock();
        reader.reset();
    }

    std::size_t readAt(std::size_t offset, std::uint8_t* into, std::size_t n) {
        n = offset < size ? std::min(n, size - offset) : 0;
        std::size_t done = 0;
        if (offset < headSize) {
            done = std::min(n, headSize - offset);
            std::memcpy(into, head.get() + offset, done);
        }
        std::unique_lock<std::mutex> lock(mutex);
        while (done < n) {
            const std::size_t at = offset + done;
            if (at >= start && at < end) {
                const std::size_t len = std::min(n - done, end - at);
                const std::size_t r = at % windowBytes, first = std::min(len, windowBytes - r);
                std::memcpy(into + done, ring.get() + r, first);
                std::memcpy(into + done + first, ring.get(), len - first);
                done += len;
                wanted = at + len;
                moved.notify_all();
                continue;
            }
            if (stopped)
                break;
            wanted = at;
            moved.notify_all();
            moved.wait(lock);
        }
        return done;
    }
};

class WindowedFile final : public FileData {
public:
    explicit WindowedFile(std::shared_ptr<Window> w) : w_(std::move(w)) {}
    ~WindowedFile() override {
        {
            std::lock_guard<std::mutex> lock(w_->mutex);
            w_->quit = true;
        }
        w_->moved.notify_all();
    }

    const std::uint8_t* data() const override { return w_->head.get(); }
    std::size_t size() const override { return w_->size; }
    std::size_t loaded() const override { return w_->headSize; }
    std::size_t waitFor(std::size_t offset, std::size_t n) const override {
        return offset < w_->headSize ? std::min(n, w_->headSize - offset) : 0;
    }
    std::size_t readAt(std::size_t offset, void* into, std::size_t n) const override {
        return w_->readAt(offset, static_cast<std::uint8_t*>(into), n);
    }

private:
    std::shared_ptr<Window> w_;
};

std::shared_ptr<const FileData> readWindowed(std::unique_ptr<FileReader> reader, std::size_t size) {
    auto w = std::make_shared<Window>();
    w->size = size;
    w->head.reset(new (std::nothrow) std::uint8_t[headBytes]);
    w->ring.reset(new (std::nothrow) std::uint8_t[windowBytes]);
    w->piece.reset(new (std::nothrow) std::uint8_t[windowPiece]);
    if (!w->head || !w->ring || !w->piece)
        return nullptr;
    while (w->headSize < headBytes) {
        const std::int64_t n =
            reader->readAt(w->headSize, w->head.get() + w->headSize, headBytes - w->headSize);
        if (n <= 0)
            break;
        w->headSize += static_cast<std::size_t>(n);
    }
    if (w->headSize == 0)
        return nullptr;
    w->start = w->end = w->wanted = w->headSize;
    w->reader = std::move(reader);
    try {
        std::thread([w] { w->run(); }).detach();
    } catch (...) {
        return nullptr;
    }
    return std::make_shared<WindowedFile>(std::move(w));
}

} // namespace

std::shared_ptr<const FileData> readInBackground(std::unique_ptr<FileReader> reader,
                                                 std::uint64_t size) {
    if (!reader || size == 0 || size > SIZE_MAX)
        return nullptr;
    if (size > holdWholeLimit)
        return readWindowed(std::move(reader), static_cast<std::size_t>(size));
    auto l = std::make_shared<Loading>();
    l->size = static_cast<std::size_t>(size);
    l->tail.store(l->size);
    l->bytes.reset(new (std::nothrow) std::uint8_t[l->size]);
    if (!l->bytes)
        return nullptr;
    l->reader = std::move(reader);
    // The first part at once: whoever opens the file looks at its header.
    l->readRange(0, std::min(l->size, headBytes), &l->front);
    if (l->front.load() == 0)
        return nullptr;
    try {
        std::thread([l] { l->run(); }).detach();
    } catch (...) {
        return nullptr;
    }
    return std::make_shared<BackgroundFile>(std::move(l));
}

} // namespace detail

std::shared_ptr<const FileData> FileData::open(const char* path) {
    // Paths live in 1024-byte buffers on the app side; anything longer cannot be a valid one.
    if (!path || !*path || std::strlen(path) >= 1024)
        return nullptr;
    return detail::openPlatformFile(path);
}

std::shared_ptr<const FileData> FileData::fromBytes(const void* bytes, std::size_t size) {
    if (!bytes && size)
        return nullptr;
    std::unique_ptr<std::uint8_t[]> copy(new (std::nothrow) std::uint8_t[size ? size : 1]);
    if (!copy)
        return nullptr;
    if (size)
        std::memcpy(copy.get(), bytes, size);
    return std::make_shared<detail::OwnedFileData>(std::move(copy), size);
}

} // namespace qvcore

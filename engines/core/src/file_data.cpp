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

} // namespace

std::shared_ptr<const FileData> readInBackground(std::unique_ptr<FileReader> reader,
                                                 std::uint64_t size) {
    if (!reader || size == 0 || size > SIZE_MAX)
        return nullptr;
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

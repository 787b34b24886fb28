// The bytes of one input file, held for the life of the decoders that read them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

namespace qvcore {

// Files up to this size are read whole when opened. Larger ones are read into memory by a
// thread of their own after their first part: no file is ever mapped, so a drive that sleeps
// or goes away can only make a read wait or come up short, never fault on the render path.
inline constexpr std::uint64_t readWholeLimit = 32u * 1024u * 1024u;
// Beyond this a file is never held whole: only its first part stays in memory, and a thread of
// its own reads a window of it ahead of wherever readAt last read.
inline constexpr std::uint64_t holdWholeLimit = 256u * 1024u * 1024u;

class FileData {
public:
    virtual ~FileData() = default;
    // size() bytes; of a large file, only those that waitFor or loaded() vouch for are there
    // (of a file beyond holdWholeLimit, never more than its first part).
    virtual const std::uint8_t* data() const = 0;
    virtual std::size_t size() const = 0;

    // Bytes from the start that are in memory now (all of them, but for a large file still
    // being read).
    virtual std::size_t loaded() const { return size(); }
    // Of the `n` bytes at `offset`, how many are in memory, waiting until they are or until
    // reading stopped (the file shrank, vanished or failed). Never on the render thread.
    virtual std::size_t waitFor(std::size_t offset, std::size_t n) const {
        return offset < size() ? (n < size() - offset ? n : size() - offset) : 0;
    }

    // Copies up to `n` bytes at `offset` to `into`, waiting for them as waitFor does: fewer only
    // at the end or where reading stopped. Reaches every byte of any file; never on the render
    // thread unless loaded() == size().
    virtual std::size_t readAt(std::size_t offset, void* into, std::size_t n) const {
        const std::size_t got = waitFor(offset, n);
        if (got)
            std::memcpy(into, data() + offset, got);
        return got;
    }

    // Opens an 8-bit path (on Windows in the process's code page, UTF-8 under our manifest,
    // through its UTF-16 form). Null for a missing, unreadable or empty file, a
    // directory, or a path of 1024 characters or more.
    static std::shared_ptr<const FileData> open(const char* path);
    // Copies bytes already in memory (tests, fuzzing).
    static std::shared_ptr<const FileData> fromBytes(const void* bytes, std::size_t size);
};

// fopen for an 8-bit path given as FileData::open takes it; null with errno set on failure.
// The C runtime's own fopen reads the path in a code page of its own, never UTF-8.
std::FILE* openFile(const char* path, const char* mode);

} // namespace qvcore

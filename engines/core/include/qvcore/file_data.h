// The bytes of one input file, held for the life of the decoders that read them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace qvcore {

// Files up to this size are read whole when opened; larger ones are memory-mapped, so that
// nothing on the render path ever touches the file system.
inline constexpr std::uint64_t readWholeLimit = 32u * 1024u * 1024u;

class FileData {
public:
    virtual ~FileData() = default;
    virtual const std::uint8_t* data() const = 0;
    virtual std::size_t size() const = 0;

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

#include "qvcore/file_data.h"

#include <cstring>
#include <new>

#include "internal.h"

namespace qvcore {

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

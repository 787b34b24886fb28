// Opening a file on Windows: small files are read whole, large ones memory-mapped.
#include <windows.h>

#include <cerrno>
#include <string>

#include "internal.h"
#include "qvwin32/handle.h"
#include "qvwin32/text.h"

namespace qvcore::detail {
namespace {

class MappedFile final : public FileData {
public:
    MappedFile(const void* base, std::size_t size) : base_(base), size_(size) {}
    ~MappedFile() override { UnmapViewOfFile(base_); }
    const std::uint8_t* data() const override { return static_cast<const std::uint8_t*>(base_); }
    std::size_t size() const override { return size_; }

private:
    const void* base_;
    std::size_t size_;
};

} // namespace

std::shared_ptr<const FileData> openPlatformFile(const char* path) {
    std::wstring wide = qvwin32::openablePath(path);
    if (wide.empty())
        return nullptr;
    // Without FILE_FLAG_BACKUP_SEMANTICS a directory does not open.
    qvwin32::Handle f(CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!f)
        return nullptr;
    if (GetFileType(f.get()) != FILE_TYPE_DISK)
        return nullptr;
    LARGE_INTEGER li{};
    if (!GetFileSizeEx(f.get(), &li) || li.QuadPart <= 0)
        return nullptr;
    const auto size = static_cast<std::uint64_t>(li.QuadPart);
    if (size > static_cast<std::uint64_t>(SIZE_MAX))
        return nullptr;

    if (size > readWholeLimit) {
        qvwin32::Handle mapping(CreateFileMappingA(f.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
        if (!mapping)
            return nullptr;
        const void* base = MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0);
        if (!base)
            return nullptr;
        // The view keeps the mapping alive after both handles are closed.
        return std::make_shared<MappedFile>(base, static_cast<std::size_t>(size));
    }

    return readWhole(size, [&f](std::uint8_t* into, std::size_t most) -> std::int64_t {
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(most > (1u << 30) ? (1u << 30) : most);
        return ReadFile(f.get(), into, want, &n, nullptr) ? static_cast<std::int64_t>(n) : -1;
    });
}

} // namespace qvcore::detail

namespace qvcore {

std::FILE* openFile(const char* path, const char* mode) {
    std::wstring wide = path ? qvwin32::openablePath(path) : std::wstring();
    std::wstring wideMode = mode ? qvwin32::widen(mode) : std::wstring();
    if (wide.empty() || wideMode.empty()) {
        errno = ENOENT;
        return nullptr;
    }
    return _wfopen(wide.c_str(), wideMode.c_str());
}

} // namespace qvcore

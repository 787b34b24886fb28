// Opening a file on Windows: small files are read whole, large ones in the background.
#include <windows.h>

#include <cerrno>
#include <string>

#include "internal.h"
#include "qvwin32/handle.h"
#include "qvwin32/text.h"

namespace qvcore::detail {
namespace {

class WinReader final : public FileReader {
public:
    explicit WinReader(qvwin32::Handle f) : f_(std::move(f)) {}
    std::int64_t readAt(std::uint64_t offset, void* into, std::size_t most) override {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(most > (1u << 30) ? (1u << 30) : most);
        if (ReadFile(f_.get(), into, want, &n, &at))
            return n;
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    }

private:
    qvwin32::Handle f_;
};

} // namespace

std::shared_ptr<const FileData> openPlatformFile(const char* path) {
    std::wstring wide = qvwin32::openablePath(path);
    if (wide.empty())
        return nullptr;
    // Without FILE_FLAG_BACKUP_SEMANTICS a directory does not open. Others may write, rename
    // or delete the file while we read it: a file that changes only ends its track early.
    qvwin32::Handle f(CreateFileW(
        wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
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

    if (size > readWholeLimit)
        return readInBackground(std::make_unique<WinReader>(std::move(f)), size);

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

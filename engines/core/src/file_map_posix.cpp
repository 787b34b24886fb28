// Opening a file on POSIX systems: small files are read whole, large ones in the background.
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "internal.h"

namespace qvcore::detail {
namespace {

class PosixReader final : public FileReader {
public:
    explicit PosixReader(int fd) : fd_(fd) {}
    ~PosixReader() override { close(fd_); }
    std::int64_t readAt(std::uint64_t offset, void* into, std::size_t most) override {
        for (;;) {
            const ssize_t n = ::pread(fd_, into, most, static_cast<off_t>(offset));
            if (n >= 0 || errno != EINTR)
                return n;
        }
    }

private:
    int fd_;
};

struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0)
            close(fd);
    }
};

} // namespace

std::shared_ptr<const FileData> openPlatformFile(const char* path) {
    Fd f{::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    if (f.fd < 0)
        return nullptr;
    struct stat st {};
    if (fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0)
        return nullptr;
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (size > static_cast<std::uint64_t>(SIZE_MAX))
        return nullptr;

    if (size > readWholeLimit) {
        auto reader = std::make_unique<PosixReader>(f.fd);
        f.fd = -1;
        return readInBackground(std::move(reader), size);
    }

    return readWhole(size, [&f](std::uint8_t* into, std::size_t most) -> std::int64_t {
        for (;;) {
            const ssize_t n = ::read(f.fd, into, most);
            if (n >= 0 || errno != EINTR)
                return n;
        }
    });
}

} // namespace qvcore::detail

namespace qvcore {

std::FILE* openFile(const char* path, const char* mode) {
    return std::fopen(path, mode);
}

} // namespace qvcore

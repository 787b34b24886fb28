// Opening a file on POSIX systems: small files are read whole, large ones memory-mapped.
#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "internal.h"

namespace qvcore::detail {
namespace {

class MappedFile final : public FileData {
public:
    MappedFile(void* base, std::size_t size) : base_(base), size_(size) {}
    ~MappedFile() override { munmap(base_, size_); }
    const std::uint8_t* data() const override { return static_cast<const std::uint8_t*>(base_); }
    std::size_t size() const override { return size_; }

private:
    void* base_;
    std::size_t size_;
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
        void* base = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, f.fd, 0);
        if (base == MAP_FAILED)
            return nullptr;
        return std::make_shared<MappedFile>(base, static_cast<std::size_t>(size));
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

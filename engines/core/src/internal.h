// Shared pieces of the core's implementation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "qvcore/decoder.h"
#include "qvcore/file_data.h"

namespace qvcore::detail {

// A read cursor over a file's bytes, for the decoders' I/O callbacks.
// Over a file still being read, a read waits for its bytes and ends where reading stopped.
struct MemCursor {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t pos = 0;
    const FileData* file = nullptr;

    std::size_t read(void* out, std::size_t n) {
        std::size_t avail = pos < size ? size - pos : 0;
        if (n > avail)
            n = avail;
        if (file && n)
            n = file->readAt(pos, out, n);
        else if (n)
            std::memcpy(out, data + pos, n);
        pos += n;
        return n;
    }
    // whence: 0 = start, 1 = current, 2 = end. False (and no move) when outside the data.
    bool seek(std::int64_t offset, int whence) {
        std::int64_t base = whence == 0   ? 0
                            : whence == 1 ? static_cast<std::int64_t>(pos)
                                          : static_cast<std::int64_t>(size);
        if ((offset > 0 && base > INT64_MAX - offset))
            return false;
        std::int64_t target = base + offset;
        if (target < 0 || static_cast<std::uint64_t>(target) > size)
            return false;
        pos = static_cast<std::size_t>(target);
        return true;
    }
};

// The I/O callbacks of vorbisfile and opusfile, over the MemCursor they are given as source.
struct CursorCallbacks {
    static std::size_t readItems(void* ptr, std::size_t size, std::size_t count, void* src) {
        return size ? cursor(src).read(ptr, size * count) / size : 0;
    }
    static int readBytes(void* src, unsigned char* ptr, int bytes) {
        return bytes > 0 ? static_cast<int>(cursor(src).read(ptr, static_cast<std::size_t>(bytes)))
                         : 0;
    }
    template <typename Offset> static int seek(void* src, Offset offset, int whence) {
        return cursor(src).seek(offset, whence) ? 0 : -1;
    }
    template <typename Position> static Position tell(void* src) {
        return static_cast<Position>(cursor(src).pos);
    }
    static MemCursor& cursor(void* src) { return *static_cast<MemCursor*>(src); }
};

inline std::uint16_t le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint32_t be32(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

// Keeps decoded audio finite and bounded, whatever a damaged file decodes to. Branch-free, so
// that it vectorises.
inline float finiteSample(float v) {
    v = v == v ? v : 0.0f; // NaN
    v = v < -8.0f ? -8.0f : v;
    return v > 8.0f ? 8.0f : v;
}
inline void sanitize(float* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        p[i] = finiteSample(p[i]);
}

// A container that libsndfile reads for us (RIFF/WAVE, RF64, Wave64, AIFF/AIFC, AU, CAF), by
// its first bytes.
bool isPcmContainer(const std::uint8_t* data, std::size_t size);

// Length in bytes of an ID3v2 tag at `data` (header, body, footer), 0 if there is none.
std::size_t id3v2Length(const std::uint8_t* data, std::size_t size);
// True if `count` consecutive MPEG audio frames (same version, layer and rate) start at `data`;
// `allowEofAfter` accepts fewer when the frames end exactly at the end of the data.
bool mpegFramesAt(const std::uint8_t* data, std::size_t size, int count, int allowEofAfter);

// What the stream decoders (Vorbis, Opus, MP3, FLAC, PCM containers) share: the file and a cursor
// over it, the rate, length and position in frames, and whether render has reached the end.
class StreamDecoder : public Decoder {
public:
    explicit StreamDecoder(std::shared_ptr<const FileData> file)
        : file_(std::move(file)), cursor_{file_->data(), file_->size(), 0, file_.get()} {}

    std::uint32_t sampleRate() const override { return rate_; }
    std::uint64_t lengthFrames() const override { return length_; }
    std::uint64_t positionFrames() const override { return pos_; }

protected:
    // The length a library reports, where below 1 means it does not know.
    void setLength(std::int64_t frames) {
        length_ = frames > 0 ? static_cast<std::uint64_t>(frames) : 0;
    }
    // After the library's seek to `frame` succeeded: it says it is at `told` (below 0: unknown).
    bool landedAt(std::uint64_t frame, std::int64_t told) {
        atEnd_ = false;
        pos_ = told >= 0 ? static_cast<std::uint64_t>(told) : frame;
        return true;
    }
    // What a render call gave: the position moves on by it.
    std::size_t rendered(std::size_t frames) {
        pos_ += frames;
        return frames;
    }
    // A seek to the end or past it parks there: nothing more renders until the next seek.
    bool parkedAtEnd(std::uint64_t frame) {
        if (length_ == 0 || frame < length_)
            return false;
        atEnd_ = true;
        pos_ = length_;
        return true;
    }

    std::shared_ptr<const FileData> file_;
    MemCursor cursor_;
    bool atEnd_ = false;
    std::uint32_t rate_ = 0;
    std::uint64_t length_ = 0;
    std::uint64_t pos_ = 0;
};

// The stream openers share one shape: construct over the file, then open() must succeed.
template <typename StreamDecoder>
std::unique_ptr<Decoder> openWith(std::shared_ptr<const FileData> file) {
    if (!file)
        return nullptr;
    auto dec = std::make_unique<StreamDecoder>(std::move(file));
    if (!dec->open())
        return nullptr;
    return dec;
}

std::unique_ptr<Decoder> openModuleDecoder(std::shared_ptr<const FileData> file, ModuleEnd end);
std::unique_ptr<Decoder> openVorbisDecoder(std::shared_ptr<const FileData> file);
std::unique_ptr<Decoder> openOpusDecoder(std::shared_ptr<const FileData> file);
std::unique_ptr<Decoder> openFlacDecoder(std::shared_ptr<const FileData> file);
std::unique_ptr<Decoder> openSndfileDecoder(std::shared_ptr<const FileData> file);
std::unique_ptr<Decoder> openMp3Decoder(std::shared_ptr<const FileData> file);

// Platform part of FileData::open: the path is already checked for length.
std::shared_ptr<const FileData> openPlatformFile(const char* path);

// An open file that reads at any offset; used by one thread at a time.
class FileReader {
public:
    virtual ~FileReader() = default;
    // Bytes read into `into` (at most `most`), 0 at the end, below 0 on an error.
    virtual std::int64_t readAt(std::uint64_t offset, void* into, std::size_t most) = 0;
};

// A large file: its first part is read before this returns, the rest by a thread of its own
// (its last part first, where some formats keep what an opener looks for); beyond
// holdWholeLimit, that thread reads a bounded window ahead of the reader instead. Null when
// even the first part cannot be read or the memory cannot be had.
std::shared_ptr<const FileData> readInBackground(std::unique_ptr<FileReader> reader,
                                                 std::uint64_t size);

// Bytes owned in memory.
class OwnedFileData final : public FileData {
public:
    explicit OwnedFileData(std::unique_ptr<std::uint8_t[]> bytes, std::size_t size)
        : bytes_(std::move(bytes)), size_(size) {}
    const std::uint8_t* data() const override { return bytes_.get(); }
    std::size_t size() const override { return size_; }

private:
    std::unique_ptr<std::uint8_t[]> bytes_;
    std::size_t size_;
};

// A file of `size` bytes read whole, in pieces through `read(into, most)`: the bytes it read,
// 0 at the end, below 0 on an error. A file that shrank keeps what was read; null when nothing
// was.
template <typename Read> std::shared_ptr<const FileData> readWhole(std::uint64_t size, Read read) {
    std::unique_ptr<std::uint8_t[]> bytes(new (std::nothrow) std::uint8_t[size]);
    if (!bytes)
        return nullptr;
    std::size_t got = 0;
    while (got < size) {
        const std::int64_t n = read(bytes.get() + got, static_cast<std::size_t>(size - got));
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    if (got == 0)
        return nullptr;
    return std::make_shared<OwnedFileData>(std::move(bytes), got);
}

} // namespace qvcore::detail

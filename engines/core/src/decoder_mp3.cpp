// MP3 through libmpg123, reading our bytes through a replaced reader. The length is exact: the
// whole stream is scanned at open, and gapless decoding trims encoder delay and padding.
#include <algorithm>
#include <cmath>
#include <mutex>

#include <mpg123.h>

#include "internal.h"

namespace qvcore::detail {
namespace {

mpg123_ssize_t readCb(void* src, void* buf, size_t n) {
    return static_cast<mpg123_ssize_t>(static_cast<MemCursor*>(src)->read(buf, n));
}
off_t seekCb(void* src, off_t offset, int whence) {
    auto* c = static_cast<MemCursor*>(src);
    if (!c->seek(offset, whence))
        return -1;
    return static_cast<off_t>(c->pos);
}

class Mp3Decoder final : public StreamDecoder {
    mpg123_handle* mh_ = nullptr;

public:
    using StreamDecoder::StreamDecoder;
    ~Mp3Decoder() override {
        if (mh_) {
            mpg123_close(mh_);
            mpg123_delete(mh_);
        }
    }

    bool open() {
        static std::once_flag once;
        std::call_once(once, [] { mpg123_init(); });
        int err = MPG123_OK;
        mh_ = mpg123_new(nullptr, &err);
        if (!mh_)
            return false;
        mpg123_param(mh_, MPG123_FLAGS,
                     MPG123_GAPLESS | MPG123_QUIET | MPG123_FORCE_STEREO | MPG123_FORCE_FLOAT, 0.0);
        // Only float stereo at whatever rate the file has.
        mpg123_format_none(mh_);
        const long* rates = nullptr;
        size_t count = 0;
        mpg123_rates(&rates, &count);
        for (size_t i = 0; i < count; ++i)
            mpg123_format(mh_, rates[i], MPG123_STEREO, MPG123_ENC_FLOAT_32);
        if (mpg123_replace_reader_handle(mh_, readCb, seekCb, nullptr) != MPG123_OK)
            return false;
        if (mpg123_open_handle(mh_, &cursor_) != MPG123_OK)
            return false;
        long rate = 0;
        int channels = 0, encoding = 0;
        if (mpg123_getformat(mh_, &rate, &channels, &encoding) != MPG123_OK)
            return false;
        if (rate < 8000 || channels != 2 || encoding != MPG123_ENC_FLOAT_32)
            return false;
        rate_ = static_cast<std::uint32_t>(rate);
        if (mpg123_scan(mh_) != MPG123_OK)
            return false;
        setLength(mpg123_length(mh_));
        return length_ > 0;
    }

    Kind kind() const override { return Kind::Mp3; }

    bool seekFrames(std::uint64_t frame) override {
        if (parkedAtEnd(frame))
            return true;
        const off_t p = mpg123_seek(mh_, static_cast<off_t>(frame), SEEK_SET);
        if (p < 0)
            return false;
        return landedAt(frame, p);
    }

    std::size_t render(float* out, std::size_t frames) override {
        std::size_t done = 0;
        int stalls = 0;
        while (done < frames && !atEnd_) {
            size_t bytes = 0;
            const int r =
                mpg123_read(mh_, out + 2 * done, (frames - done) * 2 * sizeof(float), &bytes);
            const std::size_t n = bytes / (2 * sizeof(float));
            sanitize(out + 2 * done, 2 * n);
            done += n;
            // Done, an error, or no progress: this is the end of what can be decoded.
            if ((r != MPG123_OK && r != MPG123_NEW_FORMAT) || (n == 0 && ++stalls > 16))
                atEnd_ = true;
        }
        return rendered(done);
    }
};

} // namespace

std::unique_ptr<Decoder> openMp3Decoder(std::shared_ptr<const FileData> file) {
    return openWith<Mp3Decoder>(std::move(file));
}

} // namespace qvcore::detail

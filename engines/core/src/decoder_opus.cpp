// Ogg Opus through opusfile, reading our bytes through callbacks. Always 48 kHz.
#include <algorithm>
#include <cmath>

#include <opus/opusfile.h>

#include "internal.h"

namespace qvcore::detail {
namespace {

int readCb(void* src, unsigned char* ptr, int nbytes) {
    if (nbytes <= 0)
        return 0;
    return static_cast<int>(static_cast<MemCursor*>(src)->read(ptr, static_cast<size_t>(nbytes)));
}
int seekCb(void* src, opus_int64 offset, int whence) {
    return static_cast<MemCursor*>(src)->seek(offset, whence) ? 0 : -1;
}
opus_int64 tellCb(void* src) {
    return static_cast<opus_int64>(static_cast<MemCursor*>(src)->pos);
}

class OpusDecoder final : public Decoder {
public:
    explicit OpusDecoder(std::shared_ptr<const FileData> file) : file_(std::move(file)) {
        cursor_.data = file_->data();
        cursor_.size = file_->size();
    }
    ~OpusDecoder() override {
        if (of_)
            op_free(of_);
    }

    bool open() {
        const OpusFileCallbacks cb{readCb, seekCb, tellCb, nullptr};
        int err = 0;
        of_ = op_open_callbacks(&cursor_, &cb, nullptr, 0, &err);
        if (!of_)
            return false;
        const ogg_int64_t total = op_pcm_total(of_, -1);
        length_ = total > 0 ? static_cast<std::uint64_t>(total) : 0;
        return true;
    }

    Kind kind() const override { return Kind::Opus; }
    std::uint32_t sampleRate() const override { return 48000; }
    std::uint64_t lengthFrames() const override { return length_; }
    std::uint64_t positionFrames() const override { return pos_; }

    bool seekFrames(std::uint64_t frame) override {
        if (length_ > 0 && frame >= length_) {
            atEnd_ = true;
            pos_ = length_;
            return true;
        }
        if (op_pcm_seek(of_, static_cast<ogg_int64_t>(frame)) != 0)
            return false;
        atEnd_ = false;
        const ogg_int64_t p = op_pcm_tell(of_);
        pos_ = p >= 0 ? static_cast<std::uint64_t>(p) : frame;
        return true;
    }

    std::size_t render(float* out, std::size_t frames) override {
        std::size_t done = 0;
        int failures = 0;
        while (done < frames && !atEnd_) {
            const int want = static_cast<int>(std::min<std::size_t>(frames - done, 5760) * 2);
            const int n = op_read_float_stereo(of_, out + 2 * done, want);
            if (n == OP_HOLE && ++failures < 64)
                continue;
            if (n <= 0) {
                atEnd_ = true;
                break;
            }
            sanitize(out + 2 * done, 2 * static_cast<std::size_t>(n));
            done += static_cast<std::size_t>(n);
        }
        pos_ += done;
        return done;
    }

private:
    std::shared_ptr<const FileData> file_;
    MemCursor cursor_;
    OggOpusFile* of_ = nullptr;
    bool atEnd_ = false;
    std::uint64_t length_ = 0;
    std::uint64_t pos_ = 0;
};

} // namespace

std::unique_ptr<Decoder> openOpusDecoder(std::shared_ptr<const FileData> file) {
    return openWith<OpusDecoder>(std::move(file));
}

} // namespace qvcore::detail

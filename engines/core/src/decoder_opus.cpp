// Ogg Opus through opusfile, reading our bytes through callbacks. Always 48 kHz.
#include <algorithm>
#include <cmath>

#include <opus/opusfile.h>

#include "internal.h"

namespace qvcore::detail {
namespace {

class OpusDecoder final : public StreamDecoder {
    OggOpusFile* of_ = nullptr;

public:
    explicit OpusDecoder(std::shared_ptr<const FileData> file) : StreamDecoder(std::move(file)) {
        rate_ = 48000;
    }
    ~OpusDecoder() override {
        if (of_)
            op_free(of_);
    }

    bool open() {
        const OpusFileCallbacks cb{CursorCallbacks::readBytes, CursorCallbacks::seek<opus_int64>,
                                   CursorCallbacks::tell<opus_int64>, nullptr};
        int err = 0;
        of_ = op_open_callbacks(&cursor_, &cb, nullptr, 0, &err);
        if (!of_)
            return false;
        setLength(op_pcm_total(of_, -1));
        return true;
    }

    Kind kind() const override { return Kind::Opus; }
    std::string title() const override { return comment("TITLE"); }
    std::string artist() const override { return comment("ARTIST"); }
    std::string comment(const char* key) const {
        const OpusTags* tags = op_tags(of_, 0);
        const char* value = tags ? opus_tags_query(tags, key, 0) : nullptr;
        return value ? value : "";
    }

    bool seekFrames(std::uint64_t frame) override {
        if (parkedAtEnd(frame))
            return true;
        if (op_pcm_seek(of_, static_cast<ogg_int64_t>(frame)) != 0)
            return false;
        return landedAt(frame, op_pcm_tell(of_));
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
        return rendered(done);
    }
};

} // namespace

std::unique_ptr<Decoder> openOpusDecoder(std::shared_ptr<const FileData> file) {
    return openWith<OpusDecoder>(std::move(file));
}

} // namespace qvcore::detail

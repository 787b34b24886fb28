// Ogg Vorbis through vorbisfile, reading our bytes through callbacks.
#include <algorithm>
#include <cmath>

// We pass our own callbacks; the header's static tables would be unused.
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include "internal.h"

namespace qvcore::detail {
namespace {

class VorbisDecoder final : public StreamDecoder {
public:
    using StreamDecoder::StreamDecoder;
    ~VorbisDecoder() override {
        if (open_)
            ov_clear(&vf_);
    }

    bool open() {
        const ov_callbacks cb{CursorCallbacks::readItems, CursorCallbacks::seek<ogg_int64_t>,
                              nullptr, CursorCallbacks::tell<long>};
        if (ov_open_callbacks(&cursor_, &vf_, nullptr, 0, cb) != 0)
            return false;
        open_ = true;
        const vorbis_info* vi = ov_info(&vf_, -1);
        if (!vi || vi->channels < 1 || vi->rate < 1000 || vi->rate > 768000)
            return false;
        rate_ = static_cast<std::uint32_t>(vi->rate);
        setLength(ov_pcm_total(&vf_, -1));
        return true;
    }

    Kind kind() const override { return Kind::Vorbis; }
    std::string title() const override { return comment("TITLE"); }
    std::string artist() const override { return comment("ARTIST"); }
    std::string comment(const char* key) const {
        // vorbisfile takes no const, and only reads the comment list here.
        auto* vf = const_cast<OggVorbis_File*>(&vf_);
        vorbis_comment* vc = ov_comment(vf, 0);
        const char* value = vc ? vorbis_comment_query(vc, key, 0) : nullptr;
        return value ? value : "";
    }

    bool seekFrames(std::uint64_t frame) override {
        if (parkedAtEnd(frame))
            return true;
        if (ov_pcm_seek(&vf_, static_cast<ogg_int64_t>(frame)) != 0)
            return false;
        return landedAt(frame, ov_pcm_tell(&vf_));
    }

    std::size_t render(float* out, std::size_t frames) override {
        std::size_t done = 0;
        int failures = 0;
        while (done < frames && !atEnd_) {
            float** pcm = nullptr;
            int link = 0;
            const int want = static_cast<int>(std::min<std::size_t>(frames - done, 4096));
            const long n = ov_read_float(&vf_, &pcm, want, &link);
            if (n == OV_HOLE && ++failures < 64)
                continue; // a gap in the data: go on with what follows
            if (n <= 0) {
                atEnd_ = true;
                break;
            }
            const vorbis_info* vi = ov_info(&vf_, link);
            const int channels = vi ? vi->channels : 1;
            const float* l = pcm[0];
            const float* r = channels >= 2 ? pcm[1] : pcm[0];
            for (long i = 0; i < n; ++i) {
                out[2 * (done + i)] = finiteSample(l[i]);
                out[2 * (done + i) + 1] = finiteSample(r[i]);
            }
            done += static_cast<std::size_t>(n);
        }
        return rendered(done);
    }

private:
    OggVorbis_File vf_{};
    bool open_ = false;
};

} // namespace

std::unique_ptr<Decoder> openVorbisDecoder(std::shared_ptr<const FileData> file) {
    return openWith<VorbisDecoder>(std::move(file));
}

} // namespace qvcore::detail

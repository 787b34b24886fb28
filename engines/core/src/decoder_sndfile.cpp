// The PCM containers (WAV in its many codecs, RF64, Wave64, AIFF/AIFC, AU, CAF) through
// libsndfile, read through the file's own access so that render never touches the disk.
#include <sndfile.h>

#include <algorithm>
#include <vector>

#include "internal.h"
#include "qvcore/downmix.h"

namespace qvcore::detail {
namespace {

// libsndfile's positions as the speaker bits of a wave format's channel mask.
std::uint32_t speakerOf(int position) {
    switch (position) {
    case SF_CHANNEL_MAP_LEFT:
    case SF_CHANNEL_MAP_FRONT_LEFT: return FrontLeft;
    case SF_CHANNEL_MAP_RIGHT:
    case SF_CHANNEL_MAP_FRONT_RIGHT: return FrontRight;
    case SF_CHANNEL_MAP_MONO:
    case SF_CHANNEL_MAP_CENTER:
    case SF_CHANNEL_MAP_FRONT_CENTER: return FrontCenter;
    case SF_CHANNEL_MAP_LFE: return LowFrequency;
    case SF_CHANNEL_MAP_REAR_LEFT: return BackLeft;
    case SF_CHANNEL_MAP_REAR_RIGHT: return BackRight;
    case SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER: return FrontLeftOfCenter;
    case SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER: return FrontRightOfCenter;
    case SF_CHANNEL_MAP_REAR_CENTER: return BackCenter;
    case SF_CHANNEL_MAP_SIDE_LEFT: return SideLeft;
    case SF_CHANNEL_MAP_SIDE_RIGHT: return SideRight;
    case SF_CHANNEL_MAP_TOP_CENTER: return TopCenter;
    case SF_CHANNEL_MAP_TOP_FRONT_LEFT: return TopFrontLeft;
    case SF_CHANNEL_MAP_TOP_FRONT_CENTER: return TopFrontCenter;
    case SF_CHANNEL_MAP_TOP_FRONT_RIGHT: return TopFrontRight;
    case SF_CHANNEL_MAP_TOP_REAR_LEFT: return TopBackLeft;
    case SF_CHANNEL_MAP_TOP_REAR_CENTER: return TopBackCenter;
    case SF_CHANNEL_MAP_TOP_REAR_RIGHT: return TopBackRight;
    default: return 0;
    }
}

// The downmix takes channels in the order of their mask bits; a map in any other order (or
// with unknown positions) falls back to the usual layout for the count.
std::uint32_t maskOf(const std::vector<int>& map) {
    std::uint32_t mask = 0, last = 0;
    for (int position : map) {
        const std::uint32_t bit = speakerOf(position);
        if (bit <= last)
            return 0;
        mask |= bit;
        last = bit;
    }
    return mask;
}

struct Io {
    static sf_count_t length(void* user) { return static_cast<sf_count_t>(cursor(user).size); }
    static sf_count_t seek(sf_count_t offset, int whence, void* user) {
        MemCursor& c = cursor(user);
        const sf_count_t base = whence == SEEK_SET   ? 0
                                : whence == SEEK_CUR ? static_cast<sf_count_t>(c.pos)
                                                     : static_cast<sf_count_t>(c.size);
        // A header that lies may ask for any offset: past the end reads nothing, before the
        // start is refused.
        if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0)
            return -1;
        c.pos = static_cast<std::size_t>(std::min<sf_count_t>(base + offset, SIZE_MAX / 2));
        return static_cast<sf_count_t>(c.pos);
    }
    static sf_count_t read(void* into, sf_count_t count, void* user) {
        return count > 0 ? static_cast<sf_count_t>(
                               cursor(user).read(into, static_cast<std::size_t>(count)))
                         : 0;
    }
    static sf_count_t write(const void*, sf_count_t, void*) { return 0; }
    static sf_count_t tell(void* user) { return static_cast<sf_count_t>(cursor(user).pos); }
    static MemCursor& cursor(void* user) { return *static_cast<MemCursor*>(user); }
};

class SndfileDecoder final : public StreamDecoder {
public:
    using StreamDecoder::StreamDecoder;
    ~SndfileDecoder() override {
        if (sf_)
            sf_close(sf_);
    }

    bool open() {
        // libsndfile guesses among many more formats; it only ever sees the ones we take.
        if (!isPcmContainer(file_->data(), file_->loaded()))
            return false;
        SF_VIRTUAL_IO io{Io::length, Io::seek, Io::read, Io::write, Io::tell};
        SF_INFO info{};
        sf_ = sf_open_virtual(&io, SFM_READ, &info, &cursor_);
        if (!sf_ || info.channels < 1 || info.channels > static_cast<int>(Downmix::maxChannels) ||
            info.samplerate < 1000 || info.samplerate > 768000 || info.frames <= 0)
            return false;
        // Codecs that need libraries we do not build it with, wherever it was built with them.
        switch (info.format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_MPEG_LAYER_I:
        case SF_FORMAT_MPEG_LAYER_II:
        case SF_FORMAT_MPEG_LAYER_III:
        case SF_FORMAT_VORBIS:
        case SF_FORMAT_OPUS: return false;
        default: break;
        }
        channels_ = static_cast<unsigned>(info.channels);
        std::vector<int> map(channels_);
        std::uint32_t mask = 0;
        if (sf_command(sf_, SFC_GET_CHANNEL_MAP_INFO, map.data(),
                       static_cast<int>(map.size() * sizeof(int))) == SF_TRUE)
            mask = maskOf(map);
        downmix_ = Downmix(channels_, mask);
        // Only float samples can be out of range or not numbers; integer codecs come normalised.
        const int subtype = info.format & SF_FORMAT_SUBMASK;
        floats_ = subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
        scratch_.resize(std::size_t{chunkFrames} * channels_);
        rate_ = static_cast<std::uint32_t>(info.samplerate);
        setLength(info.frames);
        return true;
    }

    Kind kind() const override { return Kind::Wav; }

    std::size_t render(float* out, std::size_t frames) override {
        std::size_t done = 0;
        while (!atEnd_ && done < frames && pos_ < length_) {
            const std::uint64_t want =
                std::min<std::uint64_t>({frames - done, chunkFrames, length_ - pos_});
            // Stereo goes straight to the output; other layouts through the downmix.
            float* to = channels_ == 2 ? out + 2 * done : scratch_.data();
            const sf_count_t got = sf_readf_float(sf_, to, static_cast<sf_count_t>(want));
            if (got <= 0) {
                atEnd_ = true; // a file that came up short ends here
                break;
            }
            const std::size_t n = static_cast<std::size_t>(got);
            if (channels_ != 2)
                downmix_.toStereo(scratch_.data(), n, out + 2 * done, finiteSample);
            else if (floats_)
                sanitize(to, 2 * n);
            done += n;
            pos_ += n;
        }
        return done;
    }

    bool seekFrames(std::uint64_t frame) override {
        if (parkedAtEnd(frame))
            return true;
        if (sf_seek(sf_, static_cast<sf_count_t>(frame), SEEK_SET) < 0)
            return false;
        return landedAt(frame, -1);
    }

private:
    static constexpr unsigned chunkFrames = 1024;
    SNDFILE* sf_ = nullptr;
    unsigned channels_ = 0;
    bool floats_ = false;
    Downmix downmix_;
    std::vector<float> scratch_;
};

} // namespace

std::unique_ptr<Decoder> openSndfileDecoder(std::shared_ptr<const FileData> file) {
    return openWith<SndfileDecoder>(std::move(file));
}

} // namespace qvcore::detail

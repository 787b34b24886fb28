// RIFF/WAVE reader of our own: every chunk size is checked against the file.
#include <algorithm>
#include <cmath>

#include "internal.h"

namespace qvcore::detail {

namespace {
// The tail of the KSDATAFORMAT_SUBTYPE_PCM / _IEEE_FLOAT GUIDs (after the 2-byte tag).
const std::uint8_t kSubtypeTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                       0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
} // namespace

bool parseWav(const std::uint8_t* d, std::size_t size, WavInfo& info) {
    if (size < 12 || std::memcmp(d, "RIFF", 4) != 0 || std::memcmp(d + 8, "WAVE", 4) != 0)
        return false;
    // A RIFF size that is too large (streamed writers leave it unset) is cut to the file.
    const std::uint64_t riffEnd = std::min<std::uint64_t>(std::uint64_t{le32(d + 4)} + 8, size);
    bool haveFmt = false;
    std::uint64_t pos = 12;
    while (pos + 8 <= riffEnd) {
        const std::uint8_t* chunk = d + pos;
        const std::uint64_t chunkSize = le32(chunk + 4);
        const std::uint64_t body = pos + 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (haveFmt || chunkSize < 16 || body + chunkSize > size)
                return false;
            const std::uint8_t* f = d + body;
            unsigned tag = le16(f);
            const unsigned channels = le16(f + 2);
            const std::uint32_t rate = le32(f + 4);
            const unsigned blockAlign = le16(f + 12);
            const unsigned bits = le16(f + 14);
            if (tag == 0xFFFE) {
                if (chunkSize < 40 || le16(f + 16) < 22 ||
                    std::memcmp(f + 26, kSubtypeTail, sizeof kSubtypeTail) != 0)
                    return false;
                tag = le16(f + 24);
            }
            if (channels < 1 || channels > 2 || rate < 1000 || rate > 768000)
                return false;
            if (tag == 1 && bits == 8)
                info.sample = WavInfo::Sample::U8;
            else if (tag == 1 && bits == 16)
                info.sample = WavInfo::Sample::S16;
            else if (tag == 1 && bits == 24)
                info.sample = WavInfo::Sample::S24;
            else if (tag == 1 && bits == 32)
                info.sample = WavInfo::Sample::S32;
            else if (tag == 3 && bits == 32)
                info.sample = WavInfo::Sample::F32;
            else
                return false;
            if (blockAlign != channels * bits / 8)
                return false;
            info.channels = channels;
            info.rate = rate;
            info.blockAlign = blockAlign;
            haveFmt = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFmt)
                return false;
            // A data size past the end of the file is cut to what is there.
            const std::uint64_t avail = size - body;
            const std::uint64_t bytes = std::min(chunkSize, avail);
            info.dataOffset = static_cast<std::size_t>(body);
            info.frames = bytes / info.blockAlign;
            return info.frames > 0;
        }
        // Chunks are padded to even sizes.
        pos = body + chunkSize + (chunkSize & 1);
    }
    return false;
}

namespace {

class WavDecoder final : public Decoder {
public:
    WavDecoder(std::shared_ptr<const FileData> file, const WavInfo& info)
        : file_(std::move(file)), info_(info) {}

    Kind kind() const override { return Kind::Wav; }
    std::uint32_t sampleRate() const override { return info_.rate; }
    std::uint64_t lengthFrames() const override { return info_.frames; }
    std::uint64_t positionFrames() const override { return pos_; }
    bool seekFrames(std::uint64_t frame) override {
        pos_ = std::min(frame, info_.frames);
        return true;
    }

    std::size_t render(float* out, std::size_t frames) override {
        const std::uint64_t left = info_.frames - pos_;
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(frames, left));
        const std::size_t at = info_.dataOffset + static_cast<std::size_t>(pos_) * info_.blockAlign;
        // A file still being read: what is there; a file that came up short ends here.
        n = file_->waitFor(at, n * info_.blockAlign) / info_.blockAlign;
        const std::uint8_t* p = file_->data() + at;
        for (std::size_t i = 0; i < n; ++i) {
            float l = sample(p);
            float r = info_.channels == 2 ? sample(p + info_.blockAlign / 2) : l;
            out[2 * i] = l;
            out[2 * i + 1] = r;
            p += info_.blockAlign;
        }
        pos_ += n;
        return n;
    }

private:
    float sample(const std::uint8_t* p) const {
        switch (info_.sample) {
        case WavInfo::Sample::U8: return (static_cast<int>(p[0]) - 128) * (1.0f / 128);
        case WavInfo::Sample::S16: return static_cast<std::int16_t>(le16(p)) * (1.0f / 32768);
        case WavInfo::Sample::S24: {
            const std::int32_t v =
                static_cast<std::int32_t>((std::uint32_t{p[0]} << 8) | (std::uint32_t{p[1]} << 16) |
                                          (std::uint32_t{p[2]} << 24));
            return static_cast<float>(v >> 8) * (1.0f / 8388608);
        }
        case WavInfo::Sample::S32:
            return static_cast<float>(static_cast<std::int32_t>(le32(p))) * (1.0f / 2147483648.0f);
        case WavInfo::Sample::F32: {
            float f;
            std::uint32_t bits = le32(p);
            std::memcpy(&f, &bits, 4);
            return finiteSample(f);
        }
        }
        return 0.0f;
    }

    std::shared_ptr<const FileData> file_;
    WavInfo info_;
    std::uint64_t pos_ = 0;
};

} // namespace

std::unique_ptr<Decoder> openWavDecoder(std::shared_ptr<const FileData> file) {
    WavInfo info;
    if (!file || !parseWav(file->data(), file->size(), info))
        return nullptr;
    return std::make_unique<WavDecoder>(std::move(file), info);
}

} // namespace qvcore::detail

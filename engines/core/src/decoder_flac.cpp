// FLAC through libFLAC's stream decoder, reading our bytes through callbacks.
#include <algorithm>
#include <vector>

#include <FLAC/stream_decoder.h>

#include "internal.h"

namespace qvcore::detail {
namespace {

constexpr std::size_t maxBlockFrames = 65535; // the format's largest block size

class FlacDecoder final : public StreamDecoder {
public:
    using StreamDecoder::StreamDecoder;
    ~FlacDecoder() override {
        if (dec_)
            FLAC__stream_decoder_delete(dec_);
    }

    bool open() {
        dec_ = FLAC__stream_decoder_new();
        if (!dec_)
            return false;
        FLAC__stream_decoder_set_md5_checking(dec_, false);
        if (FLAC__stream_decoder_init_stream(dec_, readCb, seekCb, tellCb, lengthCb, eofCb, writeCb,
                                             metadataCb, errorCb,
                                             this) != FLAC__STREAM_DECODER_INIT_STATUS_OK)
            return false;
        if (!FLAC__stream_decoder_process_until_end_of_metadata(dec_) || !haveInfo_)
            return false;
        if (rate_ < 1000 || rate_ > 768000 || channels_ < 1 || bits_ < 4 || bits_ > 32)
            return false;
        fifo_.resize(2 * maxBlockFrames);
        if (length_ == 0) {
            // The header does not say: count by decoding, once.
            length_ = countFrames();
            if (!FLAC__stream_decoder_seek_absolute(dec_, 0) && !restart())
                return false;
            fifoLen_ = fifoPos_ = 0;
        }
        return length_ > 0;
    }

    Kind kind() const override { return Kind::Flac; }

    bool seekFrames(std::uint64_t frame) override {
        fifoLen_ = fifoPos_ = 0;
        if (parkedAtEnd(frame))
            return true;
        if (!FLAC__stream_decoder_seek_absolute(dec_, frame)) {
            // A failed seek leaves the decoder needing a flush before it can go on.
            if (FLAC__stream_decoder_get_state(dec_) == FLAC__STREAM_DECODER_SEEK_ERROR)
                FLAC__stream_decoder_flush(dec_);
            fifoLen_ = fifoPos_ = 0;
            return false;
        }
        atEnd_ = false;
        pos_ = frame;
        return true;
    }

    std::size_t render(float* out, std::size_t frames) override {
        std::size_t done = 0;
        while (done < frames) {
            if (fifoPos_ == fifoLen_) {
                if (atEnd_ || !decodeBlock())
                    break;
                continue;
            }
            const std::size_t n = std::min(frames - done, fifoLen_ - fifoPos_);
            std::copy_n(fifo_.data() + 2 * fifoPos_, 2 * n, out + 2 * done);
            fifoPos_ += n;
            done += n;
        }
        return rendered(done);
    }

private:
    // Decodes one more frame into the FIFO; false at the end of what can be decoded.
    bool decodeBlock() {
        fifoLen_ = fifoPos_ = 0;
        for (int attempt = 0; attempt < 64 && fifoLen_ == 0; ++attempt) {
            if (!FLAC__stream_decoder_process_single(dec_)) {
                atEnd_ = true;
                return false;
            }
            const auto state = FLAC__stream_decoder_get_state(dec_);
            if (state == FLAC__STREAM_DECODER_END_OF_STREAM ||
                state == FLAC__STREAM_DECODER_ABORTED) {
                atEnd_ = fifoLen_ == 0;
                return fifoLen_ > 0;
            }
        }
        if (fifoLen_ == 0)
            atEnd_ = true;
        return fifoLen_ > 0;
    }

    std::uint64_t countFrames() {
        std::uint64_t total = 0;
        while (decodeBlock())
            total += fifoLen_;
        return total;
    }

    bool restart() {
        atEnd_ = false;
        pos_ = 0;
        return FLAC__stream_decoder_reset(dec_) &&
               FLAC__stream_decoder_process_until_end_of_metadata(dec_);
    }

    static FlacDecoder* self(void* p) { return static_cast<FlacDecoder*>(p); }

    static FLAC__StreamDecoderReadStatus readCb(const FLAC__StreamDecoder*, FLAC__byte buffer[],
                                                size_t* bytes, void* p) {
        if (*bytes == 0)
            return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
        *bytes = self(p)->cursor_.read(buffer, *bytes);
        return *bytes ? FLAC__STREAM_DECODER_READ_STATUS_CONTINUE
                      : FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
    }
    static FLAC__StreamDecoderSeekStatus seekCb(const FLAC__StreamDecoder*, FLAC__uint64 offset,
                                                void* p) {
        if (offset > INT64_MAX || !self(p)->cursor_.seek(static_cast<std::int64_t>(offset), 0))
            return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
        return FLAC__STREAM_DECODER_SEEK_STATUS_OK;
    }
    static FLAC__StreamDecoderTellStatus tellCb(const FLAC__StreamDecoder*, FLAC__uint64* offset,
                                                void* p) {
        *offset = self(p)->cursor_.pos;
        return FLAC__STREAM_DECODER_TELL_STATUS_OK;
    }
    static FLAC__StreamDecoderLengthStatus lengthCb(const FLAC__StreamDecoder*,
                                                    FLAC__uint64* length, void* p) {
        *length = self(p)->cursor_.size;
        return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
    }
    static FLAC__bool eofCb(const FLAC__StreamDecoder*, void* p) {
        return self(p)->cursor_.pos >= self(p)->cursor_.size;
    }
    static FLAC__StreamDecoderWriteStatus writeCb(const FLAC__StreamDecoder*,
                                                  const FLAC__Frame* frame,
                                                  const FLAC__int32* const buffer[], void* p) {
        FlacDecoder* d = self(p);
        const unsigned channels = frame->header.channels;
        const unsigned bits =
            frame->header.bits_per_sample ? frame->header.bits_per_sample : d->bits_;
        if (channels < 1 || bits < 4 || bits > 32 || d->fifo_.empty())
            return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
        const std::size_t n = std::min<std::size_t>(frame->header.blocksize, maxBlockFrames);
        const float scale = 1.0f / static_cast<float>(1ull << (bits - 1));
        const FLAC__int32* l = buffer[0];
        const FLAC__int32* r = channels >= 2 ? buffer[1] : buffer[0];
        float* out = d->fifo_.data();
        for (std::size_t i = 0; i < n; ++i) {
            out[2 * i] = static_cast<float>(l[i]) * scale;
            out[2 * i + 1] = static_cast<float>(r[i]) * scale;
        }
        d->fifoLen_ = n;
        d->fifoPos_ = 0;
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }
    static void metadataCb(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* m, void* p) {
        if (m->type != FLAC__METADATA_TYPE_STREAMINFO)
            return;
        FlacDecoder* d = self(p);
        d->rate_ = m->data.stream_info.sample_rate;
        d->channels_ = m->data.stream_info.channels;
        d->bits_ = m->data.stream_info.bits_per_sample;
        d->length_ = m->data.stream_info.total_samples;
        d->haveInfo_ = true;
    }
    static void errorCb(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {
        // Lost sync or a bad frame: libFLAC skips to the next frame by itself.
    }

    FLAC__StreamDecoder* dec_ = nullptr;
    std::vector<float> fifo_; // one decoded block, interleaved stereo
    std::size_t fifoLen_ = 0;
    std::size_t fifoPos_ = 0;
    bool haveInfo_ = false;
    unsigned channels_ = 0;
    unsigned bits_ = 0;
};

} // namespace

std::unique_ptr<Decoder> openFlacDecoder(std::shared_ptr<const FileData> file) {
    return openWith<FlacDecoder>(std::move(file));
}

} // namespace qvcore::detail

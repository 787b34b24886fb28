// libFLAC: encode 16-bit stereo into memory with the stream encoder, decode it
// again and get the very same samples (it is lossless, and the MD5 agrees).
#include "check.h"

#include <FLAC/stream_decoder.h>
#include <FLAC/stream_encoder.h>

#include <cstring>
#include <vector>

namespace {

constexpr unsigned kFrames = 4410;

struct Buffer {
    std::vector<FLAC__byte> bytes;
    size_t pos = 0;
};

FLAC__StreamEncoderWriteStatus encWrite(const FLAC__StreamEncoder*, const FLAC__byte data[],
                                        size_t n, uint32_t, uint32_t, void* client) {
    auto* b = static_cast<Buffer*>(client);
    if (b->pos + n > b->bytes.size())
        b->bytes.resize(b->pos + n);
    std::memcpy(b->bytes.data() + b->pos, data, n);
    b->pos += n;
    return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
}

FLAC__StreamEncoderSeekStatus encSeek(const FLAC__StreamEncoder*, FLAC__uint64 to, void* client) {
    auto* b = static_cast<Buffer*>(client);
    if (to > b->bytes.size())
        return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
    b->pos = static_cast<size_t>(to);
    return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
}

FLAC__StreamEncoderTellStatus encTell(const FLAC__StreamEncoder*, FLAC__uint64* at, void* client) {
    *at = static_cast<Buffer*>(client)->pos;
    return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
}

struct Decoded {
    Buffer in;
    std::vector<FLAC__int32> samples;
    FLAC__uint64 total = 0;
    bool error = false;
};

FLAC__StreamDecoderReadStatus decRead(const FLAC__StreamDecoder*, FLAC__byte out[], size_t* n,
                                      void* client) {
    auto* d = static_cast<Decoded*>(client);
    size_t left = d->in.bytes.size() - d->in.pos;
    if (left == 0) {
        *n = 0;
        return FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
    }
    if (*n > left)
        *n = left;
    std::memcpy(out, d->in.bytes.data() + d->in.pos, *n);
    d->in.pos += *n;
    return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
}

FLAC__StreamDecoderWriteStatus decWrite(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                        const FLAC__int32* const ch[], void* client) {
    auto* d = static_cast<Decoded*>(client);
    for (unsigned i = 0; i < frame->header.blocksize; ++i) {
        d->samples.push_back(ch[0][i]);
        d->samples.push_back(ch[1][i]);
    }
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void decMeta(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* m, void* client) {
    if (m->type == FLAC__METADATA_TYPE_STREAMINFO)
        static_cast<Decoded*>(client)->total = m->data.stream_info.total_samples;
}

void decError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* client) {
    static_cast<Decoded*>(client)->error = true;
}

} // namespace

int main() {
    std::vector<FLAC__int32> pcm(kFrames * 2);
    FLAC__uint32 lcg = 1;
    for (unsigned i = 0; i < kFrames; ++i) {
        lcg = lcg * 1664525u + 1013904223u;
        pcm[2 * i] = static_cast<FLAC__int32>((i * 37) % 20000) - 10000;
        pcm[2 * i + 1] = static_cast<FLAC__int32>(lcg >> 16) - 32768;
    }

    Decoded d;
    FLAC__StreamEncoder* enc = FLAC__stream_encoder_new();
    CHECK(enc != nullptr);
    CHECK(FLAC__stream_encoder_set_channels(enc, 2));
    CHECK(FLAC__stream_encoder_set_bits_per_sample(enc, 16));
    CHECK(FLAC__stream_encoder_set_sample_rate(enc, 44100));
    CHECK(FLAC__stream_encoder_set_compression_level(enc, 5));
    CHECK(FLAC__stream_encoder_init_stream(enc, encWrite, encSeek, encTell, nullptr, &d.in) ==
          FLAC__STREAM_ENCODER_INIT_STATUS_OK);
    CHECK(FLAC__stream_encoder_process_interleaved(enc, pcm.data(), kFrames));
    CHECK(FLAC__stream_encoder_finish(enc));
    FLAC__stream_encoder_delete(enc);
    CHECK(d.in.bytes.size() > 42 && std::memcmp(d.in.bytes.data(), "fLaC", 4) == 0);

    d.in.pos = 0;
    FLAC__StreamDecoder* dec = FLAC__stream_decoder_new();
    CHECK(dec != nullptr);
    CHECK(FLAC__stream_decoder_set_md5_checking(dec, true));
    CHECK(FLAC__stream_decoder_init_stream(dec, decRead, nullptr, nullptr, nullptr, nullptr,
                                           decWrite, decMeta, decError,
                                           &d) == FLAC__STREAM_DECODER_INIT_STATUS_OK);
    CHECK(FLAC__stream_decoder_process_until_end_of_stream(dec));
    CHECK(FLAC__stream_decoder_finish(dec)); // false on an MD5 mismatch
    FLAC__stream_decoder_delete(dec);

    CHECK(!d.error);
    CHECK(d.total == kFrames);
    CHECK(d.samples == pcm);
    return 0;
}

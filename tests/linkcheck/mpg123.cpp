// libmpg123: feed hand-made silent MPEG-1 Layer III frames through the feeder
// API and get silence of the right format and length back.
#include "check.h"

#include <mpg123.h>

#include <vector>

int main() {
    // 128 kbit/s, 44.1 kHz, mono, no CRC: 417-byte frames. All-zero side info
    // means no Huffman data, so every frame decodes to 1152 zero samples.
    constexpr int kFrameBytes = 417, kFrames = 20;
    std::vector<unsigned char> mp3(kFrameBytes * kFrames, 0);
    for (int f = 0; f < kFrames; ++f) {
        unsigned char* h = &mp3[f * kFrameBytes];
        h[0] = 0xff;
        h[1] = 0xfb;
        h[2] = 0x90;
        h[3] = 0xc4;
    }

    CHECK(mpg123_init() == MPG123_OK);
    int err = 0;
    mpg123_handle* mh = mpg123_new(nullptr, &err);
    CHECK(mh != nullptr);
    CHECK(mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0) == MPG123_OK);
    CHECK(mpg123_format_none(mh) == MPG123_OK);
    CHECK(mpg123_format(mh, 44100, MPG123_MONO, MPG123_ENC_SIGNED_16) == MPG123_OK);
    CHECK(mpg123_open_feed(mh) == MPG123_OK);
    CHECK(mpg123_feed(mh, mp3.data(), mp3.size()) == MPG123_OK);

    short out[4096];
    long samples = 0;
    bool sawFormat = false, silent = true;
    for (;;) {
        size_t done = 0;
        int rc = mpg123_read(mh, out, sizeof out, &done);
        for (size_t i = 0; i < done / sizeof out[0]; ++i)
            silent = silent && out[i] == 0;
        samples += static_cast<long>(done / sizeof out[0]);
        if (rc == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0, enc = 0;
            CHECK(mpg123_getformat(mh, &rate, &channels, &enc) == MPG123_OK);
            CHECK(rate == 44100 && channels == 1 && enc == MPG123_ENC_SIGNED_16);
            sawFormat = true;
        } else if (rc == MPG123_NEED_MORE || rc == MPG123_DONE) {
            break;
        } else {
            CHECK(rc == MPG123_OK);
        }
    }
    CHECK(sawFormat);
    CHECK(silent);
    CHECK(samples == kFrames * 1152);

    mpg123_delete(mh);
    mpg123_exit();
    return 0;
}

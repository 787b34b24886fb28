// libopus: encode 20 ms frames of a tone and decode them back.
#include "check.h"

#include <opus.h>

#include <cmath>
#include <vector>

int main() {
    constexpr int kRate = 48000, kFrame = 960, kFrames = 10;
    constexpr double kPi = 3.14159265358979323846;

    int err = 0;
    OpusEncoder* enc = opus_encoder_create(kRate, 2, OPUS_APPLICATION_AUDIO, &err);
    CHECK(err == OPUS_OK && enc != nullptr);
    OpusDecoder* dec = opus_decoder_create(kRate, 2, &err);
    CHECK(err == OPUS_OK && dec != nullptr);
    CHECK(opus_encoder_ctl(enc, OPUS_SET_BITRATE(96000)) == OPUS_OK);

    std::vector<float> in(kFrame * 2), out(kFrame * 2);
    double sumsq = 0;
    for (int f = 0; f < kFrames; ++f) {
        for (int i = 0; i < kFrame; ++i) {
            float s =
                0.5f * static_cast<float>(std::sin(2 * kPi * 1000 * (f * kFrame + i) / kRate));
            in[2 * i] = in[2 * i + 1] = s;
        }
        unsigned char packet[4000];
        opus_int32 len = opus_encode_float(enc, in.data(), kFrame, packet, sizeof packet);
        CHECK(len > 0);
        CHECK(opus_packet_get_nb_samples(packet, len, kRate) == kFrame);
        CHECK(opus_decode_float(dec, packet, len, out.data(), kFrame, 0) == kFrame);
        if (f >= kFrames / 2) // past the codec's start-up
            for (float s : out)
                sumsq += s * s;
    }
    double rms = std::sqrt(sumsq / (kFrame * 2 * (kFrames - kFrames / 2)));
    CHECK(rms > 0.3 && rms < 0.42);

    // Garbage is reported as an error, not decoded.
    unsigned char junk[3] = {0xff, 0xff, 0xff};
    CHECK(opus_decode_float(dec, junk, sizeof junk, out.data(), kFrame, 0) < 0);

    opus_decoder_destroy(dec);
    opus_encoder_destroy(enc);
    return 0;
}

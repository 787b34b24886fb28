// libsoxr: resample one second of a 1 kHz sine from 48000 to 44100 Hz; the
// output has 44100 frames and is still a 1 kHz sine of the same level.
#include "check.h"

#include <soxr.h>

#include <cmath>
#include <vector>

int main() {
    constexpr double kPi = 3.14159265358979323846;
    std::vector<float> in(48000), out(44100 + 100);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] =
            0.5f * static_cast<float>(std::sin(2 * kPi * 1000 * static_cast<double>(i) / 48000));

    soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    soxr_quality_spec_t q = soxr_quality_spec(SOXR_HQ, 0);
    size_t idone = 0, odone = 0;
    soxr_error_t err = soxr_oneshot(48000, 44100, 1, in.data(), in.size(), &idone, out.data(),
                                    out.size(), &odone, &io, &q, nullptr);
    CHECK(err == nullptr);
    CHECK(idone == in.size());
    CHECK(odone == 44100);

    // Away from the edges: level kept (RMS of 0.5 sine is 0.354), and 1 kHz
    // means one rising zero crossing every 44.1 samples.
    double sumsq = 0;
    int rising = 0;
    for (size_t i = 1000; i < 43100; ++i) {
        sumsq += out[i] * out[i];
        rising += out[i - 1] < 0 && out[i] >= 0;
    }
    double rms = std::sqrt(sumsq / 42100);
    CHECK(rms > 0.34 && rms < 0.37);
    CHECK(std::abs(rising - 955) <= 2); // 42100 / 44.1
    return 0;
}

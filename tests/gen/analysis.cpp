// Pitch and level of rendered audio, for tests that check what a player produced.
#include "tests/gen/gen.h"

#include <cmath>
#include <complex>
#include <numbers>

namespace qvgen {
namespace {

using Complex = std::complex<double>;

// In-place iterative radix-2 FFT; size is a power of two.
void fft(std::vector<Complex>& a) {
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const Complex unit = std::polar(1.0, -2.0 * std::numbers::pi / static_cast<double>(len));
        for (size_t i = 0; i < n; i += len) {
            Complex w(1.0);
            for (size_t k = 0; k < len / 2; ++k) {
                const Complex u = a[i + k], v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
                w *= unit;
            }
        }
    }
}

double hann(size_t i, size_t n) {
    return 0.5 -
           0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n));
}

double mono(const float* stereo, size_t frame) {
    return 0.5 * (static_cast<double>(stereo[2 * frame]) + stereo[2 * frame + 1]);
}

constexpr double kSilentDb = -200.0;

} // namespace

double dominantFrequency(const float* interleavedStereo, size_t frames, int rate) {
    if (frames < 256 || rate <= 0)
        return 0.0;
    size_t n = 256;
    while (n * 2 <= frames && n * 2 <= 65536)
        n *= 2;
    const size_t start = (frames - n) / 2;
    std::vector<Complex> spectrum(n);
    for (size_t i = 0; i < n; ++i)
        spectrum[i] = mono(interleavedStereo, start + i) * hann(i, n);
    fft(spectrum);

    const size_t lowest = std::max<size_t>(2, static_cast<size_t>(20.0 * n / rate) + 1);
    size_t peak = 0;
    double peakMagnitude = 0.0;
    for (size_t k = lowest; k + 1 < n / 2; ++k) {
        if (std::abs(spectrum[k]) > peakMagnitude) {
            peakMagnitude = std::abs(spectrum[k]);
            peak = k;
        }
    }
    if (peak == 0 || peakMagnitude < 1e-9)
        return 0.0;
    // A Hann-windowed peak is close to a Gaussian: a parabola through the log magnitudes of the
    // three bins around it finds its centre to a small fraction of a bin.
    const double a = std::log(std::abs(spectrum[peak - 1]) + 1e-30);
    const double b = std::log(peakMagnitude);
    const double c = std::log(std::abs(spectrum[peak + 1]) + 1e-30);
    const double denominator = a - 2.0 * b + c;
    const double offset = denominator != 0.0 ? 0.5 * (a - c) / denominator : 0.0;
    return (static_cast<double>(peak) + offset) * rate / static_cast<double>(n);
}

double rmsDb(const float* interleaved, size_t frames, int channels) {
    const size_t count = frames * static_cast<size_t>(channels);
    if (count == 0)
        return kSilentDb;
    double sum = 0.0;
    for (size_t i = 0; i < count; ++i)
        sum += static_cast<double>(interleaved[i]) * interleaved[i];
    const double rms = std::sqrt(sum / static_cast<double>(count));
    return rms > 0.0 ? std::max(kSilentDb, 20.0 * std::log10(rms)) : kSilentDb;
}

double toneLevelDb(const float* interleavedStereo, size_t frames, int rate, double frequency) {
    if (frames < 256 || rate <= 0 || frequency <= 0.0)
        return kSilentDb;
    // Welch: Hann-windowed segments overlapping by half. By Parseval, a segment's bins hold
    // n * sum(w^2) times its mean square, half of a real tone's in the positive bins.
    size_t n = 256;
    while (n * 2 <= frames && n * 2 <= 8192)
        n *= 2;
    double windowEnergy = 0.0;
    for (size_t i = 0; i < n; ++i)
        windowEnergy += hann(i, n) * hann(i, n);
    const double binHz = static_cast<double>(rate) / static_cast<double>(n);
    const double halfWidth = 0.02 * frequency + 3.0 * binHz; // pitch tolerance + Hann main lobe
    const auto low = static_cast<size_t>(std::max(1.0, std::ceil((frequency - halfWidth) / binHz)));
    const auto high = std::min(n / 2 - 1, static_cast<size_t>((frequency + halfWidth) / binHz));
    if (low > high)
        return kSilentDb;

    double meanSquare = 0.0;
    size_t segments = 0;
    std::vector<Complex> spectrum(n);
    for (size_t start = 0; start + n <= frames; start += n / 2, ++segments) {
        for (size_t i = 0; i < n; ++i)
            spectrum[i] = mono(interleavedStereo, start + i) * hann(i, n);
        fft(spectrum);
        double band = 0.0;
        for (size_t k = low; k <= high; ++k)
            band += std::norm(spectrum[k]);
        meanSquare += 2.0 * band / (static_cast<double>(n) * windowEnergy);
    }
    meanSquare /= static_cast<double>(segments);
    return meanSquare > 0.0 ? std::max(kSilentDb, 10.0 * std::log10(meanSquare)) : kSilentDb;
}

} // namespace qvgen

// Test media made by our own code: tone WAVs, small tracker modules that hold a steady tone at a
// known pitch for a known time, a UMX wrapper, broken variants, and a few analysis helpers that
// tell which pitch and level a rendered buffer has. Portable, no third-party code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace qvgen {

using Bytes = std::vector<uint8_t>;

// ---------------------------------------------------------------------------------------------
// WAV

enum class SampleFormat { U8, S16, S24, S32, F32 };

struct WavSpec {
    double frequency = 440.0; // Hz; 0 gives silence
    double amplitude = 0.5;   // peak, as a fraction of full scale
    double seconds = 3.0;
    int rate = 48000;
    int channels = 2; // 1 or 2; both channels carry the same tone
    SampleFormat format = SampleFormat::S16;
    bool extensible = false; // WAVE_FORMAT_EXTENSIBLE instead of the plain format tag
};

// RIFF/WAVE with "fmt " (16 bytes for integer PCM, 18 plus a "fact" chunk for float, 40 when
// extensible) and "data". Frames: round(seconds * rate).
Bytes wavTone(const WavSpec& params);

// The header of an RF64 file of 16-bit PCM whose `frames` frames follow it to the end of the
// file: "RF64", "ds64" with the 64-bit sizes, "fmt ", then "data" with its 32-bit size unset.
// The samples are the caller's to write (a file made sparse reads as silence).
Bytes rf64Header(int rate, int channels, uint64_t frames);

// Offset of the header of the first top-level chunk `id` ("fmt ", "data", ...), or npos.
size_t wavChunkOffset(const Bytes& wav, std::string_view id);

// ---------------------------------------------------------------------------------------------
// Tracker modules

enum class ModuleFormat { Mod, S3m, Xm, It, Mtm };

// One looped sine sample; one pattern that every order plays. On row 0 the first `voices`
// channels strike the note (re-struck at each order, so a seek to an order sounds at once),
// panned alternately left and right so the tone is centred; nothing else happens, so the song
// plays its orders in turn and ends: no jumps, no loops.
struct ModuleSpec {
    ModuleFormat format = ModuleFormat::Mod;
    double frequency = 550.0; // Hz of the tone; any value from 50 to 2000
    int orders = 4;           // 1..128
    // Rows per pattern. XM, IT and MTM store it (1..256, 1..200, 1..64); MOD and S3M have
    // 64-row patterns, and fewer rows there add a pattern break on the last row.
    int rows = 64;
    int speed = 6; // ticks per row, 1..31
    // A tick lasts 2.5 / tempo seconds; 32..255. libopenmpt counts ticks in whole samples, so a
    // tempo that divides 750 (50, 75, 125, 150, 250) keeps the length exact at 44.1 and 48 kHz.
    int tempo = 125;
    int channels = 4; // MOD: 4, or an even 6..32; S3M up to 16; XM and MTM up to 32; IT up to 64
    int voices = 2;   // channels that play the note, 1..channels (more than 2 play softer each)
};

Bytes module(const ModuleSpec& params);

// orders * rows * speed * 2.5 / tempo.
double moduleSeconds(const ModuleSpec& params);

// The pitch the module really plays: params.frequency to within 0.01 % (the looped sample holds a
// whole number of cycles, so the pitch is a ratio of integers).
double moduleFrequency(const ModuleSpec& params);

// "mod", "s3m", "xm", "it", "mtm": the module type libopenmpt reports and the file extension.
std::string_view moduleTypeName(ModuleFormat format);

// A minimal Unreal package (version 69) whose one export, of class Music, holds `inner`, a module
// of the given format (libopenmpt reports the container as "umx", the type as the inner one's).
Bytes umx(const Bytes& inner, ModuleFormat innerFormat);

// Bytes of the package header umx() writes (before its name table).
constexpr size_t kUmxHeaderSize = 64;

// ---------------------------------------------------------------------------------------------
// Broken variants

// The first min(n, size) bytes.
Bytes truncated(const Bytes& bytes, size_t n);

// Same length; bytes from `keep` on replaced by pseudo-random ones (deterministic per seed).
Bytes withGarbageAfter(const Bytes& bytes, size_t keep, uint32_t seed = 1);

// `n` pseudo-random bytes.
Bytes garbage(size_t n, uint32_t seed = 1);

// Overwrites a little-endian 32-bit value (e.g. a chunk size that then lies).
void patchLE32(Bytes& bytes, size_t offset, uint32_t value);

// Bytes of each module format's fixed header (before any variable part): a garbage-after-header
// variant keeps exactly these.
size_t moduleHeaderSize(ModuleFormat format);

// ---------------------------------------------------------------------------------------------
// Analysis of rendered audio (both channels are mixed to mono first)

// The frequency of the strongest spectral peak above 20 Hz, to a small fraction of a hertz for a
// steady tone of a second or more; 0 for silence or fewer than 256 frames. Looks at up to 65536
// frames from the middle of the buffer.
double dominantFrequency(const float* interleavedStereo, size_t frames, int rate);

// RMS level of all samples in dBFS (a full-scale sine is -3.01 dB); -200 for silence.
double rmsDb(const float* interleaved, size_t frames, int channels = 2);

// RMS level, in dBFS, of what the mono mix holds within 2 % of `frequency` (what a tone at that
// pitch contributes, whatever noise or other tones there are), averaged over the buffer; -200
// when nothing is there or for fewer than 256 frames.
double toneLevelDb(const float* interleavedStereo, size_t frames, int rate, double frequency);

} // namespace qvgen

// Render speed of the engine core against the bare decoder libraries, in the same run, for 60 s
// of a 4-channel MOD, a 32-channel MOD, an IT, an Ogg Vorbis, an MP3, a FLAC, and through
// libsndfile a 16-bit WAV and an IMA ADPCM WAV. Prints figures;
// asserts nothing about time. Numbers mean most from a build without sanitizers:
//   cmake --preset native -B build/bench -DQUAVERLY_SANITIZE=OFF
//   cmake --build build/bench --target quaverly_core_bench && build/bench/bench/quaverly_core_bench
#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <FLAC/stream_decoder.h>
#include <libopenmpt/libopenmpt.hpp>
#include <mpg123.h>
#include <sndfile.h>
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include "qvcore/qvcore.h"
#include "tests/gen/gen.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr size_t kBlock = 1024; // frames per render call, about what a device asks for
constexpr int kRepeats = 5;     // best of

struct Mem {
    const Bytes* b;
    size_t pos = 0;
    size_t read(void* out, size_t n) {
        n = std::min(n, b->size() - pos);
        std::memcpy(out, b->data() + pos, n);
        pos += n;
        return n;
    }
};

// ---- the bare libraries, driven as simply as their documentation shows ----------------------

uint64_t bareModule(const Bytes& b, uint32_t rate) {
    openmpt::module mod(b.data(), b.size());
    mod.ctl_set_text("play.at_end", "stop");
    std::vector<float> buf(2 * kBlock);
    uint64_t frames = 0;
    while (size_t n = mod.read_interleaved_stereo(static_cast<int32_t>(rate), kBlock, buf.data()))
        frames += n;
    return frames;
}

uint64_t bareVorbis(const Bytes& b, uint32_t) {
    Mem m{&b};
    ov_callbacks cb{};
    cb.read_func = [](void* p, size_t s, size_t n, void* src) {
        return static_cast<Mem*>(src)->read(p, s * n) / s;
    };
    OggVorbis_File vf;
    if (ov_open_callbacks(&m, &vf, nullptr, 0, cb) != 0)
        return 0;
    uint64_t frames = 0;
    float** pcm;
    int link;
    long n;
    std::vector<float> buf(2 * kBlock);
    while ((n = ov_read_float(&vf, &pcm, kBlock, &link)) > 0) {
        for (long i = 0; i < n; ++i) {
            buf[2 * i] = pcm[0][i];
            buf[2 * i + 1] = pcm[1][i];
        }
        frames += static_cast<uint64_t>(n);
    }
    ov_clear(&vf);
    return frames;
}

uint64_t bareMp3(const Bytes& b, uint32_t) {
    mpg123_handle* mh = mpg123_new(nullptr, nullptr);
    mpg123_param(mh, MPG123_FLAGS, MPG123_GAPLESS | MPG123_QUIET | MPG123_FORCE_FLOAT, 0);
    mpg123_open_feed(mh);
    mpg123_feed(mh, b.data(), b.size());
    std::vector<float> buf(2 * kBlock);
    uint64_t bytes = 0;
    size_t done = 0;
    int r;
    while ((r = mpg123_read(mh, buf.data(), buf.size() * sizeof(float), &done)) == MPG123_OK ||
           r == MPG123_NEW_FORMAT)
        bytes += done;
    bytes += done;
    mpg123_delete(mh);
    return bytes / (2 * sizeof(float));
}

uint64_t bareFlac(const Bytes& b, uint32_t) {
    struct State {
        Mem m;
        uint64_t frames = 0;
        std::vector<float> buf = std::vector<float>(2 * 65536);
    } st{Mem{&b}};
    FLAC__StreamDecoder* d = FLAC__stream_decoder_new();
    FLAC__stream_decoder_init_stream(
        d,
        [](const FLAC__StreamDecoder*, FLAC__byte out[], size_t* n, void* p) {
            *n = static_cast<State*>(p)->m.read(out, *n);
            return *n ? FLAC__STREAM_DECODER_READ_STATUS_CONTINUE
                      : FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
        },
        nullptr, nullptr, nullptr, nullptr,
        [](const FLAC__StreamDecoder*, const FLAC__Frame* f, const FLAC__int32* const ch[],
           void* p) {
            auto* s = static_cast<State*>(p);
            for (unsigned i = 0; i < f->header.blocksize; ++i) {
                s->buf[2 * i] = static_cast<float>(ch[0][i]) / 32768.0f;
                s->buf[2 * i + 1] = static_cast<float>(ch[1][i]) / 32768.0f;
            }
            s->frames += f->header.blocksize;
            return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
        },
        nullptr, [](const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {}, &st);
    FLAC__stream_decoder_process_until_end_of_stream(d);
    FLAC__stream_decoder_delete(d);
    return st.frames;
}

uint64_t bareSndfile(const Bytes& b, uint32_t) {
    Mem m{&b};
    SF_VIRTUAL_IO io{
        [](void* p) { return static_cast<sf_count_t>(static_cast<Mem*>(p)->b->size()); },
        [](sf_count_t offset, int whence, void* p) {
            Mem& mem = *static_cast<Mem*>(p);
            const sf_count_t base = whence == SEEK_SET   ? 0
                                    : whence == SEEK_CUR ? static_cast<sf_count_t>(mem.pos)
                                                         : static_cast<sf_count_t>(mem.b->size());
            mem.pos = static_cast<size_t>(
                std::clamp<sf_count_t>(base + offset, 0, static_cast<sf_count_t>(mem.b->size())));
            return static_cast<sf_count_t>(mem.pos);
        },
        [](void* out, sf_count_t n, void* p) {
            return static_cast<sf_count_t>(static_cast<Mem*>(p)->read(out, static_cast<size_t>(n)));
        },
        [](const void*, sf_count_t, void*) -> sf_count_t { return 0; },
        [](void* p) { return static_cast<sf_count_t>(static_cast<Mem*>(p)->pos); }};
    SF_INFO info{};
    SNDFILE* sf = sf_open_virtual(&io, SFM_READ, &info, &m);
    if (!sf)
        return 0;
    std::vector<float> buf(2 * kBlock);
    uint64_t frames = 0;
    while (sf_count_t n = sf_readf_float(sf, buf.data(), kBlock))
        frames += static_cast<uint64_t>(n);
    sf_close(sf);
    return frames;
}

// ---- through the core: a mixer channel at the source's rate, as a device at that rate ---------

// The bytes are in memory for both sides before the clock starts: the bare libraries read the
// vector, the core one FileData made of it once.
using File = std::shared_ptr<const qvcore::FileData>;

std::unique_ptr<qvcore::Decoder> openCore(const File& file, bool module) {
    return module ? qvcore::openModule(file, qvcore::ModuleEnd::Stop) : qvcore::openStream(file);
}

uint64_t throughCore(const File& b, uint32_t rate, bool module) {
    auto dec = openCore(b, module);
    if (!dec)
        return 0;
    qvcore::Mixer mixer(rate, kBlock, 32);
    const auto id = mixer.add(std::move(dec));
    mixer.setVolume(id, 200);
    mixer.play(id, false);
    std::vector<float> buf(2 * kBlock);
    uint64_t frames = 0;
    while (mixer.state(id) == qvcore::ChannelState::Playing) {
        mixer.render(buf.data(), kBlock);
        frames += kBlock;
    }
    return frames;
}

uint64_t decoderOnly(const File& b, uint32_t rate, bool module) {
    auto dec = openCore(b, module);
    if (!dec)
        return 0;
    dec->setRenderRate(rate);
    std::vector<float> buf(2 * kBlock);
    uint64_t frames = 0;
    while (size_t n = dec->render(buf.data(), kBlock))
        frames += n;
    return frames;
}

// CPU time of this thread: the machine is shared, so wall time says little.
double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Runs each contender once per round, in turn, so that all see the same machine; keeps the best
// CPU time of each.
std::vector<double> bestSeconds(const std::vector<std::function<uint64_t()>>& runs,
                                std::vector<uint64_t>& frames) {
    std::vector<double> best(runs.size(), 1e9);
    frames.assign(runs.size(), 0);
    for (int round = 0; round < kRepeats; ++round) {
        for (size_t i = 0; i < runs.size(); ++i) {
            const double t0 = cpuSeconds();
            frames[i] = runs[i]();
            best[i] = std::min(best[i], cpuSeconds() - t0);
        }
    }
    return best;
}

Bytes encodeTone(const char* ext, const std::string& cmdFormat) {
    qvgen::WavSpec params;
    params.seconds = 60;
    params.rate = 44100;
    params.frequency = 440;
    const fs::path dir = fs::temp_directory_path() / "quaverly-core-bench";
    fs::create_directories(dir);
    const fs::path wav = dir / "tone.wav";
    const fs::path out = dir / (std::string("tone.") + ext);
    {
        const Bytes w = qvgen::wavTone(params);
        std::ofstream(wav, std::ios::binary)
            .write(reinterpret_cast<const char*>(w.data()), static_cast<std::streamsize>(w.size()));
    }
    std::string cmd = cmdFormat;
    cmd.replace(cmd.find("%in"), 3, "'" + wav.string() + "'");
    cmd.replace(cmd.find("%out"), 4, "'" + out.string() + "'");
    if (std::system((cmd + " >/dev/null 2>&1").c_str()) != 0)
        return {};
    std::ifstream f(out, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

Bytes moduleOf(qvgen::ModuleFormat format, int channels) {
    qvgen::ModuleSpec params;
    params.format = format;
    params.channels = channels;
    params.voices = channels;
    params.orders = 8; // 8 x 7.68 s: just over a minute
    return qvgen::module(params);
}

} // namespace

int main() {
    mpg123_init();
    struct Case {
        const char* name;
        Bytes bytes;
        bool module;
        uint32_t rate;
        uint64_t (*bare)(const Bytes&, uint32_t);
    };
    std::vector<Case> cases;
    cases.push_back({"MOD 4ch", moduleOf(qvgen::ModuleFormat::Mod, 4), true, 48000, bareModule});
    cases.push_back({"MOD 32ch", moduleOf(qvgen::ModuleFormat::Mod, 32), true, 48000, bareModule});
    cases.push_back({"IT 16ch", moduleOf(qvgen::ModuleFormat::It, 16), true, 48000, bareModule});
    cases.push_back({"Ogg", encodeTone("ogg", "oggenc -Q -o %out %in"), false, 44100, bareVorbis});
    cases.push_back(
        {"MP3", encodeTone("mp3", "lame --quiet -b 192 %in %out"), false, 44100, bareMp3});
    cases.push_back({"FLAC", encodeTone("flac", "flac -s -f -o %out %in"), false, 44100, bareFlac});
    cases.push_back({"WAV s16", encodeTone("s16.wav", "cp %in %out"), false, 44100, bareSndfile});
    cases.push_back(
        {"WAV IMA", encodeTone("ima.wav", "sox %in -e ima-adpcm %out"), false, 44100, bareSndfile});

    std::printf("%-10s %8s %11s %11s %11s %11s %7s %9s\n", "source", "seconds", "bare xRT",
                "decoder xRT", "core xRT", "core48k xRT", "ratio", "dec ratio");
    for (const Case& c : cases) {
        if (c.bytes.empty()) {
            std::printf("%-10s (could not be made: encoder missing)\n", c.name);
            continue;
        }
        const File file = qvcore::FileData::fromBytes(c.bytes.data(), c.bytes.size());
        std::vector<uint64_t> frames;
        const std::vector<double> t =
            bestSeconds({[&] { return c.bare(c.bytes, c.rate); },
                         [&] { return decoderOnly(file, c.rate, c.module); },
                         [&] { return throughCore(file, c.rate, c.module); },
                         // Streams through a 48 kHz device: decoding plus resampling.
                         [&] { return throughCore(file, 48000, c.module); }},
                        frames);
        const double bare = t[0], decOnly = t[1], core = t[2], resampled = t[3];
        const uint64_t bareFrames = frames[0], decFrames = frames[1];
        const double audio = static_cast<double>(bareFrames) / c.rate;
        const double decoderXrt = static_cast<double>(decFrames) / c.rate / decOnly;
        std::printf("%-10s %8.2f %11.1f %11.1f %11.1f %11.1f %7.3f %9.3f\n", c.name, audio,
                    audio / bare, decoderXrt, audio / core, audio / resampled, bare / core,
                    decoderXrt / (audio / bare));
    }
    std::printf("xRT: seconds of audio rendered per second of CPU time. bare: the library alone; "
                "decoder: our decoder object; core: a mixer channel at the source's rate; core48k: "
                "the same through a 48 kHz mix (resampled streams). ratio: core / bare speed; "
                "decoder ratio: decoder / bare speed.\n");
    return 0;
}

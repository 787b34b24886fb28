// qvgen OUTDIR: writes the standard test media set and OUTDIR/manifest.tsv.
// qvgen --broken FILE KEEP OUTDIR: writes broken variants of FILE (a stream made by an encoder)
// and adds them to OUTDIR/manifest.tsv.
// A file whose content is unchanged is not rewritten, so its time stamp tells later steps (the
// encoders in scripts/gen-media.sh) that nothing needs redoing.
#include "tests/gen/gen.h"
#include "tests/support/bytes.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

namespace fs = std::filesystem;
using namespace qvgen;

namespace {

struct Entry {
    std::string name, kind, format;
    double frequency = 0.0, seconds = 0.0;
    int rate = 0, channels = 0, orders = 0;
    std::string note;
};

constexpr const char* kManifestHeader =
    "# name\tkind\tformat\tfrequency_hz\tseconds\trate\tchannels\torders\tnote\n";

std::string manifestLine(const Entry& e) {
    char numbers[128];
    std::snprintf(numbers, sizeof numbers, "%.3f\t%.3f\t%d\t%d\t%d", e.frequency, e.seconds, e.rate,
                  e.channels, e.orders);
    return e.name + "\t" + e.kind + "\t" + e.format + "\t" + numbers + "\t" + e.note + "\n";
}

using testsupport::readFile;

bool writeFile(const fs::path& path, const Bytes& bytes) {
    std::error_code ec;
    if (fs::exists(path, ec) && fs::file_size(path, ec) == bytes.size() && readFile(path) == bytes)
        return true;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

class MediaSet {
public:
    explicit MediaSet(fs::path dir) : dir_(std::move(dir)) {}

    bool add(const Entry& e, const Bytes& bytes) {
        if (!writeFile(dir_ / e.name, bytes)) {
            std::fprintf(stderr, "qvgen: cannot write %s\n", (dir_ / e.name).c_str());
            return false;
        }
        list(e, bytes.size());
        return true;
    }

    // For the large tones: a file newer than this program is what it would write again.
    bool addCached(const Entry& e, const std::function<Bytes()>& make) {
        std::error_code selfError, fileError;
        const auto self = fs::last_write_time("/proc/self/exe", selfError);
        const auto made = fs::last_write_time(dir_ / e.name, fileError);
        if (selfError || fileError || made <= self)
            return add(e, make());
        list(e, static_cast<size_t>(fs::file_size(dir_ / e.name, fileError)));
        return true;
    }

    const std::string& manifest() const { return manifest_; }

private:
    void list(const Entry& e, size_t size) {
        std::printf("%-44s %9zu bytes  %-7s %-8s %9.3f Hz %8.3f s\n", e.name.c_str(), size,
                    e.kind.c_str(), e.format.c_str(), e.frequency, e.seconds);
        manifest_ += manifestLine(e);
    }

    fs::path dir_;
    std::string manifest_;
};

const char* formatName(SampleFormat f) {
    switch (f) {
    case SampleFormat::U8: return "u8";
    case SampleFormat::S16: return "s16";
    case SampleFormat::S24: return "s24";
    case SampleFormat::S32: return "s32";
    case SampleFormat::F32: return "f32";
    }
    return "";
}

bool addTone(MediaSet& set, const WavSpec& params, const std::string& suffix = "") {
    const std::string layout = params.channels == 1 ? "mono" : "stereo";
    const std::string rate =
        params.rate == 44100 ? "44k" : std::to_string(params.rate / 1000) + "k";
    const std::string stem = params.frequency > 0
                                 ? "tone" + std::to_string(static_cast<int>(params.frequency))
                                 : std::string("silence");
    Entry e{stem + "_" + formatName(params.format) + "_" + layout + "_" + rate + suffix + ".wav",
            params.frequency > 0 ? "tone" : "silence",
            std::string("wav-") + formatName(params.format),
            params.frequency,
            params.seconds,
            params.rate,
            params.channels,
            0,
            params.extensible ? "extensible" : ""};
    return set.addCached(e, [&params] { return wavTone(params); });
}

bool addModule(MediaSet& set, const std::string& name, const ModuleSpec& params, bool wrapInUmx,
               const std::string& note) {
    const Bytes bytes = wrapInUmx ? umx(module(params), params.format) : module(params);
    Entry e{name,
            "module",
            wrapInUmx ? "umx" : std::string(moduleTypeName(params.format)),
            moduleFrequency(params),
            moduleSeconds(params),
            0,
            params.channels,
            params.orders,
            note};
    return set.add(e, bytes);
}

// The broken variants of one valid file: its header cut (to half, at most 64 bytes: an XM of
// 100 bytes already loads, as silence), the file cut in half, and garbage after its header.
bool addBroken(MediaSet& set, const std::string& stem, const std::string& ext, const Bytes& valid,
               size_t header) {
    const std::string format = ext;
    const std::string prefix = "broken_" + stem + "_";
    return set.add(
               {prefix + "truncated_header." + ext, "broken", format, 0, 0, 0, 0, 0, "header cut"},
               truncated(valid, std::min<size_t>(header / 2, 64))) &&
           set.add({prefix + "truncated." + ext, "broken", format, 0, 0, 0, 0, 0,
                    "first half of the file"},
                   truncated(valid, valid.size() / 2)) &&
           set.add({prefix + "garbage_after_header." + ext, "broken", format, 0, 0, 0, 0, 0,
                    "header, then garbage"},
                   withGarbageAfter(valid, header));
}

bool addWavs(MediaSet& set) {
    bool ok = true;
    for (SampleFormat f : {SampleFormat::U8, SampleFormat::S16, SampleFormat::S24,
                           SampleFormat::S32, SampleFormat::F32})
        for (int channels : {1, 2})
            ok = ok && addTone(set, {.frequency = 440, .channels = channels, .format = f});
    ok = ok && addTone(set, {.frequency = 440, .rate = 44100});
    ok = ok && addTone(set, {.frequency = 440, .rate = 44100, .format = SampleFormat::F32});
    ok = ok &&
         addTone(set, {.frequency = 440, .format = SampleFormat::S24, .extensible = true}, "_ext");
    ok = ok &&
         addTone(set, {.frequency = 440, .format = SampleFormat::F32, .extensible = true}, "_ext");
    ok = ok && addTone(set, {.frequency = 660, .rate = 44100});
    ok = ok && addTone(set, {.frequency = 1000, .rate = 44100});
    ok = ok && addTone(set, {.frequency = 880});
    ok = ok && addTone(set, {.frequency = 0});
    // Sources of the 60-second streams for the benchmarks.
    for (double hz : {440.0, 660.0, 1000.0})
        ok = ok && addTone(set, {.frequency = hz, .seconds = 60, .rate = 44100}, "_60s");
    return ok;
}

bool addModules(MediaSet& set) {
    struct Kind {
        ModuleFormat format;
        bool umx;
        double frequency;
        const char* stem;
    };
    // Distinct pitches, at least 10 % apart from each other and from the stream tones.
    const Kind kinds[] = {
        {ModuleFormat::Mod, false, 550, "mod_550"}, {ModuleFormat::S3m, false, 330, "s3m_330"},
        {ModuleFormat::Xm, false, 770, "xm_770"},   {ModuleFormat::It, false, 1100, "it_1100"},
        {ModuleFormat::Mtm, false, 495, "mtm_495"}, {ModuleFormat::It, true, 1320, "umx_1320"}};
    bool ok = true;
    for (const Kind& k : kinds) {
        const std::string ext = k.umx ? "umx" : std::string(moduleTypeName(k.format));
        // 3 orders of 64 rows at speed 1, tempo 125: 3.84 s.
        ModuleSpec params{.format = k.format, .frequency = k.frequency, .orders = 3, .speed = 1};
        ok = ok && addModule(set, std::string(k.stem) + "." + ext, params, k.umx, "");
        ModuleSpec many = params;
        many.orders = 13;
        many.tempo = 250; // 8.32 s
        ok = ok && addModule(set, std::string(k.stem) + "_13orders." + ext, many, k.umx, "");
        ModuleSpec single = params;
        single.orders = 1;
        single.speed = 3; // 3.84 s
        ok = ok && addModule(set, std::string(k.stem) + "_1order." + ext, single, k.umx, "");
    }
    // A 32-channel MOD with every channel playing.
    ok = ok && addModule(set, "mod32_550.mod",
                         {.frequency = 550, .orders = 3, .speed = 1, .channels = 32, .voices = 32},
                         false, "32 voices");
    // Benchmarks: 10 orders at speed 6, tempo 160: 60 s, every channel playing.
    ok = ok &&
         addModule(set, "mod_550_60s.mod",
                   {.frequency = 550, .orders = 10, .tempo = 160, .voices = 4}, false, "4 voices");
    ok = ok &&
         addModule(set, "mod32_550_60s.mod",
                   {.frequency = 550, .orders = 10, .tempo = 160, .channels = 32, .voices = 32},
                   false, "32 voices");
    ok = ok && addModule(set, "it_1100_60s.it",
                         {.format = ModuleFormat::It,
                          .frequency = 1100,
                          .orders = 10,
                          .tempo = 160,
                          .channels = 8,
                          .voices = 8},
                         false, "8 voices");
    return ok;
}

bool addBrokenSet(MediaSet& set) {
    bool ok = set.add({"empty.bin", "broken", "bin", 0, 0, 0, 0, 0, "0 bytes"}, {}) &&
              set.add({"one_byte.bin", "broken", "bin", 0, 0, 0, 0, 0, "1 byte"}, {'M'}) &&
              set.add({"garbage_64k.bin", "broken", "bin", 0, 0, 0, 0, 0, "random bytes"},
                      garbage(65536));
    for (ModuleFormat f : {ModuleFormat::Mod, ModuleFormat::S3m, ModuleFormat::Xm, ModuleFormat::It,
                           ModuleFormat::Mtm}) {
        const std::string ext(moduleTypeName(f));
        ok =
            ok && addBroken(set, ext, ext, module({.format = f, .orders = 3}), moduleHeaderSize(f));
    }
    ok = ok && addBroken(set, "umx", "umx",
                         umx(module({.format = ModuleFormat::It, .orders = 3}), ModuleFormat::It),
                         kUmxHeaderSize);

    // WAVs: cut and garbled like the others, and headers whose sizes or fields lie.
    const Bytes wav = wavTone({});
    const size_t data = wavChunkOffset(wav, "data");
    ok = ok && addBroken(set, "wav", "wav", wav, data + 8);
    struct Lie {
        const char* name;
        size_t offset;
        uint32_t value;
        const char* note;
    };
    const Lie lies[] = {
        {"broken_wav_data_size_lies.wav", data + 4, 0x7ffffff0, "data size past the end"},
        {"broken_wav_fmt_size_lies.wav", 16, 0xfffffff0, "fmt size past the end"},
        {"broken_wav_riff_size_lies.wav", 4, 0xffffffff, "RIFF size past the end"},
    };
    for (const Lie& lie : lies) {
        Bytes lying = wav;
        patchLE32(lying, lie.offset, lie.value);
        ok = ok && set.add({lie.name, "broken", "wav", 0, 0, 0, 0, 0, lie.note}, lying);
    }
    Bytes noChannels = wav;
    noChannels[22] = noChannels[23] = 0; // channels
    noChannels[32] = noChannels[33] = 0; // block align
    ok = ok && set.add({"broken_wav_zero_channels.wav", "broken", "wav", 0, 0, 0, 0, 0,
                        "0 channels, block align 0"},
                       noChannels);
    return ok;
}

bool appendToManifest(const fs::path& dir, const std::string& lines) {
    std::ofstream out(dir / "manifest.tsv", std::ios::app);
    out << lines;
    return static_cast<bool>(out);
}

int standardSet(const fs::path& dir) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    MediaSet set(dir);
    if (!addWavs(set) || !addModules(set) || !addBrokenSet(set))
        return 1;
    std::ofstream out(dir / "manifest.tsv", std::ios::trunc);
    out << kManifestHeader << set.manifest();
    std::printf("manifest.tsv\n");
    return out ? 0 : 1;
}

int brokenVariants(const fs::path& file, size_t keep, const fs::path& dir) {
    const Bytes valid = readFile(file);
    if (valid.empty()) {
        std::fprintf(stderr, "qvgen: cannot read %s\n", file.c_str());
        return 1;
    }
    MediaSet set(dir);
    std::string ext = file.extension().string();
    if (!ext.empty())
        ext.erase(0, 1);
    if (!addBroken(set, file.stem().string(), ext, valid, keep))
        return 1;
    return appendToManifest(dir, set.manifest()) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    try {
        if (argc == 2 && argv[1][0] != '-')
            return standardSet(argv[1]);
        if (argc == 5 && std::string(argv[1]) == "--broken")
            return brokenVariants(argv[2], std::stoul(argv[3]), argv[4]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qvgen: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: qvgen OUTDIR\n"
                         "       qvgen --broken FILE HEADER_BYTES OUTDIR\n");
    return 2;
}

// Writes a seed corpus for the core's fuzz targets: small files of every format, made by our
// generators and, for the compressed streams, by the command-line encoders when installed.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/gen/gen.h"

namespace fs = std::filesystem;

namespace {

void write(const fs::path& p, const qvgen::Bytes& b) {
    std::ofstream f(p, std::ios::binary);
    f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const fs::path out = argv[1];
    for (const char* kind : {"probe", "module", "vorbis", "opus", "flac", "wav", "mp3"})
        fs::create_directories(out / kind);

    qvgen::WavSpec tone;
    tone.seconds = 0.25;
    tone.rate = 22050;
    for (auto f : {qvgen::SampleFormat::U8, qvgen::SampleFormat::S16, qvgen::SampleFormat::S24,
                   qvgen::SampleFormat::S32, qvgen::SampleFormat::F32}) {
        for (int channels : {1, 2}) {
            tone.format = f;
            tone.channels = channels;
            const auto name = "tone" + std::to_string(static_cast<int>(f)) + "_" +
                              std::to_string(channels) + ".wav";
            write(out / "wav" / name, qvgen::wavTone(tone));
            write(out / "probe" / name, qvgen::wavTone(tone));
        }
    }

    using MF = qvgen::ModuleFormat;
    for (MF f : {MF::Mod, MF::S3m, MF::Xm, MF::It, MF::Mtm}) {
        qvgen::ModuleSpec params;
        params.format = f;
        params.orders = 2;
        params.rows = 16;
        const auto bytes = qvgen::module(params);
        const std::string name = "song." + std::string(qvgen::moduleTypeName(f));
        write(out / "module" / name, bytes);
        write(out / "probe" / name, bytes);
        if (f == MF::S3m) {
            write(out / "module" / "song.umx", qvgen::umx(bytes, f));
            write(out / "probe" / "song.umx", qvgen::umx(bytes, f));
        }
    }

    // Encoded streams, from a short 16-bit stereo tone.
    tone.format = qvgen::SampleFormat::S16;
    tone.channels = 2;
    tone.rate = 44100;
    const fs::path wav = out / "source.tmp.wav";
    write(wav, qvgen::wavTone(tone));
    const std::string in = "'" + wav.string() + "'";
    struct Enc {
        const char* dir;
        const char* file;
        std::string cmd;
    };
    const Enc encoders[] = {
        {"vorbis", "tone.ogg", "oggenc -Q -q 0 -o {} " + in},
        {"opus", "tone.opus", "opusenc --quiet --bitrate 24 " + in + " {}"},
        {"flac", "tone.flac", "flac -s -f -o {} " + in},
        {"mp3", "tone.mp3", "lame --quiet -b 64 " + in + " {}"},
    };
    for (const Enc& e : encoders) {
        const fs::path target = out / e.dir / e.file;
        std::string cmd = e.cmd;
        cmd.replace(cmd.find("{}"), 2, "'" + target.string() + "'");
        if (std::system((cmd + " >/dev/null 2>&1").c_str()) != 0) {
            std::fprintf(stderr, "seeds: %s failed; that corpus starts empty\n", e.file);
            continue;
        }
        fs::copy_file(target, out / "probe" / e.file, fs::copy_options::overwrite_existing);
    }
    fs::remove(wav);
    return 0;
}

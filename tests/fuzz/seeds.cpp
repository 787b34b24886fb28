// Writes a seed corpus for the core's fuzz targets: small files of every format, made by our
// generators and, for the compressed streams, by the command-line encoders when installed.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
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
    for (const char* kind :
         {"probe", "module", "vorbis", "opus", "flac", "wav", "mp3", "playlist", "tags"})
        fs::create_directories(out / kind);

    using namespace std::string_literals;
    // Playlists: the first byte picks the format (0 M3U, 1 M3U8, 2 PLS) and the folder.
    const std::string playlists[] = {
        "\0#EXTM3U\r\n#EXTINF:12,A\r\na.ogg\r\nsub/c.it\r\n\\x.mp3\r\nhttp://r/s\r\n"s,
        "\x04\xEF\xBB\xBF\xD0\xA2\xD0\xBE\xD0\xBD.ogg\n..\\b.xm\nC:\\x\\caf\xC3\xA9.mod\n",
        "\x02[playlist]\nFile2=b.xm\nTitle1=A\nFile1=a.ogg\nNumberOfEntries=2\n",
        "\x06\xFF\xFE"
        "a\0.\0o\0g\0g\0\r\0\n\0\x3D\xD8\x35\xDE"s,
        "\x03"
        "caf\xE9.mod\n\t b.xm \n\x01\x02\n",
    };
    for (size_t i = 0; i < std::size(playlists); ++i)
        write(out / "playlist" / ("list" + std::to_string(i)),
              qvgen::Bytes(playlists[i].begin(), playlists[i].end()));

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
    // A red pixel, for the tagged streams' covers.
    const std::string png = "\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x01\0\0\0\x01\x08\x02\0\0\0"
                            "\x90\x77\x53\xde\0\0\0\x0cIDAT\x78\x9c\x63\xf8\xcf\xc0\0\0\x03\x01"
                            "\x01\0\xc9\xfe\x92\xef\0\0\0\0IEND\xae\x42\x60\x82"s;
    const fs::path cover = out / "cover.tmp.png";
    write(cover, qvgen::Bytes(png.begin(), png.end()));
    const std::string pic = "'" + cover.string() + "'";
    // Tags of every kind the byte readers take.
    const std::string midi = "MThd\0\0\0\x06\0\x01\0\x01\0\x60MTrk\0\0\0\x0f\0\xff\x03\x04Song"
                             "\0\x90\x3c\x64\0\xff\x2f\0"s;
    write(out / "tags" / "name.mid", qvgen::Bytes(midi.begin(), midi.end()));
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
        {"tags", "tagged.mp3",
         "lame --quiet -b 64 --tt Title --ta Artist --ti " + pic + " " + in + " {}"},
        {"tags", "tagged.flac",
         "flac -s -f -T TITLE=T -T ARTIST=A --picture=" + pic + " -o {} " + in},
        {"tags", "tagged.m4a",
         "ffmpeg -nostdin -loglevel error -y -i " + in + " -i " + pic +
             " -map 0 -map 1 -c:a aac -c:v copy -disposition:v attached_pic -t 0.1"
             " -metadata title=T -metadata artist=A {}"},
        // The containers and codecs libsndfile reads.
        {"wav", "alaw.wav", "sox " + in + " -c 1 -e a-law {}"},
        {"wav", "ima.wav", "sox " + in + " -e ima-adpcm {}"},
        {"wav", "msadpcm.wav", "sox " + in + " -e ms-adpcm {}"},
        {"wav", "float64.wav", "sox " + in + " -e floating-point -b 64 {}"},
        {"wav", "rf64.wav", "ffmpeg -nostdin -y -i " + in + " -rf64 always -f wav {}"},
        {"wav", "surround.wav", "sox " + in + " -c 6 {} remix 1 2 1 2 1 2"},
        {"wav", "tone.aiff", "sox " + in + " {}"},
        {"wav", "tone.aifc", "sox " + in + " -e floating-point {}"},
        {"wav", "tone.au", "sox " + in + " -e u-law {}"},
        {"wav", "tone.w64", "sox " + in + " {}"},
        {"wav", "tone.caf", "ffmpeg -nostdin -y -i " + in + " -f caf {}"},
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
    fs::remove(cover);
    return 0;
}

// Media for the engine core's tests: tones and modules from tests/gen, streams encoded at test
// time with the command-line encoders, cached per process.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "qvcore/qvcore.h"
#include "tests/gen/gen.h"
#include "tests/support/bytes.h"

namespace coretest {

namespace fs = std::filesystem;
using testsupport::Bytes;
using testsupport::readFile;

// A folder of its own for this process, removed at exit.
inline const fs::path& scratchDir() {
    struct Dir {
        fs::path path;
        Dir() {
            path = fs::temp_directory_path() / ("qvcore-test-" + std::to_string(getpid()));
            fs::create_directories(path);
        }
        ~Dir() {
            std::error_code ec;
            fs::remove_all(path, ec);
        }
    };
    static Dir dir;
    return dir.path;
}

inline void writeFile(const fs::path& p, const Bytes& b) {
    std::ofstream f(p, std::ios::binary);
    f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

enum class Encoded { Ogg, Mp3, Flac, Opus };

// The tone of `params` encoded by an installed encoder; empty if the encoder failed.
inline Bytes encode(Encoded kind, const qvgen::WavSpec& params) {
    static std::map<std::string, Bytes> cache;
    static int counter = 0;
    const char* names[] = {"ogg", "mp3", "flac", "opus"};
    const std::string key = std::string(names[static_cast<int>(kind)]) + ":" +
                            std::to_string(params.frequency) + ":" +
                            std::to_string(params.seconds) + ":" + std::to_string(params.rate) +
                            ":" + std::to_string(params.channels);
    if (auto it = cache.find(key); it != cache.end())
        return it->second;
    const fs::path dir = scratchDir();
    const std::string base = "enc" + std::to_string(counter++);
    const fs::path wav = dir / (base + ".wav");
    const fs::path out = dir / (base + "." + names[static_cast<int>(kind)]);
    writeFile(wav, qvgen::wavTone(params));
    std::string cmd;
    switch (kind) {
    case Encoded::Ogg:
        cmd = "oggenc -Q -q 4 -o '" + out.string() + "' '" + wav.string() + "'";
        break;
    case Encoded::Mp3:
        cmd = "lame --quiet -b 128 '" + wav.string() + "' '" + out.string() + "'";
        break;
    case Encoded::Flac: cmd = "flac -s -f -o '" + out.string() + "' '" + wav.string() + "'"; break;
    case Encoded::Opus:
        cmd = "opusenc --quiet '" + wav.string() + "' '" + out.string() + "'";
        break;
    }
    Bytes result;
    if (std::system((cmd + " >/dev/null 2>&1").c_str()) == 0)
        result = readFile(out);
    cache[key] = result;
    return result;
}

// The tone of `params` made into another container or codec by a command (sox, ffmpeg) in which
// IN and OUT stand for the files (a command that makes its own sound leaves IN out); `ext` is the
// output's extension. Empty if the command failed.
inline Bytes converted(const qvgen::WavSpec& params, const std::string& command,
                       const std::string& ext) {
    static int counter = 0;
    const fs::path dir = scratchDir();
    const std::string base = "conv" + std::to_string(counter++);
    const fs::path wav = dir / (base + "-in.wav"), out = dir / (base + "." + ext);
    writeFile(wav, qvgen::wavTone(params));
    std::string cmd = command;
    for (auto [from, to] : {std::pair<std::string, std::string>{"IN", wav.string()},
                            std::pair<std::string, std::string>{"OUT", out.string()}})
        if (const size_t at = cmd.find(from); at != std::string::npos)
            cmd.replace(at, from.size(), "'" + to + "'");
    if (std::system((cmd + " >/dev/null 2>&1").c_str()) != 0)
        return {};
    return readFile(out);
}

inline std::shared_ptr<const qvcore::FileData> fileOf(const Bytes& b) {
    return qvcore::FileData::fromBytes(b.data(), b.size());
}

inline qvcore::ProbeResult probeBytes(const Bytes& b) {
    return qvcore::probe(b.data(), b.size());
}

// Renders until the decoder stops (at most `limit` frames).
inline std::vector<float> renderAll(qvcore::Decoder& d, size_t limit = 48000 * 120,
                                    size_t block = 1000) {
    std::vector<float> out;
    std::vector<float> buf(2 * block);
    while (out.size() / 2 < limit) {
        const size_t n = d.render(buf.data(), block);
        out.insert(out.end(), buf.begin(), buf.begin() + 2 * n);
        if (n < block)
            break;
    }
    return out;
}

inline qvgen::WavSpec tone(double seconds = 2.0, int rate = 44100, double freq = 440.0) {
    qvgen::WavSpec s;
    s.seconds = seconds;
    s.rate = rate;
    s.frequency = freq;
    return s;
}

inline Bytes moduleBytes(qvgen::ModuleFormat f, int orders = 4, int channels = 4) {
    qvgen::ModuleSpec params;
    params.format = f;
    params.orders = orders;
    params.channels = channels;
    if (f == qvgen::ModuleFormat::Mod && channels != 4 && channels % 2)
        params.channels = 4;
    return qvgen::module(params);
}

} // namespace coretest

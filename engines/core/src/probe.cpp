#include "qvcore/probe.h"

#include <algorithm>
#include <map>
#include <ostream>
#include <streambuf>

#include <libopenmpt/libopenmpt.hpp>

#include "internal.h"

namespace qvcore {
namespace detail {

std::size_t id3v2Length(const std::uint8_t* d, std::size_t size) {
    if (size < 10 || d[0] != 'I' || d[1] != 'D' || d[2] != '3')
        return 0;
    const unsigned major = d[3];
    if (major < 2 || major > 4 || d[4] == 0xFF)
        return 0;
    if (d[6] >= 0x80 || d[7] >= 0x80 || d[8] >= 0x80 || d[9] >= 0x80)
        return 0;
    const std::size_t body = (std::size_t{d[6]} << 21) | (std::size_t{d[7]} << 14) |
                             (std::size_t{d[8]} << 7) | std::size_t{d[9]};
    const bool footer = major == 4 && (d[5] & 0x10);
    return 10 + body + (footer ? 10 : 0);
}

// The containers libsndfile reads for us, by their headers: RIFF/WAVE, RF64, Wave64,
// FORM/AIFF and AIFC, Sun/NeXT .snd and CAF.
bool isPcmContainer(const std::uint8_t* d, std::size_t size) {
    static const std::uint8_t w64Riff[16] = {'r',  'i',  'f',  'f',  0x2E, 0x91, 0xCF, 0x11,
                                             0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};
    static const std::uint8_t w64Wave[16] = {'w',  'a',  'v',  'e',  0xF3, 0xAC, 0xD3, 0x11,
                                             0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
    auto is = [d](std::size_t at, const char* tag) { return std::memcmp(d + at, tag, 4) == 0; };
    if (size < 24)
        return false;
    if ((is(0, "RIFF") || is(0, "RF64")) && is(8, "WAVE"))
        return true;
    if (is(0, "FORM") && (is(8, "AIFF") || is(8, "AIFC")))
        return true;
    if (is(0, "caff") && d[4] == 0 && d[5] == 1)
        return true;
    // Offset, encoding and channels: a header, not text that happens to start ".snd".
    if (is(0, ".snd"))
        return be32(d + 4) >= 24 && be32(d + 12) >= 1 && be32(d + 12) <= 27 && be32(d + 20) >= 1;
    return size >= 40 && std::memcmp(d, w64Riff, 16) == 0 && std::memcmp(d + 24, w64Wave, 16) == 0;
}

namespace {

struct MpegHeader {
    unsigned version; // 3 = MPEG-1, 2 = MPEG-2, 0 = MPEG-2.5
    unsigned layer;   // 1..3
    unsigned rate;
    std::size_t length; // whole frame in bytes
};

bool parseMpegHeader(const std::uint8_t* p, MpegHeader& h) {
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return false;
    const unsigned version = (p[1] >> 3) & 3;
    const unsigned layerBits = (p[1] >> 1) & 3;
    const unsigned bitrateIndex = p[2] >> 4;
    const unsigned rateIndex = (p[2] >> 2) & 3;
    const unsigned padding = (p[2] >> 1) & 1;
    if (version == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 ||
        rateIndex == 3 || (p[3] & 3) == 2)
        return false;
    static const unsigned short kBitrates[2][3][15] = {
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
    static const unsigned kRates[3] = {44100, 48000, 32000};
    h.version = version;
    h.layer = 4 - layerBits;
    h.rate = kRates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    const unsigned long bitrate =
        kBitrates[version == 3 ? 0 : 1][h.layer - 1][bitrateIndex] * 1000ul;
    if (h.layer == 1)
        h.length = (12 * bitrate / h.rate + padding) * 4;
    else if (h.layer == 3 && version != 3)
        h.length = 72 * bitrate / h.rate + padding;
    else
        h.length = 144 * bitrate / h.rate + padding;
    return h.length >= 4;
}

// A frame header as the probes compare them: its whole length, and a key that must stay the
// same from frame to frame.
struct FrameHeader {
    std::size_t length = 0;
    unsigned key = 0;
};

// `count` consecutive frames (fewer when they end exactly at the end of the data after
// `allowEofAfter`; the last may be cut), each read by `parse` from `headerBytes` bytes.
template <class Parse>
bool framesAt(const std::uint8_t* d, std::size_t size, int count, int allowEofAfter,
              std::size_t headerBytes, Parse parse) {
    std::size_t pos = 0;
    unsigned first = 0;
    for (int i = 0; i < count; ++i) {
        if (pos == size && i >= allowEofAfter)
            return true;
        FrameHeader h;
        if (size - pos < headerBytes || !parse(d + pos, h))
            return false;
        if (i == 0)
            first = h.key;
        else if (h.key != first)
            return false;
        if (h.length > size - pos && i + 1 < count)
            return false;
        pos += std::min(h.length, size - pos);
    }
    return true;
}

// ADTS: 12 sync bits, layer 0, a defined sampling index, a frame that holds its header; the
// version, profile and rate stay the same.
bool adtsFramesAt(const std::uint8_t* d, std::size_t size) {
    return framesAt(d, size, 4, 3, 7, [](const std::uint8_t* p, FrameHeader& f) {
        if (p[0] != 0xFF || (p[1] & 0xF6) != 0xF0 || ((p[2] >> 2) & 0x0F) >= 13)
            return false;
        f.length = (std::size_t{p[3] & 3u} << 11) | (std::size_t{p[4]} << 3) | (p[5] >> 5);
        f.key = (p[1] & 0x08) | (p[2] & 0xFC);
        return f.length > ((p[1] & 1) ? 7u : 9u);
    });
}

} // namespace

bool mpegFramesAt(const std::uint8_t* d, std::size_t size, int count, int allowEofAfter) {
    return framesAt(d, size, count, allowEofAfter, 4, [](const std::uint8_t* p, FrameHeader& f) {
        MpegHeader h{};
        if (!parseMpegHeader(p, h))
            return false;
        f.length = h.length;
        f.key = (h.version << 24) | (h.layer << 20) | h.rate; // version, layer and rate
        return true;
    });
}

} // namespace detail

namespace {

using namespace detail;

std::size_t id3v2TagsLength(const std::uint8_t* d, std::size_t size) {
    std::size_t pos = 0;
    for (int tags = 0; tags < 4; ++tags) {
        const std::size_t tag = id3v2Length(d + pos, size - pos);
        if (!tag || tag > size - pos)
            break;
        pos += tag;
    }
    return pos;
}

} // namespace

SystemFormat systemFormat(const std::uint8_t* d, std::size_t size) {
    if (!d || size < 16)
        return SystemFormat::None;
    if (std::memcmp(d + 4, "ftyp", 4) == 0 && be32(d) >= 8)
        return SystemFormat::Mp4;
    static const std::uint8_t asfHeader[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                               0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    if (std::memcmp(d, asfHeader, sizeof asfHeader) == 0)
        return SystemFormat::Asf;
    const std::size_t tags = id3v2TagsLength(d, size);
    if (adtsFramesAt(d + tags, size - tags))
        return SystemFormat::Adts;
    return SystemFormat::None;
}

namespace {

using namespace detail;

// Whether the top-level boxes tile the data; `movie` tells whether a whole movie box (the
// index) came before any box that does not.
bool mp4Boxes(const std::uint8_t* d, std::size_t size, bool& movie) {
    movie = false;
    for (std::size_t pos = 0; pos < size;) {
        if (size - pos < 8)
            return false;
        std::uint64_t length = be32(d + pos);
        if (length == 1) {
            if (size - pos < 16)
                return false;
            length = (std::uint64_t{be32(d + pos + 8)} << 32) | be32(d + pos + 12);
        } else if (length == 0) {
            length = size - pos; // to the end of the file
        }
        for (int i = 4; i < 8; ++i)
            if (d[pos + i] < 0x20 || d[pos + i] > 0x7E)
                return false;
        if (length < 8 || length > size - pos)
            return false;
        movie = movie || std::memcmp(d + pos + 4, "moov", 4) == 0;
        pos += static_cast<std::size_t>(length);
    }
    return movie;
}

bool mp4BoxesIntact(const std::uint8_t* d, std::size_t size) {
    bool movie = false;
    return mp4Boxes(d, size, movie);
}

} // namespace

bool systemContainerIntact(const std::uint8_t* d, std::size_t size, SystemFormat format) {
    switch (format) {
    case SystemFormat::Mp4: return mp4BoxesIntact(d, size);
    case SystemFormat::Asf: {
        if (size < 30)
            return false;
        const std::uint64_t header = (std::uint64_t{le32(d + 20)} << 32) | le32(d + 16);
        return header >= 30 && header <= size;
    }
    case SystemFormat::Adts: return true; // its frames were checked when it was recognised
    case SystemFormat::None: break;
    }
    return false;
}

bool systemIndexWhole(const std::uint8_t* d, std::size_t size, SystemFormat format) {
    if (format != SystemFormat::Mp4)
        return systemContainerIntact(d, size, format) || format == SystemFormat::Adts;
    bool movie = false;
    mp4Boxes(d, size, movie);
    return movie;
}

namespace {

// libopenmpt logs to std::clog unless told otherwise.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
};

bool isOgg(const std::uint8_t* d, std::size_t size, Kind& kind) {
    if (size < 28 || std::memcmp(d, "OggS", 4) != 0 || d[4] != 0 || !(d[5] & 0x02))
        return false;
    const std::size_t body = 27 + std::size_t{d[26]};
    if (size >= body + 7 && std::memcmp(d + body, "\x01vorbis", 7) == 0) {
        kind = Kind::Vorbis;
        return true;
    }
    if (size >= body + 8 && std::memcmp(d + body, "OpusHead", 8) == 0) {
        kind = Kind::Opus;
        return true;
    }
    return false;
}

bool isFlac(const std::uint8_t* d, std::size_t size) {
    // The first metadata block must be a 34-byte STREAMINFO.
    return size >= 42 && std::memcmp(d, "fLaC", 4) == 0 && (d[4] & 0x7F) == 0 && d[5] == 0 &&
           d[6] == 0 && d[7] == 34;
}

bool isMp3AfterTag(const std::uint8_t* d, std::size_t size) {
    // Tags may be stacked, and some writers pad with zeros past the tag's stated size.
    std::size_t pos = id3v2TagsLength(d, size);
    const std::size_t limit = std::min(size, pos + 65536);
    while (pos < limit && d[pos] == 0)
        ++pos;
    return pos < size && mpegFramesAt(d + pos, size - pos, 2, 1);
}

std::string moduleTypeOf(const std::uint8_t* d, std::size_t size, std::string& container) {
    try {
        // Throws on some input (an empty buffer, for one): everything here stays inside the try.
        const std::size_t want = openmpt::probe_file_header_get_recommended_size();
        const int probed = openmpt::probe_file_header(openmpt::probe_file_header_flags_default2, d,
                                                      std::min(size, want), size);
        if (probed == openmpt::probe_file_header_result_failure)
            return {};
        NullBuffer nullBuffer;
        std::ostream log(&nullBuffer);
        // Loading without samples and patterns is cheap. (Skipping plugins too loses the
        // metadata of modules inside containers.)
        const std::map<std::string, std::string> ctls{{"load.skip_samples", "1"},
                                                      {"load.skip_patterns", "1"},
                                                      {"load.skip_subsongs_init", "1"}};
        openmpt::module mod(d, size, log, ctls);
        std::string type = mod.get_metadata("type");
        container = mod.get_metadata("container");
        return type.empty() ? std::string("unknown") : type;
    } catch (...) {
        return {};
    }
}

} // namespace

const char* kindName(Kind kind) {
    switch (kind) {
    case Kind::Module: return "module";
    case Kind::Vorbis: return "vorbis";
    case Kind::Opus: return "opus";
    case Kind::Flac: return "flac";
    case Kind::Wav: return "wav";
    case Kind::Mp3: return "mp3";
    case Kind::System: return "system";
    case Kind::Unknown: break;
    }
    return "unknown";
}

bool isClassicModuleType(const std::string& type) {
    return type == "mod" || type == "s3m" || type == "xm" || type == "it";
}

bool isClassicModule(const ProbeResult& r) {
    return r.kind == Kind::Module && r.moduleContainer.empty() && isClassicModuleType(r.moduleType);
}

ProbeResult probe(const std::uint8_t* d, std::size_t size) {
    ProbeResult r;
    if (!d || size < 4)
        return r;
    Kind ogg = Kind::Unknown;
    if (isOgg(d, size, ogg)) {
        r.kind = ogg;
        return r;
    }
    if (isFlac(d, size)) {
        r.kind = Kind::Flac;
        return r;
    }
    if (isPcmContainer(d, size)) {
        r.kind = Kind::Wav;
        return r;
    }
    if (const std::size_t tag = id3v2Length(d, size)) {
        if (tag < size && isFlac(d + tag, size - tag)) {
            r.kind = Kind::Flac;
            return r;
        }
        if (isMp3AfterTag(d, size)) {
            r.kind = Kind::Mp3;
            return r;
        }
    }
    // Modules come before bare MPEG frames: their headers are specific, frame sync is not.
    std::string type = moduleTypeOf(d, size, r.moduleContainer);
    if (!type.empty()) {
        r.kind = Kind::Module;
        r.moduleType = std::move(type);
        return r;
    }
    if (mpegFramesAt(d, size, 4, 3)) {
        r.kind = Kind::Mp3;
        return r;
    }
    return r;
}

} // namespace qvcore

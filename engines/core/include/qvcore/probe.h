// Tells which decoder takes a file, from its content alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qvcore {

// Wav: any PCM container libsndfile reads (WAV, RF64, Wave64, AIFF/AIFC, AU, CAF).
// System: decoded by the system's codecs (never a probe's answer).
enum class Kind { Unknown, Module, Vorbis, Opus, Flac, Wav, Mp3, System };

const char* kindName(Kind kind);
inline bool isStream(Kind kind) {
    return kind != Kind::Unknown && kind != Kind::Module;
}

struct ProbeResult {
    Kind kind = Kind::Unknown;
    // For modules, libopenmpt's short type name: "mod", "s3m", "xm", "it", "mtm", "669", ...
    std::string moduleType;
    // For a module inside a container, the container's name ("umx", ...); empty otherwise.
    std::string moduleContainer;
};

// Stream formats are recognised by their own headers; MP3 only with an ID3v2 tag or several
// consecutive valid frame headers at offset 0 (mpg123 would resync into anything). A module is
// what libopenmpt recognises and can load.
ProbeResult probe(const std::uint8_t* data, std::size_t size);

// Containers that none of our decoders reads but the system's may: MP4/M4A (an ftyp box), raw
// AAC (several consecutive ADTS frames, checked as strictly as MP3) and ASF (its header GUID).
enum class SystemFormat { None, Mp4, Adts, Asf };
SystemFormat systemFormat(const std::uint8_t* data, std::size_t size);
// Whether such a container is whole: MP4 boxes that tile the file and include a movie box, an
// ASF header that fits. When the system refuses a whole one, it has no decoder for it.
bool systemContainerIntact(const std::uint8_t* data, std::size_t size, SystemFormat format);

// Whether what a player needs before the first sample is all there: an MP4's movie box (its
// index) whole, even when the media data after it is cut; an ASF header that fits.
bool systemIndexWhole(const std::uint8_t* data, std::size_t size, SystemFormat format);

// True for the four module types the looping module player takes.
bool isClassicModuleType(const std::string& type);
// A plain MOD, S3M, XM or IT file (not one inside a container such as UMX).
bool isClassicModule(const ProbeResult& result);

} // namespace qvcore

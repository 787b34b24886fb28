// A track's title, artist and cover picture, read from the tags of its file for the system's
// media display. Every reader takes untrusted bytes: what is malformed is skipped, what is huge
// is cut (text) or dropped (pictures), and nothing reads past the bytes given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "qvcore/file_data.h"

namespace qvcore {

// Longer titles and artists are cut at a character boundary: a display line needs no more.
inline constexpr std::size_t tagTextLimit = 512;
// A bigger picture is dropped: a cut one would not decode.
inline constexpr std::size_t tagPictureLimit = 8u * 1024u * 1024u;
// Tags are looked for in this much of a file's start.
inline constexpr std::size_t tagScanLimit = 48u * 1024u * 1024u;

struct TrackTags {
    std::string title;  // valid UTF-8, no control characters, at most tagTextLimit bytes
    std::string artist; // the same
    std::vector<std::uint8_t> picture;
    std::string pictureType; // a MIME type ("image/jpeg") when the file gives one

    bool empty() const { return title.empty() && artist.empty() && picture.empty(); }
};

// The byte readers: each fills what it finds and leaves the rest alone. True when the bytes
// held such a tag at all.
// An ID3v2 tag (versions 2.2 to 2.4) at the start: TIT2/TPE1/APIC and their 2.2 forms.
bool readId3v2(const std::uint8_t* data, std::size_t size, TrackTags& tags);
// The metadata blocks of a FLAC file (after an ID3v2 tag, if any): VORBIS_COMMENT and PICTURE.
bool readFlacBlocks(const std::uint8_t* data, std::size_t size, TrackTags& tags);
// An MP4/M4A file's moov/udta/meta/ilst items: the name, the artist and the cover.
bool readMp4Items(const std::uint8_t* data, std::size_t size, TrackTags& tags);
// The name of the first track of a Standard MIDI File (or of one inside RIFF RMID).
bool readMidiName(const std::uint8_t* data, std::size_t size, TrackTags& tags);
// A Vorbis comment list (little-endian lengths, "KEY=value"), as FLAC, Vorbis and Opus keep it.
bool readVorbisComments(const std::uint8_t* data, std::size_t size, TrackTags& tags);

// Whatever the file's format carries, chosen by its content: the byte readers above, and the
// decoders' own for Ogg Vorbis, Opus and modules. May take a while on a slow drive: never on
// the user-interface thread, never on a render thread.
TrackTags readTrackTags(std::shared_ptr<const FileData> file);
// The same for a file by its 8-bit path (as FileData::open takes it), of which only the first
// tagScanLimit bytes are read: tags sit at the start, and a track may be huge.
TrackTags readTrackTags(const char* path);

// Text as tags give it, made fit for display: valid UTF-8 (Latin-1 where it is not), control
// characters dropped, cut at tagTextLimit.
std::string displayText(const char* text, std::size_t size);

} // namespace qvcore

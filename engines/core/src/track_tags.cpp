// A file's tags, by whichever reader its format needs.
#include <algorithm>

#include "qvcore/decoder.h"
#include "qvcore/tags.h"

namespace qvcore {

TrackTags readTrackTags(std::shared_ptr<const FileData> file) {
    TrackTags tags;
    if (!file)
        return tags;
    const std::size_t n = file->waitFor(0, std::min<std::size_t>(file->size(), tagScanLimit));
    const std::uint8_t* p = file->data();
    // FLAC first: its ID3v2 tag, if any, is only a prefix.
    if (readFlacBlocks(p, n, tags) || readId3v2(p, n, tags) || readMp4Items(p, n, tags) ||
        readMidiName(p, n, tags))
        return tags;
    const ProbeResult what = probe(p, n);
    if (what.kind == Kind::Vorbis || what.kind == Kind::Opus || what.kind == Kind::Module) {
        if (auto decoder = openDecoder(file, what)) {
            const std::string title = decoder->title(), artist = decoder->artist();
            tags.title = displayText(title.data(), title.size());
            tags.artist = displayText(artist.data(), artist.size());
        }
    }
    return tags;
}

} // namespace qvcore

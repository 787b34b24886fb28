// A file's tags, by whichever reader its format needs.
#include <algorithm>
#include <cstdio>
#include <vector>

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

TrackTags readTrackTags(const char* path) {
    std::FILE* file = openFile(path, "rb");
    if (!file)
        return {};
    // In steps, so that a small file costs a small buffer.
    constexpr std::size_t step = 1u << 20;
    std::vector<std::uint8_t> head;
    std::size_t got = 0;
    do {
        head.resize(std::min(head.size() + step, tagScanLimit));
        got += std::fread(head.data() + got, 1, head.size() - got, file);
    } while (got == head.size() && got < tagScanLimit);
    std::fclose(file);
    head.resize(got);
    return readTrackTags(FileData::fromBytes(head.data(), head.size()));
}

} // namespace qvcore

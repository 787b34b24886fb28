// The tag readers that parse bytes themselves, each handed the same bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "qvcore/tags.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of its own, so that a read one byte past the end is caught.
    const std::vector<uint8_t> bytes(data, data + size);
    qvcore::TrackTags tags;
    qvcore::readId3v2(bytes.data(), bytes.size(), tags);
    qvcore::readFlacBlocks(bytes.data(), bytes.size(), tags);
    qvcore::readMp4Items(bytes.data(), bytes.size(), tags);
    qvcore::readMidiName(bytes.data(), bytes.size(), tags);
    qvcore::readVorbisComments(bytes.data(), bytes.size(), tags);
    (void)qvcore::displayText(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return 0;
}

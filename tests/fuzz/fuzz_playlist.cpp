// Fuzz target for playlist files as bytes: the first byte picks the format and the playlist's
// folder, the rest is the file; every entry is then resolved against that folder.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "qvcore/playlist_text.h"

namespace {

// Windows-1252 stand-in: every byte is a character, as in most 8-bit code pages.
std::string latin1(std::string_view line) {
    std::string out;
    for (char c : line) {
        auto b = (unsigned char)c;
        if (b < 0x80) {
            out += c;
        } else {
            out += (char)(0xC0 | b >> 6);
            out += (char)(0x80 | (b & 0x3F));
        }
    }
    return out;
}

void check(bool holds) {
    if (!holds)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const qvcore::PlaylistFormat formats[] = {
        qvcore::PlaylistFormat::M3u, qvcore::PlaylistFormat::M3u8, qvcore::PlaylistFormat::Pls};
    const char* folders[] = {"C:\\Music\\Lists", "\\\\nas\\music\\lists", "\\\\nas", "C:"};
    const qvcore::PlaylistFormat format = formats[data[0] % 3];
    const char* folder = folders[data[0] / 3 % 4];
    std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    const qvcore::PlaylistEntries list = qvcore::parsePlaylist(bytes, format, 4096, latin1);
    for (const std::string& entry : list.entries) {
        check(!entry.empty() && entry.size() < 4096 * 4);
        check(entry.find_first_of("\r\n") == std::string::npos);
        const std::string path = qvcore::resolvePlaylistEntry(folder, entry);
        check(path.find('/') == std::string::npos);
    }
    return 0;
}

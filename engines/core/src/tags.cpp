// The tag readers that parse bytes themselves: ID3v2, FLAC metadata blocks, MP4 items, the MIDI
// track name and Vorbis comments.
#include "qvcore/tags.h"

#include <algorithm>
#include <cstring>

#include "internal.h"

namespace qvcore {
namespace {

using detail::be32;
using detail::le32;

// A bounded read cursor: every take checks what is left first.
struct Bytes {
    const std::uint8_t* p;
    std::size_t n;

    bool has(std::size_t k) const { return k <= n; }
    void skip(std::size_t k) {
        k = std::min(k, n);
        p += k;
        n -= k;
    }
};

std::size_t utf8Length(const std::uint8_t* p, std::size_t n) {
    const std::uint8_t c = p[0];
    std::size_t len = c < 0x80         ? 1
                      : (c >> 5) == 6  ? 2
                      : (c >> 4) == 14 ? 3
                      : (c >> 3) == 30 ? 4
                                       : 0;
    if (len == 0 || len > n)
        return 0;
    for (std::size_t i = 1; i < len; ++i)
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    std::uint32_t cp = len == 1 ? c : c & (0x7F >> len);
    for (std::size_t i = 1; i < len; ++i)
        cp = (cp << 6) | (p[i] & 0x3F);
    const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

bool validUtf8(const std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n;) {
        const std::size_t len = utf8Length(p + i, n - i);
        if (!len)
            return false;
        i += len;
    }
    return true;
}

void appendCodePoint(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string fromUtf16(const std::uint8_t* p, std::size_t n, bool bigEndian) {
    std::string out;
    for (std::size_t i = 0; i + 1 < n && out.size() < tagTextLimit * 2; i += 2) {
        auto unit = [&](std::size_t at) {
            return static_cast<std::uint32_t>(bigEndian ? (p[at] << 8) | p[at + 1]
                                                        : p[at] | (p[at + 1] << 8));
        };
        std::uint32_t cp = unit(i);
        if (cp == 0)
            break;
        if (cp >= 0xD800 && cp < 0xDC00 && i + 3 < n) {
            const std::uint32_t low = unit(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (cp >= 0xD800 && cp < 0xE000)
            cp = 0xFFFD; // a lone surrogate
        appendCodePoint(out, cp);
    }
    return out;
}

void setText(std::string& field, const std::string& text) {
    if (field.empty())
        field = displayText(text.data(), text.size());
}

void setPicture(TrackTags& tags, const std::uint8_t* p, std::size_t n, std::string type) {
    if (!tags.picture.empty() || n == 0 || n > tagPictureLimit)
        return;
    tags.picture.assign(p, p + n);
    tags.pictureType = displayText(type.data(), type.size());
}

// ---- ID3v2 ----

std::uint32_t synchsafe(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0] & 0x7F) << 21) | ((p[1] & 0x7F) << 14) |
           ((p[2] & 0x7F) << 7) | (p[3] & 0x7F);
}

// Undoes the unsynchronisation scheme: every FF 00 was written for FF.
std::vector<std::uint8_t> resynchronised(const std::uint8_t* p, std::size_t n) {
    std::vector<std::uint8_t> out;
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        out.push_back(p[i]);
        if (p[i] == 0xFF && i + 1 < n && p[i + 1] == 0)
            ++i;
    }
    return out;
}

// Text in one of ID3's four encodings, up to its terminator; `used` is how many bytes that took.
std::string id3Text(std::uint8_t encoding, const std::uint8_t* p, std::size_t n,
                    std::size_t* used = nullptr) {
    const bool wide = encoding == 1 || encoding == 2;
    std::size_t end = 0;
    if (wide) {
        while (end + 1 < n && (p[end] || p[end + 1]))
            end += 2;
    } else {
        while (end < n && p[end])
            ++end;
    }
    if (used)
        *used = std::min(n, end + (wide ? 2 : 1));
    switch (encoding) {
    case 1: {
        // A byte order mark first; without one, little-endian is what writers use.
        bool big = false;
        std::size_t at = 0;
        if (end >= 2 && p[0] == 0xFE && p[1] == 0xFF)
            big = true, at = 2;
        else if (end >= 2 && p[0] == 0xFF && p[1] == 0xFE)
            at = 2;
        return fromUtf16(p + at, end - at, big);
    }
    case 2: return fromUtf16(p, end, true);
    case 3: return std::string(reinterpret_cast<const char*>(p), end);
    default: {
        std::string out;
        for (std::size_t i = 0; i < end && out.size() < tagTextLimit * 2; ++i)
            appendCodePoint(out, p[i]);
        return out;
    }
    }
}

void id3Frame(const char* id, int version, const std::uint8_t* p, std::size_t n, TrackTags& tags) {
    if (n < 2)
        return;
    const bool v22 = version == 2;
    if (!std::strcmp(id, v22 ? "TT2" : "TIT2")) {
        setText(tags.title, id3Text(p[0], p + 1, n - 1));
    } else if (!std::strcmp(id, v22 ? "TP1" : "TPE1")) {
        setText(tags.artist, id3Text(p[0], p + 1, n - 1));
    } else if (!std::strcmp(id, v22 ? "PIC" : "APIC")) {
        const std::uint8_t encoding = p[0];
        Bytes b{p + 1, n - 1};
        std::string mime;
        if (v22) {
            if (!b.has(3))
                return;
            mime = !std::memcmp(b.p, "PNG", 3) ? "image/png" : "image/jpeg";
            b.skip(3);
        } else {
            std::size_t used = 0;
            mime = id3Text(0, b.p, b.n, &used);
            b.skip(used);
        }
        if (!b.has(1))
            return;
        b.skip(1); // the picture type: the first picture serves, whatever it shows
        std::size_t used = 0;
        id3Text(encoding, b.p, b.n, &used);
        b.skip(used);
        setPicture(tags, b.p, b.n, mime);
    }
}

} // namespace

std::string displayText(const char* text, std::size_t size) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(text);
    const std::size_t n = std::find(p, p + size, 0) - p;
    const bool utf8 = validUtf8(p, n);
    std::string out;
    for (std::size_t i = 0; i < n;) {
        std::size_t len = utf8 ? utf8Length(p + i, n - i) : 1;
        if (out.size() + (utf8 ? len : 2) > tagTextLimit)
            break;
        if (p[i] < 0x20 || p[i] == 0x7F) {
            if (!out.empty() && out.back() != ' ')
                out += ' '; // line breaks and tabs become one space
        } else if (utf8) {
            out.append(text + i, len);
        } else {
            appendCodePoint(out, p[i]);
        }
        i += len;
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

bool readId3v2(const std::uint8_t* data, std::size_t size, TrackTags& tags) {
    if (size < 10 || std::memcmp(data, "ID3", 3) || data[3] < 2 || data[3] > 4 ||
        ((data[6] | data[7] | data[8] | data[9]) & 0x80))
        return false;
    const int version = data[3];
    const std::uint8_t flags = data[5];
    std::size_t length = std::min<std::size_t>(synchsafe(data + 6), size - 10);
    if (version == 2 && (flags & 0x40))
        return true; // compressed, a scheme nobody defined
    std::vector<std::uint8_t> body;
    if ((flags & 0x80) && version < 4)
        body = resynchronised(data + 10, length);
    else
        body.assign(data + 10, data + 10 + length);
    Bytes b{body.data(), body.size()};
    if ((flags & 0x40) && b.has(4))
        b.skip(version == 3 ? be32(b.p) + 4 : synchsafe(b.p));

    const std::size_t headerSize = version == 2 ? 6 : 10;
    while (b.has(headerSize) && b.p[0] != 0) {
        char id[5] = {};
        std::memcpy(id, b.p, version == 2 ? 3 : 4);
        std::size_t frameSize = version == 2   ? (b.p[3] << 16) | (b.p[4] << 8) | b.p[5]
                                : version == 3 ? be32(b.p + 4)
                                               : synchsafe(b.p + 4);
        const std::uint8_t format = version == 2 ? 0 : b.p[9];
        b.skip(headerSize);
        if (!b.has(frameSize))
            break;
        Bytes frame{b.p, frameSize};
        b.skip(frameSize);
        bool unreadable = false;
        bool unsync = false;
        if (version == 3) {
            unreadable = format & 0xC0; // compressed or encrypted
            if (format & 0x20)
                frame.skip(1);
        } else if (version == 4) {
            unreadable = format & 0x0C;
            unsync = (format & 0x02) || (flags & 0x80);
            if (format & 0x40)
                frame.skip(1);
            if (format & 0x01)
                frame.skip(4);
        }
        if (unreadable)
            continue;
        if (unsync) {
            const auto plain = resynchronised(frame.p, frame.n);
            id3Frame(id, version, plain.data(), plain.size(), tags);
        } else {
            id3Frame(id, version, frame.p, frame.n, tags);
        }
    }
    return true;
}

// ---- Vorbis comments, FLAC ----

bool readVorbisComments(const std::uint8_t* data, std::size_t size, TrackTags& tags) {
    Bytes b{data, size};
    if (!b.has(4))
        return false;
    const std::uint32_t vendor = le32(b.p);
    b.skip(4);
    if (!b.has(vendor))
        return false;
    b.skip(vendor);
    if (!b.has(4))
        return false;
    std::uint32_t count = le32(b.p);
    b.skip(4);
    for (; count > 0 && b.has(4); --count) {
        const std::uint32_t length = le32(b.p);
        b.skip(4);
        if (!b.has(length))
            break;
        const char* entry = reinterpret_cast<const char*>(b.p);
        auto keyIs = [&](const char* key) {
            const std::size_t k = std::strlen(key);
            if (length <= k || entry[k] != '=')
                return false;
            for (std::size_t i = 0; i < k; ++i)
                if ((entry[i] & ~0x20) != key[i])
                    return false;
            return true;
        };
        if (keyIs("TITLE"))
            setText(tags.title, std::string(entry + 6, length - 6));
        else if (keyIs("ARTIST"))
            setText(tags.artist, std::string(entry + 7, length - 7));
        b.skip(length);
    }
    return true;
}

namespace {

void flacPicture(Bytes b, TrackTags& tags) {
    if (!b.has(8))
        return;
    b.skip(4); // picture type
    const std::uint32_t mimeLength = be32(b.p);
    b.skip(4);
    if (!b.has(mimeLength))
        return;
    std::string mime(reinterpret_cast<const char*>(b.p), mimeLength);
    b.skip(mimeLength);
    if (!b.has(4))
        return;
    const std::uint32_t descriptionLength = be32(b.p);
    b.skip(4);
    if (!b.has(descriptionLength))
        return;
    b.skip(descriptionLength);
    if (!b.has(20))
        return;
    b.skip(16); // width, height, depth, colours
    const std::uint32_t length = be32(b.p);
    b.skip(4);
    if (b.has(length))
        setPicture(tags, b.p, length, mime);
}

// How many bytes an ID3v2 tag at the start takes (0 for none).
std::size_t id3Size(const std::uint8_t* data, std::size_t size) {
    if (size < 10 || std::memcmp(data, "ID3", 3))
        return 0;
    return 10 + synchsafe(data + 6) + ((data[5] & 0x10) ? 10 : 0);
}

} // namespace

bool readFlacBlocks(const std::uint8_t* data, std::size_t size, TrackTags& tags) {
    Bytes b{data, size};
    b.skip(id3Size(data, size));
    if (!b.has(4) || std::memcmp(b.p, "fLaC", 4))
        return false;
    b.skip(4);
    bool last = false;
    while (!last && b.has(4)) {
        const std::uint8_t type = b.p[0] & 0x7F;
        last = b.p[0] & 0x80;
        const std::size_t length = (b.p[1] << 16) | (b.p[2] << 8) | b.p[3];
        b.skip(4);
        if (!b.has(length))
            break;
        if (type == 4)
            readVorbisComments(b.p, length, tags);
        else if (type == 6)
            flacPicture({b.p, length}, tags);
        b.skip(length);
    }
    return true;
}

// ---- MP4 ----

namespace {

struct Box {
    char type[5] = {};
    Bytes body{nullptr, 0};
};

// The next box of a run; false at the end or at a box that does not fit.
bool nextBox(Bytes& run, Box& box) {
    if (!run.has(8))
        return false;
    std::uint64_t size = be32(run.p);
    std::memcpy(box.type, run.p + 4, 4);
    std::size_t header = 8;
    if (size == 1) {
        if (!run.has(16))
            return false;
        size = (static_cast<std::uint64_t>(be32(run.p + 8)) << 32) | be32(run.p + 12);
        header = 16;
    } else if (size == 0) {
        size = run.n;
    }
    if (size < header || size > run.n)
        return false;
    box.body = {run.p + header, static_cast<std::size_t>(size) - header};
    run.skip(static_cast<std::size_t>(size));
    return true;
}

bool findBox(Bytes run, const char* type, Bytes& body) {
    Box box;
    while (nextBox(run, box))
        if (!std::memcmp(box.type, type, 4)) {
            body = box.body;
            return true;
        }
    return false;
}

void mp4Item(const Box& item, TrackTags& tags) {
    Bytes data;
    if (!findBox(item.body, "data", data) || !data.has(8))
        return;
    const std::uint32_t kind = be32(data.p) & 0xFFFFFF;
    data.skip(8); // type indicator, locale
    const std::string text(reinterpret_cast<const char*>(data.p), data.n);
    if (!std::memcmp(item.type, "\xA9nam", 4))
        setText(tags.title, text);
    else if (!std::memcmp(item.type,
                          "\xA9"
                          "ART",
                          4))
        setText(tags.artist, text);
    else if (!std::memcmp(item.type, "covr", 4))
        setPicture(tags, data.p, data.n, kind == 14 ? "image/png" : "image/jpeg");
}

} // namespace

bool readMp4Items(const std::uint8_t* data, std::size_t size, TrackTags& tags) {
    if (size < 8 || std::memcmp(data + 4, "ftyp", 4))
        return false;
    Bytes moov, udta, meta, ilst;
    if (!findBox({data, size}, "moov", moov) || !findBox(moov, "udta", udta) ||
        !findBox(udta, "meta", meta))
        return true;
    // The ISO form of meta is a full box (four bytes of version and flags); QuickTime's is not.
    if (meta.has(8) && std::memcmp(meta.p + 4, "hdlr", 4))
        meta.skip(4);
    if (!findBox(meta, "ilst", ilst))
        return true;
    Box item;
    while (nextBox(ilst, item))
        mp4Item(item, tags);
    return true;
}

// ---- MIDI ----

namespace {

bool readVarLength(Bytes& b, std::uint32_t& value) {
    value = 0;
    for (int i = 0; i < 4; ++i) {
        if (!b.has(1))
            return false;
        const std::uint8_t c = b.p[0];
        b.skip(1);
        value = (value << 7) | (c & 0x7F);
        if (!(c & 0x80))
            return true;
    }
    return false;
}

} // namespace

bool readMidiName(const std::uint8_t* data, std::size_t size, TrackTags& tags) {
    Bytes b{data, size};
    if (b.has(20) && !std::memcmp(b.p, "RIFF", 4) && !std::memcmp(b.p + 8, "RMID", 4)) {
        b.skip(12);
        Bytes chunk;
        bool found = false;
        while (!found && b.has(8)) {
            const std::uint32_t length = le32(b.p + 4);
            found = !std::memcmp(b.p, "data", 4);
            chunk = {b.p + 8, std::min<std::size_t>(length, b.n - 8)};
            b.skip(8 + static_cast<std::size_t>(length) + (length & 1));
        }
        if (!found)
            return false;
        b = chunk;
    }
    if (!b.has(14) || std::memcmp(b.p, "MThd", 4))
        return false;
    b.skip(8 + static_cast<std::size_t>(be32(b.p + 4)));
    // The first track: in a format 1 file the tempo track, whose name is the song's.
    while (b.has(8) && std::memcmp(b.p, "MTrk", 4))
        b.skip(8 + static_cast<std::size_t>(be32(b.p + 4)));
    if (!b.has(8))
        return true;
    Bytes track{b.p + 8, std::min<std::size_t>(be32(b.p + 4), b.n - 8)};
    std::uint8_t running = 0;
    std::uint32_t delta = 0;
    while (readVarLength(track, delta) && track.has(1)) {
        std::uint8_t status = track.p[0];
        if (status & 0x80)
            track.skip(1);
        else if (running)
            status = running;
        else
            break;
        std::uint32_t length = 0;
        if (status == 0xFF) {
            if (!track.has(1))
                break;
            const std::uint8_t type = track.p[0];
            track.skip(1);
            if (!readVarLength(track, length) || !track.has(length))
                break;
            if (type == 0x03) {
                setText(tags.title, std::string(reinterpret_cast<const char*>(track.p), length));
                break;
            }
            if (type == 0x2F)
                break;
        } else if (status == 0xF0 || status == 0xF7) {
            if (!readVarLength(track, length))
                break;
        } else if (status >= 0x80 && status < 0xF0) {
            running = status;
            length = (status & 0xE0) == 0xC0 ? 1 : 2;
        } else {
            break;
        }
        track.skip(length);
    }
    return true;
}

} // namespace qvcore

// The tag readers: each format's title, artist and cover, and what becomes of tags that are
// huge, cut short or in a broken encoding.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "qvcore/tags.h"
#include "tests/support/bytes.h"

namespace {

using testsupport::Bytes;
using namespace std::string_literals;

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}
Bytes be32(std::uint32_t v) {
    return {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)};
}
Bytes le32(std::uint32_t v) {
    return {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
}
Bytes synchsafe(std::uint32_t v) {
    return {std::uint8_t((v >> 21) & 0x7F), std::uint8_t((v >> 14) & 0x7F),
            std::uint8_t((v >> 7) & 0x7F), std::uint8_t(v & 0x7F)};
}

Bytes id3(int version, const Bytes& frames, std::uint8_t flags = 0) {
    return text("ID3") + Bytes{std::uint8_t(version), 0, flags} + synchsafe(frames.size()) + frames;
}
Bytes id3Frame(int version, const std::string& id, const Bytes& body, std::uint8_t format = 0) {
    if (version == 2)
        return text(id) + Bytes{0, std::uint8_t(body.size() >> 8), std::uint8_t(body.size())} +
               body;
    return text(id) + (version == 3 ? be32(body.size()) : synchsafe(body.size())) +
           Bytes{0, format} + body;
}
Bytes box(const std::string& type, const Bytes& body) {
    return be32(body.size() + 8) + text(type) + body;
}
Bytes vorbisComments(const std::vector<std::string>& entries) {
    Bytes b = le32(4) + text("test") + le32(entries.size());
    for (const auto& e : entries)
        b = b + le32(e.size()) + text(e);
    return b;
}
Bytes flacBlock(std::uint8_t type, const Bytes& body) {
    return Bytes{type, std::uint8_t(body.size() >> 16), std::uint8_t(body.size() >> 8),
                 std::uint8_t(body.size())} +
           body;
}
Bytes flacPicture(const std::string& mime, const Bytes& data) {
    return be32(3) + be32(mime.size()) + text(mime) + be32(0) + Bytes(16, 0) + be32(data.size()) +
           data;
}

const Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0xFF, 0x00, 0xD9};

TEST(CoreTags, EachFormatGivesTitleArtistAndCover) {
    const Bytes utf16Title = {1, 0xFF, 0xFE, 'C', 0, 0xE9, 0, 0x3D, 0xD8, 0x35, 0xDE, 0, 0};
    const Bytes mp4Meta = box(
        "moov",
        box("udta",
            box("meta",
                Bytes(4, 0) + box("hdlr", Bytes(25, 0)) +
                    box("ilst", box("\xA9nam", box("data", be32(1) + le32(0) + text("M4A title"))) +
                                    box("\xA9"
                                        "ART",
                                        box("data", be32(1) + le32(0) + text("M4A artist"))) +
                                    box("covr", box("data", be32(13) + le32(0) + jpeg))))));
    const struct {
        const char* name;
        Bytes bytes;
        std::string title, artist;
        bool cover;
    } rows[] = {
        {"ID3v2.3, UTF-16 with BOM and a surrogate pair",
         id3(3, id3Frame(3, "TIT2", utf16Title) + id3Frame(3, "TPE1", Bytes{0} + text("Art\xE9")) +
                    id3Frame(3, "APIC",
                             Bytes{0} + text("image/jpeg") + Bytes{0, 3} + text("desc") + Bytes{0} +
                                 jpeg)) +
             Bytes(64, 0xFF),
         "C\xC3\xA9\xF0\x9F\x98\xB5", "Art\xC3\xA9", true},
        {"ID3v2.4, UTF-8, an unsynchronised picture behind a length indicator",
         id3(4, id3Frame(4, "TIT2", Bytes{3} + text("Title 4")) +
                    id3Frame(4, "TPE1", Bytes{2, 0, 'B', 0, 'E'}) +
                    id3Frame(
                        4, "APIC",
                        be32(0) + Bytes{3} + text("image/png") + Bytes{0, 0, 0} +
                            Bytes{0xFF, 0x00, 0xD8, 0xFF, 0x00, 0xE0, 0x00, 0xFF, 0x00, 0x00, 0xD9},
                        0x03)),
         "Title 4", "BE", true},
        {"ID3v2.2",
         id3(2, id3Frame(2, "TT2", Bytes{0} + text("Old")) +
                    id3Frame(2, "TP1", Bytes{0} + text("Form")) +
                    id3Frame(2, "PIC", Bytes{0} + text("JPG") + Bytes{3, 0} + jpeg)),
         "Old", "Form", true},
        {"ID3v2.3, compressed and encrypted frames skipped",
         id3(3, id3Frame(3, "TIT2", Bytes{0} + text("zz"), 0x80) +
                    id3Frame(3, "TIT2", Bytes{0} + text("plain"))),
         "plain", "", false},
        {"FLAC after an ID3v2 tag, lower-case keys",
         id3(3, {}) + text("fLaC") + flacBlock(0, Bytes(34, 0)) +
             flacBlock(4, vorbisComments({"title=Flac title", "Artist=Flac artist", "X=y"})) +
             flacBlock(0x86, flacPicture("image/jpeg", jpeg)),
         "Flac title", "Flac artist", true},
        {"MP4 items", box("ftyp", text("M4A ")) + mp4Meta, "M4A title", "M4A artist", true},
        {"MIDI: the name after a running-status note",
         text("MThd") + be32(6) + Bytes{0, 0, 0, 1, 0, 96} + text("MTrk") + be32(16) +
             Bytes{0, 0x90, 60, 100, 0, 62, 100, 0, 0xFF, 3, 4} + text("Song") + Bytes{0},
         "Song", "", false},
    };
    for (const auto& row : rows) {
        auto tags =
            qvcore::readTrackTags(qvcore::FileData::fromBytes(row.bytes.data(), row.bytes.size()));
        EXPECT_EQ(tags.title, row.title) << row.name;
        EXPECT_EQ(tags.artist, row.artist) << row.name;
        EXPECT_EQ(tags.picture == jpeg, row.cover) << row.name;
    }
}

TEST(CoreTags, HugeBrokenOrCutTagsAreCutOrIgnored) {
    // A 1 MB title is cut on a character boundary; a 20 MB picture is dropped.
    std::string longTitle = "\xC3\xA9"s;
    while (longTitle.size() < 1024 * 1024)
        longTitle += "\xE2\x82\xAC";
    const Bytes bigPicture(20 * 1024 * 1024, 0xAB);
    const Bytes flac = text("fLaC") +
                       flacBlock(4, vorbisComments({"TITLE=" + longTitle, "ARTIST=a\r\n\tb\x01"})) +
                       flacBlock(0x86, flacPicture("image/png", bigPicture));
    qvcore::TrackTags tags;
    ASSERT_TRUE(qvcore::readFlacBlocks(flac.data(), flac.size(), tags));
    EXPECT_LE(tags.title.size(), qvcore::tagTextLimit);
    EXPECT_GT(tags.title.size(), qvcore::tagTextLimit - 3);
    EXPECT_EQ(qvcore::displayText(tags.title.data(), tags.title.size()), tags.title);
    EXPECT_EQ(tags.artist, "a b");
    EXPECT_TRUE(tags.picture.empty());
    // The same by path, read in steps; a missing file has no tags.
    const auto path = std::filesystem::temp_directory_path() / "qvcore-tags-test.flac";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(flac.data()), (std::streamsize)flac.size());
    EXPECT_EQ(qvcore::readTrackTags(path.c_str()).title, tags.title);
    std::filesystem::remove(path);
    EXPECT_TRUE(qvcore::readTrackTags(path.c_str()).empty());

    // Not UTF-8 though it says so: read as Latin-1.
    EXPECT_EQ(qvcore::displayText("caf\xE9 \xFF", 6), "caf\xC3\xA9 \xC3\xBF");

    // Every cut of a tag of each kind reads without reading past its end (the sanitizers watch).
    const Bytes whole[] = {
        id3(4, id3Frame(4, "TIT2", Bytes{1, 0xFF, 0xFE, 'a', 0}) +
                   id3Frame(4, "APIC", Bytes{0} + text("m") + Bytes{0, 3, 0} + jpeg, 0x41)),
        text("fLaC") + flacBlock(4, vorbisComments({"TITLE=x"})) +
            flacBlock(0x86, flacPicture("m", jpeg)),
        box("ftyp", {}) +
            box("moov",
                box("udta",
                    box("meta",
                        Bytes(4, 0) + box("ilst", box("covr", box("data", Bytes(8, 0) + jpeg)))))),
        text("RIFF") + le32(40) + text("RMIDdata") + le32(28) + text("MThd") + be32(6) +
            Bytes{0, 0, 0, 1, 0, 96} + text("MTrk") + be32(6) + Bytes{0, 0xFF, 3, 2, 'o', 'k'},
    };
    for (const auto& bytes : whole) {
        for (std::size_t n = 0; n <= bytes.size(); ++n) {
            Bytes cut(bytes.begin(), bytes.begin() + n); // its own allocation: exact bounds
            qvcore::TrackTags t;
            qvcore::readId3v2(cut.data(), cut.size(), t);
            qvcore::readFlacBlocks(cut.data(), cut.size(), t);
            qvcore::readMp4Items(cut.data(), cut.size(), t);
            qvcore::readMidiName(cut.data(), cut.size(), t);
        }
        qvcore::TrackTags t;
        auto file = qvcore::FileData::fromBytes(bytes.data(), bytes.size());
        t = qvcore::readTrackTags(file);
        EXPECT_FALSE(t.empty());
    }
}

} // namespace

#include "midi_writers.h"

#include <math.h>
#include <string.h>

namespace midiwrite {
namespace {

void be32(Bytes& b, uint32_t v) {
    for (int i = 3; i >= 0; --i)
        b.push_back((uint8_t)(v >> (8 * i)));
}
void be16(Bytes& b, uint16_t v) {
    b.push_back((uint8_t)(v >> 8));
    b.push_back((uint8_t)v);
}
void le32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back((uint8_t)(v >> (8 * i)));
}
void le16(Bytes& b, uint16_t v) {
    b.push_back((uint8_t)v);
    b.push_back((uint8_t)(v >> 8));
}
void varLength(Bytes& b, uint32_t v) {
    uint8_t tmp[5];
    int n = 0;
    do {
        tmp[n++] = v & 0x7F;
        v >>= 7;
    } while (v);
    while (n--)
        b.push_back(tmp[n] | (n ? 0x80 : 0));
}
void fourcc(Bytes& b, const char* id) {
    b.insert(b.end(), id, id + 4);
}
void name(Bytes& b, const char* text, size_t width) {
    size_t n = strlen(text);
    for (size_t i = 0; i < width; ++i)
        b.push_back(i < n ? (uint8_t)text[i] : 0);
}

Bytes chunk(const char* id, const Bytes& body) {
    Bytes b;
    fourcc(b, id);
    le32(b, (uint32_t)body.size());
    b.insert(b.end(), body.begin(), body.end());
    if (body.size() & 1)
        b.push_back(0);
    return b;
}

Bytes list(const char* type, const std::vector<Bytes>& parts, const char* id = "LIST") {
    Bytes body;
    fourcc(body, type);
    for (const Bytes& p : parts)
        body.insert(body.end(), p.begin(), p.end());
    return chunk(id, body);
}

std::vector<int16_t> sine(const SineSample& s) {
    size_t frames = (size_t)llround(s.cycles * s.rate / s.frequency);
    std::vector<int16_t> pcm(frames);
    for (size_t i = 0; i < frames; ++i)
        pcm[i] = (int16_t)lround(20000 * sin(2 * M_PI * s.frequency * i / s.rate));
    return pcm;
}

} // namespace

Bytes smf(int format, uint16_t division, const std::vector<Track>& tracks) {
    Bytes b;
    fourcc(b, "MThd");
    be32(b, 6);
    be16(b, (uint16_t)format);
    be16(b, (uint16_t)tracks.size());
    be16(b, division);
    for (const Track& t : tracks) {
        Bytes body;
        for (const auto& [delta, bytes] : t.events) {
            varLength(body, delta);
            body.insert(body.end(), bytes.begin(), bytes.end());
        }
        if (t.endMarker)
            body.insert(body.end(), {0x00, 0xFF, 0x2F, 0x00});
        fourcc(b, "MTrk");
        be32(b, (uint32_t)body.size());
        b.insert(b.end(), body.begin(), body.end());
    }
    return b;
}

Bytes rmid(const Bytes& smfBytes) {
    Bytes body;
    fourcc(body, "RMID");
    Bytes data = chunk("data", smfBytes);
    body.insert(body.end(), data.begin(), data.end());
    return chunk("RIFF", body);
}

Bytes tempo(uint32_t us) {
    return {0xFF, 0x51, 0x03, (uint8_t)(us >> 16), (uint8_t)(us >> 8), (uint8_t)us};
}

Bytes timeSignature(uint8_t numerator, uint8_t power) {
    return {0xFF, 0x58, 0x04, numerator, power, 24, 8};
}

Bytes soundFont(const std::vector<SineSample>& samples, const std::vector<BankPreset>& presets) {
    Bytes smpl;
    Bytes shdr;
    uint32_t at = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        std::vector<int16_t> pcm = sine(samples[i]);
        for (int16_t v : pcm)
            le16(smpl, (uint16_t)v);
        for (int k = 0; k < 46; ++k)
            le16(smpl, 0); // the format's required silence after each sample
        name(shdr, ("sine" + std::to_string(i)).c_str(), 20);
        le32(shdr, at);
        le32(shdr, at + (uint32_t)pcm.size());
        le32(shdr, at);
        le32(shdr, at + (uint32_t)pcm.size());
        le32(shdr, samples[i].rate);
        shdr.push_back(samples[i].rootKey);
        shdr.push_back(0);
        le16(shdr, 0);
        le16(shdr, 1); // mono
        at += (uint32_t)pcm.size() + 46;
    }
    name(shdr, "EOS", 20);
    shdr.insert(shdr.end(), 26, 0);

    // One instrument per sample, one zone each: the sample, looped.
    Bytes inst, ibag, igen;
    for (size_t i = 0; i < samples.size(); ++i) {
        name(inst, ("inst" + std::to_string(i)).c_str(), 20);
        le16(inst, (uint16_t)i);
        le16(ibag, (uint16_t)(igen.size() / 4));
        le16(ibag, 0);
        le16(igen, 54); // sampleModes: loop
        le16(igen, 1);
        le16(igen, 53); // sampleID
        le16(igen, (uint16_t)i);
    }
    name(inst, "EOI", 20);
    le16(inst, (uint16_t)samples.size());
    le16(ibag, (uint16_t)(igen.size() / 4));
    le16(ibag, 0);
    igen.insert(igen.end(), 4, 0);

    Bytes phdr, pbag, pgen;
    for (size_t i = 0; i < presets.size(); ++i) {
        name(phdr, ("preset" + std::to_string(i)).c_str(), 20);
        le16(phdr, presets[i].program);
        le16(phdr, presets[i].bank);
        le16(phdr, (uint16_t)i);
        phdr.insert(phdr.end(), 12, 0);
        le16(pbag, (uint16_t)(pgen.size() / 4));
        le16(pbag, 0);
        le16(pgen, 41); // instrument
        le16(pgen, (uint16_t)presets[i].sample);
    }
    name(phdr, "EOP", 20);
    phdr.insert(phdr.end(), 4, 0);
    le16(phdr, (uint16_t)presets.size());
    phdr.insert(phdr.end(), 12, 0);
    le16(pbag, (uint16_t)(pgen.size() / 4));
    le16(pbag, 0);
    pgen.insert(pgen.end(), 4, 0);
    Bytes mod(10, 0);

    Bytes ifil;
    le16(ifil, 2);
    le16(ifil, 1);
    Bytes info = list("INFO", {chunk("ifil", ifil), chunk("INAM", Bytes{'t', 0})});
    Bytes sdta = list("sdta", {chunk("smpl", smpl)});
    Bytes pdta = list("pdta", {chunk("phdr", phdr), chunk("pbag", pbag), chunk("pmod", mod),
                               chunk("pgen", pgen), chunk("inst", inst), chunk("ibag", ibag),
                               chunk("imod", mod), chunk("igen", igen), chunk("shdr", shdr)});
    return list("sfbk", {info, sdta, pdta}, "RIFF");
}

Bytes dls(const std::vector<SineSample>& samples, const std::vector<BankPreset>& presets) {
    std::vector<Bytes> waves;
    for (const SineSample& s : samples) {
        std::vector<int16_t> pcm = sine(s);
        Bytes fmt;
        le16(fmt, 1);
        le16(fmt, 1);
        le32(fmt, s.rate);
        le32(fmt, s.rate * 2);
        le16(fmt, 2);
        le16(fmt, 16);
        Bytes data;
        for (int16_t v : pcm)
            le16(data, (uint16_t)v);
        Bytes wsmp;
        le32(wsmp, 20);
        le16(wsmp, s.rootKey);
        le16(wsmp, 0);
        le32(wsmp, 0);
        le32(wsmp, 0);
        le32(wsmp, 1); // one loop over the whole wave
        le32(wsmp, 16);
        le32(wsmp, 0);
        le32(wsmp, 0);
        le32(wsmp, (uint32_t)pcm.size());
        waves.push_back(
            list("wave", {chunk("fmt ", fmt), chunk("wsmp", wsmp), chunk("data", data)}));
    }
    Bytes ptbl;
    le32(ptbl, 8);
    le32(ptbl, (uint32_t)waves.size());
    uint32_t offset = 0;
    for (const Bytes& w : waves) {
        le32(ptbl, offset);
        offset += (uint32_t)w.size();
    }
    std::vector<Bytes> instruments;
    for (const BankPreset& p : presets) {
        Bytes insh;
        le32(insh, 1);
        le32(insh, p.bank == 128 ? 0x80000000u : (uint32_t)p.bank << 8);
        le32(insh, p.program);
        Bytes rgnh;
        le16(rgnh, 0);
        le16(rgnh, 127);
        le16(rgnh, 0);
        le16(rgnh, 127);
        le16(rgnh, 0);
        le16(rgnh, 0);
        Bytes wlnk;
        le16(wlnk, 0);
        le16(wlnk, 0);
        le32(wlnk, 1);
        le32(wlnk, (uint32_t)p.sample);
        // A short release so notes end cleanly: release time of about 0.1 s in time cents.
        Bytes art;
        le32(art, 8);
        le32(art, 1);
        le16(art, 0);
        le16(art, 0);
        le16(art, 0x0209);
        le16(art, 0);
        le32(art, (uint32_t)(int32_t)(-3986 * 65536));
        Bytes region = list(
            "rgn ", {chunk("rgnh", rgnh), chunk("wlnk", wlnk), list("lart", {chunk("art1", art)})});
        instruments.push_back(list("ins ", {chunk("insh", insh), list("lrgn", {region})}));
    }
    Bytes colh;
    le32(colh, (uint32_t)presets.size());
    return list(
        "DLS ",
        {chunk("colh", colh), list("lins", instruments), chunk("ptbl", ptbl), list("wvpl", waves)},
        "RIFF");
}

} // namespace midiwrite

// opusfile: build an Ogg Opus stream in memory with libopus and libogg, and
// check that op_open_memory honours pre-skip and end trimming; refuse garbage.
#include "check.h"

#include <ogg/ogg.h>
#include <opus.h>
#include <opusfile.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr int kFrame = 960, kPackets = 10, kWanted = 9000; // trims 600 off the end

void put16(unsigned char* p, unsigned v) {
    p[0] = v & 0xff;
    p[1] = (v >> 8) & 0xff;
}
void put32(unsigned char* p, unsigned v) {
    put16(p, v & 0xffff);
    put16(p + 2, v >> 16);
}

void flushPages(ogg_stream_state& os, std::vector<unsigned char>& out, bool force) {
    ogg_page page;
    while (force ? ogg_stream_flush(&os, &page) : ogg_stream_pageout(&os, &page)) {
        out.insert(out.end(), page.header, page.header + page.header_len);
        out.insert(out.end(), page.body, page.body + page.body_len);
    }
}

bool makeOggOpus(std::vector<unsigned char>& out) {
    int err = 0;
    OpusEncoder* enc = opus_encoder_create(48000, 2, OPUS_APPLICATION_AUDIO, &err);
    if (err != OPUS_OK)
        return false;
    opus_int32 preskip = 0;
    opus_encoder_ctl(enc, OPUS_GET_LOOKAHEAD(&preskip));

    ogg_stream_state os;
    ogg_stream_init(&os, 42);
    unsigned char head[19] = {'O', 'p', 'u', 's', 'H', 'e', 'a', 'd', 1, 2};
    put16(head + 10, static_cast<unsigned>(preskip));
    put32(head + 12, 48000); // gain and mapping family stay 0
    ogg_packet pkt{};
    pkt.packet = head;
    pkt.bytes = sizeof head;
    pkt.b_o_s = 1;
    ogg_stream_packetin(&os, &pkt);
    flushPages(os, out, true);

    unsigned char tags[8 + 4 + 2 + 4] = {'O', 'p', 'u', 's', 'T', 'a', 'g', 's'};
    put32(tags + 8, 2);
    tags[12] = 'l';
    tags[13] = 'c';
    put32(tags + 14, 0);
    pkt = ogg_packet{};
    pkt.packet = tags;
    pkt.bytes = sizeof tags;
    pkt.packetno = 1;
    ogg_stream_packetin(&os, &pkt);
    flushPages(os, out, true);

    std::vector<float> pcm(kFrame * 2);
    for (int n = 0; n < kPackets; ++n) {
        for (int i = 0; i < kFrame; ++i)
            pcm[2 * i] = pcm[2 * i + 1] =
                0.3f * static_cast<float>(std::sin(0.05 * (n * kFrame + i)));
        unsigned char data[1500];
        opus_int32 len = opus_encode_float(enc, pcm.data(), kFrame, data, sizeof data);
        if (len <= 0)
            return false;
        bool last = n == kPackets - 1;
        pkt = ogg_packet{};
        pkt.packet = data;
        pkt.bytes = len;
        pkt.e_o_s = last;
        pkt.granulepos = preskip + (last ? kWanted : (n + 1) * kFrame);
        pkt.packetno = 2 + n;
        ogg_stream_packetin(&os, &pkt);
        flushPages(os, out, last);
    }
    ogg_stream_clear(&os);
    opus_encoder_destroy(enc);
    return true;
}

} // namespace

int main() {
    std::vector<unsigned char> file;
    CHECK(makeOggOpus(file));
    CHECK(op_test(nullptr, file.data(), file.size()) == 0);

    int err = 0;
    OggOpusFile* of = op_open_memory(file.data(), file.size(), &err);
    CHECK(of != nullptr && err == 0);
    CHECK(op_channel_count(of, -1) == 2);
    CHECK(op_pcm_total(of, -1) == kWanted);
    float buf[2 * 5760];
    long frames = 0;
    for (;;) {
        int n = op_read_float(of, buf, sizeof buf / sizeof buf[0], nullptr);
        CHECK(n >= 0);
        if (n == 0)
            break;
        frames += n;
    }
    CHECK(frames == kWanted);
    op_free(of);

    std::vector<unsigned char> junk(4096);
    for (size_t i = 0; i < junk.size(); ++i)
        junk[i] = static_cast<unsigned char>(i * 31 + 7);
    CHECK(op_test(nullptr, junk.data(), junk.size()) == OP_ENOTFORMAT);
    CHECK(op_open_memory(junk.data(), junk.size(), &err) == nullptr);
    CHECK(err < 0);
    return 0;
}

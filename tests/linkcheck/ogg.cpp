// libogg: packets go into pages and come back out unchanged.
#include "check.h"

#include <ogg/ogg.h>

#include <cstring>
#include <vector>

int main() {
    ogg_stream_state out;
    CHECK(ogg_stream_init(&out, 1234) == 0);

    unsigned char payload[3][100];
    for (int p = 0; p < 3; ++p)
        for (int i = 0; i < 100; ++i)
            payload[p][i] = static_cast<unsigned char>(p * 7 + i);

    for (int p = 0; p < 3; ++p) {
        ogg_packet pkt{};
        pkt.packet = payload[p];
        pkt.bytes = sizeof payload[p];
        pkt.b_o_s = p == 0;
        pkt.e_o_s = p == 2;
        pkt.granulepos = p;
        pkt.packetno = p;
        CHECK(ogg_stream_packetin(&out, &pkt) == 0);
    }
    std::vector<unsigned char> file;
    ogg_page page;
    while (ogg_stream_flush(&out, &page) != 0) {
        file.insert(file.end(), page.header, page.header + page.header_len);
        file.insert(file.end(), page.body, page.body + page.body_len);
    }
    ogg_stream_clear(&out);
    CHECK(!file.empty());

    ogg_sync_state sync;
    ogg_sync_init(&sync);
    char* buf = ogg_sync_buffer(&sync, static_cast<long>(file.size()));
    std::memcpy(buf, file.data(), file.size());
    CHECK(ogg_sync_wrote(&sync, static_cast<long>(file.size())) == 0);

    ogg_stream_state in;
    CHECK(ogg_stream_init(&in, 1234) == 0);
    int got = 0;
    while (ogg_sync_pageout(&sync, &page) == 1) {
        CHECK(ogg_page_serialno(&page) == 1234);
        CHECK(ogg_stream_pagein(&in, &page) == 0);
        ogg_packet pkt;
        while (ogg_stream_packetout(&in, &pkt) == 1) {
            CHECK(got < 3);
            CHECK(pkt.bytes == 100);
            CHECK(std::memcmp(pkt.packet, payload[got], 100) == 0);
            ++got;
        }
    }
    CHECK(got == 3);
    ogg_stream_clear(&in);
    ogg_sync_clear(&sync);
    return 0;
}

// libvorbisenc + libvorbis + libvorbisfile: encode a tone into memory, then
// open it through ov_open_callbacks and get back exactly as many frames.
#include "check.h"

#include <vorbis/codec.h>
#include <vorbis/vorbisenc.h>
// The header otherwise defines unused static callback tables.
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kRate = 44100;
constexpr long kFrames = kRate / 4;

struct Memory {
    const std::vector<unsigned char>* data;
    size_t pos;
};

size_t memRead(void* dst, size_t size, size_t count, void* src) {
    auto* m = static_cast<Memory*>(src);
    size_t n = size * count;
    size_t left = m->data->size() - m->pos;
    if (n > left)
        n = left;
    std::memcpy(dst, m->data->data() + m->pos, n);
    m->pos += n;
    return size ? n / size : 0;
}

int memSeek(void* src, ogg_int64_t off, int whence) {
    auto* m = static_cast<Memory*>(src);
    ogg_int64_t base = whence == SEEK_SET   ? 0
                       : whence == SEEK_CUR ? static_cast<ogg_int64_t>(m->pos)
                                            : static_cast<ogg_int64_t>(m->data->size());
    ogg_int64_t to = base + off;
    if (to < 0 || to > static_cast<ogg_int64_t>(m->data->size()))
        return -1;
    m->pos = static_cast<size_t>(to);
    return 0;
}

long memTell(void* src) {
    return static_cast<long>(static_cast<Memory*>(src)->pos);
}

void appendPage(std::vector<unsigned char>& out, const ogg_page& page) {
    out.insert(out.end(), page.header, page.header + page.header_len);
    out.insert(out.end(), page.body, page.body + page.body_len);
}

bool encodeTone(std::vector<unsigned char>& out) {
    vorbis_info vi;
    vorbis_info_init(&vi);
    if (vorbis_encode_init_vbr(&vi, 2, kRate, 0.3f) != 0)
        return false;
    vorbis_comment vc;
    vorbis_comment_init(&vc);
    vorbis_dsp_state vd;
    vorbis_block vb;
    vorbis_analysis_init(&vd, &vi);
    vorbis_block_init(&vd, &vb);
    ogg_stream_state os;
    ogg_stream_init(&os, 7);

    ogg_packet hdr, comm, code;
    vorbis_analysis_headerout(&vd, &vc, &hdr, &comm, &code);
    ogg_stream_packetin(&os, &hdr);
    ogg_stream_packetin(&os, &comm);
    ogg_stream_packetin(&os, &code);
    ogg_page page;
    while (ogg_stream_flush(&os, &page) != 0)
        appendPage(out, page);

    long done = 0;
    bool eos = false;
    while (!eos) {
        long n = done < kFrames ? std::min(1024L, kFrames - done) : 0;
        if (n > 0) {
            float** buf = vorbis_analysis_buffer(&vd, static_cast<int>(n));
            for (long i = 0; i < n; ++i) {
                float s = 0.5f * static_cast<float>(std::sin(2 * kPi * 440 * (done + i) / kRate));
                buf[0][i] = s;
                buf[1][i] = -s;
            }
            done += n;
        }
        vorbis_analysis_wrote(&vd, static_cast<int>(n));
        while (vorbis_analysis_blockout(&vd, &vb) == 1) {
            vorbis_analysis(&vb, nullptr);
            vorbis_bitrate_addblock(&vb);
            ogg_packet pkt;
            while (vorbis_bitrate_flushpacket(&vd, &pkt) == 1) {
                ogg_stream_packetin(&os, &pkt);
                while (ogg_stream_pageout(&os, &page) != 0) {
                    appendPage(out, page);
                    eos = ogg_page_eos(&page) != 0;
                }
            }
        }
    }
    ogg_stream_clear(&os);
    vorbis_block_clear(&vb);
    vorbis_dsp_clear(&vd);
    vorbis_comment_clear(&vc);
    vorbis_info_clear(&vi);
    return true;
}

} // namespace

int main() {
    std::vector<unsigned char> file;
    CHECK(encodeTone(file));
    CHECK(file.size() > 1000);

    Memory mem{&file, 0};
    ov_callbacks cb{memRead, memSeek, nullptr, memTell};
    OggVorbis_File vf;
    CHECK(ov_open_callbacks(&mem, &vf, nullptr, 0, cb) == 0);
    CHECK(ov_info(&vf, -1)->channels == 2);
    CHECK(ov_info(&vf, -1)->rate == kRate);
    CHECK(ov_pcm_total(&vf, -1) == kFrames);

    long frames = 0;
    double sumsq = 0;
    for (;;) {
        float** pcm;
        int section;
        long n = ov_read_float(&vf, &pcm, 512, &section);
        CHECK(n >= 0);
        if (n == 0)
            break;
        for (long i = 0; i < n; ++i)
            sumsq += pcm[0][i] * pcm[0][i];
        frames += n;
    }
    CHECK(frames == kFrames);
    // A 0.5 amplitude sine has an RMS of about 0.354.
    double rms = std::sqrt(sumsq / static_cast<double>(frames));
    CHECK(rms > 0.3 && rms < 0.4);

    CHECK(ov_pcm_seek(&vf, kFrames / 2) == 0);
    CHECK(ov_pcm_tell(&vf) == kFrames / 2);
    ov_clear(&vf);

    // Anything that is not Ogg Vorbis is refused.
    std::vector<unsigned char> junk(4096, 0x5a);
    Memory bad{&junk, 0};
    CHECK(ov_open_callbacks(&bad, &vf, nullptr, 0, cb) < 0);
    return 0;
}

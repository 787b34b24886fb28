// Decoding a file the system decodes (AAC in MP4), as a multiple of real time: through our
// stream (the read-ahead thread and its buffer, drained as fast as it fills) and through the
// bare source reader. Run under Wine or on Windows:
//
//   quaverly_system_decode_bench FILE [RUNS]
#include <windows.h>

#include <mfapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "qvdevice/com.h"
#include "qvmf/media_foundation.h"

namespace {

double now() {
    LARGE_INTEGER t, f;
    QueryPerformanceCounter(&t);
    QueryPerformanceFrequency(&f);
    return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

// Seconds of audio decoded per second of wall time, opening included; 0 on failure.
template <class Decode> double realTimeMultiple(Decode decodeSeconds, const char* path) {
    const double t0 = now();
    const double seconds = decodeSeconds(path);
    return seconds / (now() - t0);
}

double throughStream(const char* path) {
    qvmf::OpenError error;
    auto decoder = qvmf::openStream(path, qvcore::SystemFormat::Mp4, error);
    if (!decoder)
        return 0;
    std::vector<float> block(2 * 4096);
    for (;;) {
        const std::uint64_t before = decoder->positionFrames();
        if (decoder->render(block.data(), 4096) < 4096)
            break;
        if (decoder->positionFrames() - before < 4096)
            std::this_thread::yield(); // the reader is behind: let it run
    }
    return static_cast<double>(decoder->positionFrames()) / decoder->sampleRate();
}

double throughReader(const char* path) {
    qvmf::OpenError error;
    auto reader = qvmf::openReader(path, qvcore::SystemFormat::Mp4, error);
    if (!reader)
        return 0;
    qvdevice::ComPtr<IMFMediaType> type;
    UINT32 rate = 0, blockAlign = 0;
    if (FAILED(reader->GetCurrentMediaType(static_cast<DWORD>(MF_SOURCE_READER_FIRST_AUDIO_STREAM),
                                           type.put())) ||
        FAILED(type->GetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, &rate)) ||
        FAILED(type->GetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, &blockAlign)) || !rate || !blockAlign)
        return 0;
    std::uint64_t bytes = 0;
    for (;;) {
        DWORD flags = 0;
        LONGLONG time = 0;
        qvdevice::ComPtr<IMFSample> sample;
        if (FAILED(reader->ReadSample(static_cast<DWORD>(MF_SOURCE_READER_FIRST_AUDIO_STREAM), 0,
                                      nullptr, &flags, &time, sample.put())) ||
            (flags & MF_SOURCE_READERF_ENDOFSTREAM))
            break;
        DWORD length = 0;
        if (sample && SUCCEEDED(sample->GetTotalLength(&length)))
            bytes += length;
    }
    return static_cast<double>(bytes / blockAlign) / rate;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [RUNS]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    qvdevice::ThreadCom com;
    if (!qvmf::startup()) {
        std::fprintf(stderr, "no Media Foundation\n");
        return 1;
    }
    std::vector<double> stream, reader;
    for (int i = 0; i < runs; ++i) { // alternated, so that both see the same machine
        stream.push_back(realTimeMultiple(throughStream, argv[1]));
        reader.push_back(realTimeMultiple(throughReader, argv[1]));
    }
    qvmf::shutdown();
    const double s = median(stream), r = median(reader);
    std::printf("%-34s %8s\n", "AAC in MP4, median of runs", "x real time");
    std::printf("%-34s %8.1f\n", "our stream (read-ahead thread)", s);
    std::printf("%-34s %8.1f\n", "bare source reader", r);
    std::printf("%-34s %8.2f\n", "ratio (ours / bare)", r > 0 ? s / r : 0);
    return s > 0 && r > 0 ? 0 : 1;
}

// libsndfile: the PCM containers and codecs we hand it are there; in the Windows build, the
// codecs that need other libraries (FLAC, Ogg, Opus, MPEG) are not linked in.
#include "check.h"

#include <sndfile.h>

#include <cstring>

namespace {

bool canRead(int format, int channels = 2) {
    SF_INFO info{};
    info.format = format;
    info.channels = channels;
    info.samplerate = 44100;
    return sf_format_check(&info) == SF_TRUE;
}

// Whether the library lists a container among those it was built with.
bool listsMajor(int format) {
    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO f{};
        f.format = i;
        if (sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &f, sizeof f) == 0 &&
            (f.format & SF_FORMAT_TYPEMASK) == format)
            return true;
    }
    return false;
}

} // namespace

int main() {
    CHECK(std::strncmp(sf_version_string(), "libsndfile-1.", 13) == 0);
    CHECK(canRead(SF_FORMAT_WAV | SF_FORMAT_DOUBLE));
    CHECK(canRead(SF_FORMAT_WAV | SF_FORMAT_ALAW, 1));
    CHECK(canRead(SF_FORMAT_WAV | SF_FORMAT_ULAW, 1));
    CHECK(canRead(SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM));
    CHECK(canRead(SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM));
    CHECK(canRead(SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 6));
    CHECK(canRead(SF_FORMAT_RF64 | SF_FORMAT_PCM_16));
    CHECK(canRead(SF_FORMAT_W64 | SF_FORMAT_PCM_16));
    CHECK(canRead(SF_FORMAT_AIFF | SF_FORMAT_PCM_16));
    CHECK(canRead(SF_FORMAT_AU | SF_FORMAT_ULAW));
    CHECK(canRead(SF_FORMAT_CAF | SF_FORMAT_PCM_16));
    CHECK(listsMajor(SF_FORMAT_WAV) && listsMajor(SF_FORMAT_CAF));
#ifdef _WIN32
    CHECK(!listsMajor(SF_FORMAT_FLAC));
    CHECK(!listsMajor(SF_FORMAT_OGG));
    CHECK(!listsMajor(SF_FORMAT_MPEG));
#endif
    return 0;
}

// libsndfile: the PCM containers we hand it are there; in the Windows build, the codecs that
// need other libraries (FLAC, Ogg, MPEG) are not linked in.
#include "check.h"

#include <sndfile.h>

#include <initializer_list>

namespace {

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
    for (int format : {SF_FORMAT_WAV, SF_FORMAT_RF64, SF_FORMAT_W64, SF_FORMAT_AIFF, SF_FORMAT_AU,
                       SF_FORMAT_CAF})
        CHECK(listsMajor(format));
#ifdef _WIN32
    CHECK(!listsMajor(SF_FORMAT_FLAC));
    CHECK(!listsMajor(SF_FORMAT_OGG));
    CHECK(!listsMajor(SF_FORMAT_MPEG));
#endif
    return 0;
}

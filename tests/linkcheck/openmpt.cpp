// libopenmpt (C API): open a small 4-channel MOD built in memory, render it,
// move between orders; and check the build can unpack MO3 (zlib, mpg123, vorbis).
#include "check.h"

#include <libopenmpt/libopenmpt.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kHeader = 1084, kPattern = 64 * 4 * 4, kSampleBytes = 64;

void put16be(unsigned char* p, unsigned v) {
    p[0] = (v >> 8) & 0xff;
    p[1] = v & 0xff;
}

// Two patterns, two orders, one looped square-wave sample.
std::vector<unsigned char> makeMod() {
    std::vector<unsigned char> mod(kHeader + 2 * kPattern + kSampleBytes, 0);
    std::memcpy(mod.data(), "linkcheck", 9);
    unsigned char* s1 = &mod[20];
    std::memcpy(s1, "square", 6);
    put16be(s1 + 22, kSampleBytes / 2); // length in words
    s1[25] = 64;                        // volume
    put16be(s1 + 28, kSampleBytes / 2); // loop the whole sample
    mod[950] = 2;                       // song length
    mod[951] = 127;
    mod[952] = 0;
    mod[953] = 1;
    std::memcpy(&mod[1080], "M.K.", 4);
    // C-3 (period 428) with sample 1: pattern 0 channel 0, pattern 1 channel 1.
    const unsigned char note[4] = {0x01, 0xac, 0x10, 0x00};
    std::memcpy(&mod[kHeader], note, 4);
    std::memcpy(&mod[kHeader + kPattern + 4], note, 4);
    unsigned char* data = &mod[kHeader + 2 * kPattern];
    for (size_t i = 0; i < kSampleBytes; ++i)
        data[i] = i < kSampleBytes / 2 ? 0x40 : 0xc0;
    return mod;
}

bool hasFeature(const char* feature) {
    const char* features = openmpt_get_string("library_features");
    bool found = features != nullptr && std::strstr(features, feature) != nullptr;
    openmpt_free_string(features);
    return found;
}

} // namespace

int main() {
    CHECK(hasFeature("+ZLIB"));
    CHECK(hasFeature("+MPG123"));
    CHECK(hasFeature("+VORBIS"));

    std::vector<unsigned char> bytes = makeMod();
    int error = 0;
    const char* message = nullptr;
    openmpt_module* mod = openmpt_module_create_from_memory2(
        bytes.data(), bytes.size(), nullptr, nullptr, nullptr, nullptr, &error, &message, nullptr);
    openmpt_free_string(message);
    CHECK(mod != nullptr);
    CHECK(openmpt_module_get_num_orders(mod) == 2);
    CHECK(openmpt_module_get_num_patterns(mod) == 2);
    CHECK(openmpt_module_get_num_channels(mod) == 4);
    // 128 rows at speed 6, 125 BPM: 128 * 6 * 20 ms.
    CHECK(std::fabs(openmpt_module_get_duration_seconds(mod) - 15.36) < 0.01);

    std::vector<float> buf(2 * 4800);
    CHECK(openmpt_module_read_interleaved_float_stereo(mod, 48000, 4800, buf.data()) == 4800);
    float peak = 0;
    for (float s : buf)
        peak = std::fmax(peak, std::fabs(s));
    CHECK(peak > 0.01f);

    openmpt_module_set_position_order_row(mod, 1, 0);
    CHECK(openmpt_module_get_current_order(mod) == 1);
    CHECK(openmpt_module_get_current_pattern(mod) == 1);
    openmpt_module_destroy(mod);

    // Not a module: refused, with an error code.
    std::vector<unsigned char> junk(2048, 0x11);
    mod = openmpt_module_create_from_memory2(junk.data(), junk.size(), nullptr, nullptr, nullptr,
                                             nullptr, &error, nullptr, nullptr);
    CHECK(mod == nullptr);
    CHECK(error != OPENMPT_ERROR_OK);
    return 0;
}

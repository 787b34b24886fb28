// Surround to stereo: each speaker lands on its side at its level, and sums that would pass
// full scale are bent below it without touching the rest of the mix.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "qvcore/downmix.h"

namespace {

constexpr float h = 0.70710678f; // -3 dB

struct Side {
    float left, right;
};

// Each channel alone at 0.5 (below the knee), through the downmix.
std::vector<Side> eachChannelAlone(const qvcore::Downmix& d) {
    std::vector<Side> out;
    for (unsigned c = 0; c < d.channels(); ++c) {
        std::vector<float> frame(d.channels(), 0.0f);
        frame[c] = 0.5f;
        float stereo[2];
        d.toStereo(frame.data(), 1, stereo, [](float v) { return v; });
        out.push_back({stereo[0] / 0.5f, stereo[1] / 0.5f});
    }
    return out;
}

TEST(Downmix, EachSpeakerOnItsSideAtItsLevel) {
    using namespace qvcore;
    const struct {
        const char* name;
        unsigned channels;
        std::uint32_t mask;
        std::vector<Side> want;
    } cases[] = {
        {"mono", 1, 0, {{1, 1}}},
        {"stereo", 2, 0, {{1, 0}, {0, 1}}},
        {"3.0", 3, FrontLeft | FrontRight | FrontCenter, {{1, 0}, {0, 1}, {h, h}}},
        {"4.0 without a mask", 4, 0, {{1, 0}, {0, 1}, {h, 0}, {0, h}}},
        {"5.1", 6, defaultChannelMask(6), {{1, 0}, {0, 1}, {h, h}, {0.5f, 0.5f}, {h, 0}, {0, h}}},
        {"5.1 side",
         6,
         FrontLeft | FrontRight | FrontCenter | LowFrequency | SideLeft | SideRight,
         {{1, 0}, {0, 1}, {h, h}, {0.5f, 0.5f}, {h, 0}, {0, h}}},
        {"7.1 without a mask",
         8,
         0,
         {{1, 0}, {0, 1}, {h, h}, {0.5f, 0.5f}, {h, 0}, {0, h}, {h, 0}, {0, h}}},
        {"6 channels, a mask of 2",
         6,
         FrontLeft | FrontRight,
         {{1, 0}, {0, 1}, {h, h}, {0.5f, 0.5f}, {h, 0}, {0, h}}},
        {"10 channels: two without a place",
         10,
         0,
         {{1, 0}, {0, 1}, {h, h}, {0.5f, 0.5f}, {h, 0}, {0, h}, {h, 0}, {0, h}, {0, 0}, {0, 0}}},
    };
    for (const auto& c : cases) {
        const std::vector<Side> got = eachChannelAlone(Downmix(c.channels, c.mask));
        ASSERT_EQ(got.size(), c.want.size()) << c.name;
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_NEAR(got[i].left, c.want[i].left, 1e-5) << c.name << " channel " << i;
            EXPECT_NEAR(got[i].right, c.want[i].right, 1e-5) << c.name << " channel " << i;
        }
    }
}

TEST(Downmix, LoudSumsAreBentBelowFullScaleAlone) {
    const qvcore::Downmix d(6, qvcore::defaultChannelMask(6));
    // Full-scale front, centre and surround on the left: a sum of 2.4; a quiet frame after it.
    const float frames[] = {1, 0, 1, 0, 1, 0, -1, 0, -1, 0, -1, 0, 0.2f, 0.1f, 0, 0, 0, 0};
    float out[6];
    d.toStereo(frames, 3, out, [](float v) { return v; });
    EXPECT_GT(out[0], 0.95f);
    EXPECT_LE(out[0], 1.0f);
    EXPECT_LT(out[2], -0.95f);
    EXPECT_GE(out[2], -1.0f);
    EXPECT_FLOAT_EQ(out[4], 0.2f) << "the rest of the mix is not turned down";
    EXPECT_FLOAT_EQ(out[5], 0.1f);

    float last = 0.0f;
    for (float v = 0.0f; v < 4.0f; v += 0.01f) {
        const float y = qvcore::Downmix::softLimit(v);
        EXPECT_LE(y, 1.0f) << v;
        EXPECT_GE(y, last) << v << ": never folds back";
        EXPECT_EQ(qvcore::Downmix::softLimit(-v), -y);
        if (v <= 0.9f)
            EXPECT_EQ(y, v);
        last = y;
    }
}

} // namespace

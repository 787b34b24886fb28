// The recording pipeline against a simulated loopback that behaves as Windows does and Wine
// cannot: no packets while nothing plays, a late first packet, a device clock faster or slower
// than the performance counter, a default output that changes or goes away, and a writer that
// stalls. The library's own threads run it; only the system under them is simulated.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numeric>
#include <ostream>
#include <string>
#include <vector>

#include "bass23.h"
#include "engines/bass23/recording.h"

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double epoch = 1000.0; // the simulated performance counter's reading at the start

struct Script {
    const char* name;
    double seconds;         // how long the source runs; then its clock stands still
    double ppm = 0;         // device clock against the performance counter
    double firstAt = 0;     // a late first packet
    double pauseFrom = -1;  // nothing plays, so no packets...
    double pauseTo = -1;    // ...until here
    double switchAt = -1;   // the default output changes...
    double switchTakes = 0; // ...and the new one delivers this much later, at another rate
    double lostAt = -1;     // the device goes away, with none to replace it...
    double lostFor = 0;     // ...for this long
    bool realTime = false;  // paced by the real clock, else as fast as it goes
    int stallMs = 0;        // the writer stalls this long once a second of sound
    // Expected zero runs (start and length, seconds): the tone has no other.
    std::vector<std::pair<double, double>> gaps = {};
    double gapTolerance = 0.02;
};

void PrintTo(const Script& s, std::ostream* out) {
    *out << s.name;
}

class SimSystem;

// One simulated device: a tone in a 1 kHz sine (left) and cosine (right), so that no frame of
// it is ever zero on both sides.
class SimReader : public qvdevice::CaptureReader {
public:
    SimReader(SimSystem& sys, uint32_t rate, double start, bool first)
        : sys_(sys), rate_(rate), start_(start), first_(first) {}
    uint32_t rate() const override { return rate_; }
    size_t read(float* stereo, size_t capacity, qvdevice::PacketInfo& info) override;
    bool lost() const override;
    bool moved() const override;

private:
    double deviceRate() const;
    SimSystem& sys_;
    uint32_t rate_;
    double start_; // seconds after the epoch when its frame 0 was captured
    bool first_;   // the device the recording started on
    uint64_t next_ = 0;
    bool skipped_ = false;
};

class SimSystem : public qvdevice::CaptureSystem {
public:
    explicit SimSystem(const Script& s) : script(s) {
        LARGE_INTEGER t, f;
        QueryPerformanceCounter(&t);
        QueryPerformanceFrequency(&f);
        realStart_ = static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
    }

    std::vector<qvdevice::CaptureSource> sources(bool) override {
        qvdevice::CaptureSource loopback;
        loopback.kind = qvdevice::SourceKind::Loopback;
        loopback.name = "Loopback: Simulated Output";
        return {loopback};
    }
    std::unique_ptr<qvdevice::CaptureReader> open(const qvdevice::CaptureSource&) override {
        const double t = elapsed();
        if (opens++ == 0)
            return std::make_unique<SimReader>(*this, 48000, 0.0, true);
        if (script.lostAt >= 0 && t < script.lostAt + script.lostFor)
            return nullptr;
        const double back = script.switchAt >= 0 ? script.switchAt + script.switchTakes : t;
        return std::make_unique<SimReader>(*this, 44100, std::max(back, t), false);
    }
    double now() override { return script.realTime ? realNow() : epoch + virtual_.load(); }
    bool wait(void* event, unsigned ms) override {
        if (script.realTime || done())
            return WaitForSingleObject(event, ms) == WAIT_OBJECT_0;
        virtual_ = std::min(virtual_.load() + ms / 1000.0, script.seconds);
        if (++waits % 20 == 0)
            Sleep(1); // lets the delivery thread keep up
        return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
    }

    double elapsed() { return now() - epoch; }
    bool done() { return elapsed() >= script.seconds; }

    const Script& script;
    int opens = 0;
    int waits = 0;
    uint64_t delivered = 0;    // device frames handed out
    uint64_t deliveredOut = 0; // the same, at the recording's rate
    uint64_t overrun = 0;      // frames the device dropped because nobody read them in time

private:
    double realNow() {
        LARGE_INTEGER t, f;
        QueryPerformanceCounter(&t);
        QueryPerformanceFrequency(&f);
        return epoch + static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart) -
               realStart_;
    }
    std::atomic<double> virtual_{0.0};
    double realStart_ = 0;
};

double SimReader::deviceRate() const {
    return rate_ * (1.0 + sys_.script.ppm * 1e-6);
}

bool SimReader::lost() const {
    return first_ && sys_.script.lostAt >= 0 && sys_.elapsed() >= sys_.script.lostAt;
}

bool SimReader::moved() const {
    return first_ && sys_.script.switchAt >= 0 && sys_.elapsed() >= sys_.script.switchAt;
}

size_t SimReader::read(float* stereo, size_t capacity, qvdevice::PacketInfo& info) {
    const Script& s = sys_.script;
    const uint64_t packet = rate_ / 100;
    const double now = sys_.elapsed();
    for (;;) {
        const double at = start_ + static_cast<double>(next_) / deviceRate();
        const double end = at + static_cast<double>(packet) / deviceRate();
        const bool gone = first_ && s.switchAt >= 0 && at >= s.switchAt;
        if (end > now || at >= s.seconds || gone || lost())
            return 0;
        const bool silent = at < s.firstAt || (at >= s.pauseFrom && at < s.pauseTo);
        const bool late = now - end > 0.2; // the device's buffer has run over
        if (silent || late) {
            sys_.overrun += late && !silent ? packet : 0;
            skipped_ = skipped_ || late;
            next_ += packet;
            continue;
        }
        const size_t n = std::min<size_t>(packet, capacity);
        for (size_t i = 0; i < n; ++i) {
            const double phase = 2 * pi * 1000.0 * static_cast<double>(next_ + i) / rate_;
            stereo[2 * i] = static_cast<float>(0.5 * std::sin(phase));
            stereo[2 * i + 1] = static_cast<float>(0.5 * std::cos(phase));
        }
        info.position = next_;
        info.time = epoch + at;
        info.discontinuity = skipped_;
        skipped_ = false;
        next_ += n;
        sys_.delivered += n;
        sys_.deliveredOut += n * 44100 / rate_;
        return n;
    }
}

// What the recording thread delivered: its length and where it holds only zeros.
struct Take {
    uint64_t frames = 0;
    std::vector<std::pair<uint64_t, uint64_t>> zeroRuns; // start, length in frames
    uint64_t sinceStall = 0;
    int stallMs = 0;
};
Take take;

BOOL CALLBACK collect(HRECORD, void* buffer, DWORD length, DWORD) {
    const auto* s = static_cast<const int16_t*>(buffer);
    for (DWORD i = 0; i + 1 < length / 2; i += 2, ++take.frames) {
        if (s[i] != 0 || s[i + 1] != 0)
            continue;
        if (!take.zeroRuns.empty() &&
            take.zeroRuns.back().first + take.zeroRuns.back().second == take.frames)
            ++take.zeroRuns.back().second;
        else
            take.zeroRuns.push_back({take.frames, 1});
    }
    take.sinceStall += length;
    if (take.stallMs && take.sinceStall >= 176400) {
        take.sinceStall = 0;
        Sleep(take.stallMs); // a slow disk taking its time over the size refresh
    }
    return TRUE;
}

class SimulatedLoopback : public ::testing::TestWithParam<Script> {
protected:
    void SetUp() override { BASS_RecordFree(); }
    void TearDown() override {
        BASS_RecordFree();
        qvbass::useCaptureSystem(nullptr);
        // The real recording side again, as the other tests have it.
        ASSERT_TRUE(BASS_RecordInit(-1));
        for (int i = 0; BASS_RecordGetInput(i) != 0xFFFFFFFF; ++i)
            if ((BASS_RecordGetInput(i) & BASS_INPUT_TYPE_MASK) == BASS_INPUT_TYPE_WAVE) {
                BASS_RecordSetInput(i, 0x60032);
                break;
            }
    }
};

TEST_P(SimulatedLoopback, ZerosOnlyWhereTheSourceDeliveredNothing) {
    const Script& s = GetParam();
    SimSystem sim(s);
    qvbass::useCaptureSystem(&sim);
    ASSERT_TRUE(BASS_RecordInit(-1));
    ASSERT_TRUE(BASS_RecordSetInput(0, 0x60032));
    take = Take{};
    take.stallMs = s.stallMs;
    const HRECORD r = BASS_RecordStart(44100, 2, 0, collect, 0);
    ASSERT_NE(r, 0u);
    for (int i = 0; i < 120000 && !sim.done(); ++i)
        Sleep(5);
    ASSERT_TRUE(sim.done());
    const DWORD state = QV_RecordGetSource(r);
    ASSERT_TRUE(BASS_ChannelStop(r));

    // Runs at the very ends are the resampler's edges and the last packet still in flight.
    const double rate = 44100.0;
    std::vector<std::pair<double, double>> inside;
    for (const auto& [start, length] : take.zeroRuns) {
        const double at = start / rate, seconds = length / rate;
        const bool edge = start + length + 2 * 441 >= take.frames;
        const bool nearGap = std::any_of(s.gaps.begin(), s.gaps.end(), [&](const auto& g) {
            return at > g.first - 0.015 && at < g.first + g.second + 0.015 && seconds < 0.005;
        });
        if (!edge && !nearGap)
            inside.push_back({at, seconds});
    }
    printf("[ %s ] %.3f s recorded of %.3f s, %.3f s delivered, %llu frames overrun; zero runs:",
           s.name, take.frames / rate, s.seconds, sim.deliveredOut / rate,
           static_cast<unsigned long long>(sim.overrun));
    for (const auto& [at, seconds] : inside)
        printf(" %.3f s at %.3f s;", seconds, at);
    printf("\n");

    ASSERT_EQ(inside.size(), s.gaps.size()) << s.name;
    for (size_t i = 0; i < s.gaps.size(); ++i) {
        EXPECT_NEAR(inside[i].first, s.gaps[i].first, s.gapTolerance) << s.name;
        EXPECT_NEAR(inside[i].second, s.gaps[i].second, s.gapTolerance) << s.name;
    }
    EXPECT_EQ(sim.overrun, 0u) << s.name;
    const double zeros = std::accumulate(s.gaps.begin(), s.gaps.end(), 0.0,
                                         [](double sum, const auto& g) { return sum + g.second; });
    const double expected = sim.deliveredOut + zeros * rate;
    EXPECT_NEAR(static_cast<double>(take.frames), expected, expected * 0.001 + 0.03 * rate)
        << s.name;
    if (s.switchAt >= 0 || s.lostAt >= 0) {
        EXPECT_EQ(state, static_cast<DWORD>(QV_RECORD_SOURCE_REPLACED)) << s.name;
    }
}

// A writer that stops once for a while after its first second of sound.
std::atomic<int> stallOnceMs{0};
BOOL CALLBACK collectStallingOnce(HRECORD handle, void* buffer, DWORD length, DWORD user) {
    collect(handle, buffer, length, user);
    if (take.frames >= 44100 && stallOnceMs > 0)
        Sleep(static_cast<DWORD>(stallOnceMs.exchange(0)));
    return TRUE;
}

// Lost sound is counted: zeros for what fell more than the queue's 20 s behind, and the end that
// a stop could wait no longer for. What the writer got and the end it did not add up to the whole.
TEST_F(SimulatedLoopback, SoundTheWriterCouldNotTakeIsCounted) {
    const struct {
        double seconds;
        int stallMs;
        double replaced, unwritten; // seconds, within 1.1
    } rows[] = {{25, 1500, 4, 0} /* behind, then caught up */,
                {2, 4500, 0, 1} /* stuck at the stop */};
    for (const auto& row : rows) {
        const Script script{"stall", row.seconds};
        SimSystem sim(script); // keeps a reference to it
        qvbass::useCaptureSystem(&sim);
        ASSERT_TRUE(BASS_RecordInit(-1) && BASS_RecordSetInput(0, 0x60032));
        take = Take{};
        stallOnceMs = row.stallMs;
        const HRECORD r = BASS_RecordStart(44100, 2, 0, collectStallingOnce, 0);
        for (int i = 0; i < 12000 && !sim.done(); ++i)
            Sleep(5);
        Sleep(row.stallMs < 3000 ? row.stallMs + 500 : 0);
        ASSERT_TRUE(BASS_ChannelStop(r));
        QWORD replaced = 0, unwritten = 0;
        ASSERT_TRUE(QV_RecordGetLoss(r, &replaced, &unwritten));
        const double second = 4 * 44100.0;
        EXPECT_NEAR(replaced / second, row.replaced, 1.1);
        EXPECT_NEAR(unwritten / second, row.unwritten, 1.1);
        EXPECT_EQ(replaced > 0, row.replaced > 0);
        EXPECT_EQ(unwritten > 0, row.unwritten > 0);
        EXPECT_NEAR(4.0 * take.frames + unwritten, 4.0 * sim.deliveredOut, 0.1 * second);
        BASS_RecordFree();
        qvbass::useCaptureSystem(nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimulatedLoopback,
    ::testing::Values(
        Script{"pause", 6, 0, 0, 2, 4, -1, 0, -1, 0, false, 0, {{2, 2}}},
        Script{"late first packet", 3, 0, 0.7, -1, -1, -1, 0, -1, 0, false, 0, {{0, 0.7}}},
        Script{"clock fast by 100 ppm", 600, 100}, Script{"clock slow by 100 ppm", 600, -100},
        Script{"default output changes", 6, 0, 0, -1, -1, 3, 0.25, -1, 0, false, 0, {{3, 0.25}}},
        Script{"device gone for 1.5 s", 6, 0, 0, -1, -1, -1, 0, 3, 1.5, false, 0, {{3, 1.5}}, 0.52},
        Script{"writer stalls 500 ms a second", 6, 0, 0, -1, -1, -1, 0, -1, 0, true, 500}),
    [](const auto& info) {
        std::string name;
        for (const char* c = info.param.name; *c; ++c)
            if (isalnum(static_cast<unsigned char>(*c)))
                name += *c;
        return name;
    });

} // namespace

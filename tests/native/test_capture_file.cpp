// The WAV capture file: header, blocks, the sizes on the way and at the end, and every way a
// recording can end early (a full disk, a short write, the size limit).
#include <gtest/gtest.h>

#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "recorder/capture_file.h"
#include "tests/support/bytes.h"

namespace {

using testsupport::Bytes;
using testsupport::le32;
using testsupport::readFile;

// Sample bytes that differ from block to block, so order and completeness show.
Bytes block(size_t length, unsigned seed) {
    Bytes b(length);
    for (size_t i = 0; i < length; ++i)
        b[i] = (unsigned char)(seed * 31 + i * 7);
    return b;
}

BOOL deliver(Bytes& b) {
    return recordBlockCallback(0x7001, b.data(), (DWORD)b.size(), 0);
}

class CaptureFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char dirTemplate[] = "/tmp/capture-test-XXXXXX";
        ASSERT_NE(mkdtemp(dirTemplate), nullptr);
        dir = dirTemplate;
        captureFile = nullptr;
        captureBlockCount = 0;
        captureDataLimit = CAPTURE_MAX_DATA_BYTES;
        setPath(dir + "/take1.wav");
    }
    void TearDown() override {
        if (captureFile)
            fclose(captureFile);
        captureFile = nullptr;
        captureDataLimit = CAPTURE_MAX_DATA_BYTES;
        if (mounted)
            umount(dir.c_str());
        std::string remove = "rm -rf '" + dir + "'";
        EXPECT_EQ(system(remove.c_str()), 0);
    }

    void setPath(const std::string& path) {
        ASSERT_LT(path.size(), sizeof capturePath);
        snprintf(capturePath, sizeof capturePath, "%s", path.c_str());
    }

    // Checks that the file is a finished WAV whose sizes describe exactly the given samples.
    void expectWav(const Bytes& samples) {
        Bytes file = readFile(capturePath);
        ASSERT_GE(file.size(), 44u + samples.size());
        EXPECT_EQ(le32(file, 4), samples.size() + 36);
        EXPECT_EQ(le32(file, 40), samples.size());
        EXPECT_TRUE(std::equal(samples.begin(), samples.end(), file.begin() + 44))
            << "the samples are not what was recorded";
    }

    std::string dir;
    bool mounted = false;
};

TEST_F(CaptureFileTest, EmptyRecordingIsTheHeaderAloneWithEveryByteInPlace) {
    ASSERT_TRUE(openCaptureFile());
    ASSERT_NE(captureFile, nullptr);
    // Sizes 0 while the recording runs and nothing has arrived.
    Bytes created = readFile(capturePath);
    ASSERT_EQ(created.size(), 44u);
    EXPECT_EQ(le32(created, 4), 0u);
    EXPECT_EQ(le32(created, 40), 0u);

    finishCaptureFile();
    EXPECT_EQ(captureFile, nullptr);
    const unsigned char expected[44] = {'R', 'I', 'F',  'F',  36,  0,   0,    0,    'W', 'A', 'V',
                                        'E', 'f', 'm',  't',  ' ', 16,  0,    0,    0,   1,   0,
                                        2,   0,   0x44, 0xAC, 0,   0,   0x10, 0xB1, 2,   0,   4,
                                        0,   16,  0,    'd',  'a', 't', 'a',  0,    0,   0,   0};
    Bytes file = readFile(capturePath);
    ASSERT_EQ(file.size(), 44u);
    for (size_t i = 0; i < 44; ++i)
        EXPECT_EQ(file[i], expected[i]) << "offset " << i;
    EXPECT_EQ(captureDataBytes, 0u);
}

TEST_F(CaptureFileTest, BlocksOfUnevenSizesAreAppendedInOrderAndCounted) {
    ASSERT_TRUE(openCaptureFile());
    EXPECT_STREQ(formatCaptureStatus(), "Recording....");
    Bytes all;
    const size_t sizes[] = {17640, 4, 4000, 0, 35280, 8};
    for (unsigned i = 0; i < 6; ++i) {
        Bytes b = block(sizes[i], i);
        EXPECT_TRUE(deliver(b));
        all.insert(all.end(), b.begin(), b.end());
        if (i == 0) {
            EXPECT_STREQ(formatCaptureStatus(), "Recording.... 0");
        }
    }
    EXPECT_EQ(captureBlockCount, 6);
    EXPECT_STREQ(formatCaptureStatus(), "Recording.... 5");
    finishCaptureFile();
    expectWav(all);
    EXPECT_EQ(readFile(capturePath).size(), 44 + all.size());
    EXPECT_EQ(captureDataBytes, all.size());
}

TEST_F(CaptureFileTest, BlockWithNoFileOpenIsCountedAndWrittenNowhere) {
    Bytes b = block(400, 1);
    EXPECT_TRUE(deliver(b));
    EXPECT_EQ(captureBlockCount, 1);
    EXPECT_TRUE(readFile(capturePath).empty());
    finishCaptureFile(); // nothing open: nothing happens
    EXPECT_EQ(captureFile, nullptr);
}

TEST_F(CaptureFileTest, SecondRecordingReplacesTheFirst) {
    ASSERT_TRUE(openCaptureFile());
    Bytes first = block(40000, 1);
    deliver(first);
    finishCaptureFile();

    ASSERT_TRUE(openCaptureFile());
    Bytes second = block(400, 2);
    deliver(second);
    finishCaptureFile();

    EXPECT_EQ(readFile(capturePath).size(), 444u);
    expectWav(second);
}

TEST_F(CaptureFileTest, SizesAreBroughtUpToDateEverySecondWhileRecording) {
    ASSERT_TRUE(openCaptureFile());
    Bytes all;
    // Ten blocks of 100 ms: the header catches up at the tenth.
    for (unsigned i = 0; i < 10; ++i) {
        Bytes b = block(17640, i);
        ASSERT_TRUE(deliver(b));
        all.insert(all.end(), b.begin(), b.end());
        if (i == 8) {
            EXPECT_EQ(le32(readFile(capturePath), 40), 0u);
        }
    }
    Bytes live = readFile(capturePath);
    EXPECT_EQ(le32(live, 4), 176400u + 36);
    EXPECT_EQ(le32(live, 40), 176400u);

    // A crash now, before the file is finished: the header states the first second, and
    // everything delivered is on disk behind it.
    Bytes tail = block(17640, 99);
    ASSERT_TRUE(deliver(tail));
    live = readFile(capturePath);
    EXPECT_EQ(live.size(), 44u + 176400 + 17640);
    EXPECT_EQ(le32(live, 40), 176400u);
    all.insert(all.end(), tail.begin(), tail.end());

    finishCaptureFile();
    expectWav(all);
}

TEST_F(CaptureFileTest, LimitEndsTheRecordingWithWholeFramesAndNeverWritesPastIt) {
    captureDataLimit = 1002; // not a whole frame: 1000 bytes fit
    ASSERT_TRUE(openCaptureFile());
    Bytes all;
    for (unsigned i = 0; i < 2; ++i) {
        Bytes b = block(400, i);
        ASSERT_TRUE(deliver(b));
        all.insert(all.end(), b.begin(), b.end());
    }
    Bytes last = block(400, 2);
    EXPECT_FALSE(deliver(last));
    EXPECT_EQ(captureEnd, CaptureLimitReached);
    all.insert(all.end(), last.begin(), last.begin() + 200);
    // Finished in place already: a crash from here on loses nothing.
    expectWav(all);

    Bytes late = block(400, 3);
    EXPECT_FALSE(deliver(late));
    finishCaptureFile();
    expectWav(all);
    EXPECT_EQ(readFile(capturePath).size(), 1044u);

    static_assert(CAPTURE_MAX_DATA_BYTES % 4 == 0 && CAPTURE_MAX_DATA_BYTES + 36 <= 0xFFFFFFFFu &&
                      CAPTURE_MAX_DATA_BYTES + 36 + 4 > 0xFFFFFFFFu,
                  "the largest recording is the most whole frames the RIFF size can state");
}

TEST_F(CaptureFileTest, NewRecordingStartsAfterAnEarlierOneHitTheLimit) {
    captureDataLimit = 400;
    ASSERT_TRUE(openCaptureFile());
    Bytes b = block(800, 1);
    EXPECT_FALSE(deliver(b));
    finishCaptureFile();

    captureDataLimit = CAPTURE_MAX_DATA_BYTES;
    ASSERT_TRUE(openCaptureFile());
    EXPECT_EQ(captureEnd, CaptureGoesOn);
    EXPECT_TRUE(deliver(b));
    finishCaptureFile();
    expectWav(b);
}

TEST_F(CaptureFileTest, FileThatCannotBeCreatedLeavesNothingOpen) {
    setPath(dir + "/no such folder/take1.wav");
    EXPECT_FALSE(openCaptureFile());
    EXPECT_EQ(captureFile, nullptr);
    EXPECT_EQ(captureError, ENOENT);
}

// Lets the file grow to `bytes` only, the way a disk with that much room would; writes past it
// fail part-way (with EFBIG rather than ENOSPC).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        oldHandler = signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit limit = old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old);
        signal(SIGXFSZ, oldHandler);
    }

private:
    rlimit old;
    void (*oldHandler)(int);
};

TEST_F(CaptureFileTest, ShortWriteEndsTheRecordingAndKeepsEverythingBefore) {
    Bytes all;
    BOOL thirdAccepted, lateAccepted;
    {
        FileSizeLimit room(44 + 1000 + 2); // the third block stops half-way through a frame
        ASSERT_TRUE(openCaptureFile());
        for (unsigned i = 0; i < 2; ++i) {
            Bytes b = block(400, i);
            ASSERT_TRUE(deliver(b));
            all.insert(all.end(), b.begin(), b.end());
        }
        Bytes third = block(400, 2);
        thirdAccepted = deliver(third);
        all.insert(all.end(), third.begin(), third.begin() + 200);
        Bytes late = block(400, 3);
        lateAccepted = deliver(late);
        finishCaptureFile();
    }
    EXPECT_FALSE(thirdAccepted);
    EXPECT_FALSE(lateAccepted);
    EXPECT_EQ(captureEnd, CaptureWriteFailed);
    EXPECT_EQ(captureError, EFBIG);
    EXPECT_EQ(captureFile, nullptr);
    expectWav(all);
    EXPECT_EQ(captureDataBytes, 1000u);
}

TEST_F(CaptureFileTest, HeaderThatCannotBeWrittenLeavesNoFile) {
    bool opened;
    {
        FileSizeLimit room(20);
        opened = openCaptureFile();
    }
    EXPECT_FALSE(opened);
    EXPECT_EQ(captureFile, nullptr);
    EXPECT_EQ(captureError, EFBIG);
    EXPECT_NE(access(capturePath, F_OK), 0) << "a half-written header was left behind";
}

// A real full disk: a small tmpfs. Needs the right to mount (root in the test container).
TEST_F(CaptureFileTest, FullDiskEndsTheRecordingWithAPlayableFile) {
    if (mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=32k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here: " << strerror(errno);
    mounted = true;

    ASSERT_TRUE(openCaptureFile());
    Bytes sent;
    size_t accepted = 0;
    for (unsigned i = 0; i < 100; ++i) {
        Bytes b = block(1764, i);
        sent.insert(sent.end(), b.begin(), b.end());
        if (!deliver(b))
            break;
        accepted = sent.size();
    }
    ASSERT_EQ(captureEnd, CaptureWriteFailed);
    EXPECT_EQ(captureError, ENOSPC);
    finishCaptureFile();

    Bytes file = readFile(capturePath);
    uint32_t data = le32(file, 40);
    EXPECT_GE(data, accepted) << "blocks taken before the disk filled were lost";
    EXPECT_EQ(data % 4, 0u);
    EXPECT_LE(44 + data, file.size());
    Bytes kept(sent.begin(), sent.begin() + data);
    expectWav(kept);

    // With the disk still full, the next recording is refused and leaves nothing behind.
    setPath(dir + "/take2.wav");
    EXPECT_FALSE(openCaptureFile());
    EXPECT_EQ(captureError, ENOSPC);
    EXPECT_NE(access(capturePath, F_OK), 0);
}

// A write that does not return (a drive that stopped answering) holds the stream: finishing must
// neither wait for it nor touch the stream, and the write finishes the file once it returns.
TEST_F(CaptureFileTest, WriteThatHangsIsLeftToTheRecordingThread) {
    setPath(dir + "/stuck.wav");
    ASSERT_EQ(mkfifo(capturePath, 0600), 0);
    int drive = -1;
    std::thread opener([&] { drive = open(capturePath, O_RDONLY); });
    ASSERT_TRUE(openCaptureFile());
    opener.join();
    ASSERT_GE(drive, 0);

    std::atomic<BOOL> accepted{1};
    std::thread recording([&] {
        Bytes b = block(1 << 20, 1); // far more than the pipe holds: the write hangs
        accepted = deliver(b);
    });
    usleep(200 * 1000);
    finishCaptureFile();
    EXPECT_EQ(captureEnd, CaptureWriteHung);
    EXPECT_EQ(captureFile, nullptr);
    // Meanwhile a new recording is refused: the hung write still holds the shared counts.
    const std::string next = dir + "/next.wav";
    setPath(next);
    EXPECT_FALSE(openCaptureFile());
    EXPECT_EQ(captureError, EBUSY);

    // The drive answers again: the write returns, and closes the file.
    char sink[65536];
    while (read(drive, sink, sizeof sink) > 0) {
    }
    recording.join();
    close(drive);
    EXPECT_FALSE(accepted);
    EXPECT_TRUE(openCaptureFile());
    finishCaptureFile();
}

} // namespace

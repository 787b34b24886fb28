#include "recorder/capture_file.h"

#include <errno.h>
#include <stdint.h>
#include <string.h>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>

#include "qvwin32/text.h"
#else
#include <unistd.h>
#endif

char capturePath[CAPTURE_PATH_SIZE];
FILE* captureFile;
char captureStatusText[CAPTURE_STATUS_SIZE];
std::atomic<int> captureBlockCount;
std::atomic<CaptureEnd> captureEnd;
std::atomic<uint64_t> captureDataBytes;
std::atomic<int> captureError;
uint64_t captureDataLimit = CAPTURE_MAX_DATA_BYTES;

namespace {

const uint16_t channels = 2;
const uint32_t samplesPerSecond = 44100;
const uint16_t bitsPerSample = 16;
const uint64_t frameBytes = channels * bitsPerSample / 8;

// Sample bytes at the last header update; the recording thread's own.
uint64_t syncedDataBytes;

// Files past 2 GiB need 64-bit positions, which the CRTs spell differently.
int seekTo(FILE* f, int64_t offset, int whence) {
#if defined(_WIN32)
    return _fseeki64(f, offset, whence);
#else
    return fseeko(f, offset, whence);
#endif
}

int64_t position(FILE* f) {
#if defined(_WIN32)
    return _ftelli64(f);
#else
    return ftello(f);
#endif
}

// Asks the system to put what it holds of the file onto the disk.
bool syncToDisk(FILE* f) {
#if defined(_WIN32)
    return _commit(_fileno(f)) == 0;
#else
    return fsync(fileno(f)) == 0;
#endif
}

void putLe16(unsigned char* at, uint16_t v) {
    at[0] = (unsigned char)v;
    at[1] = (unsigned char)(v >> 8);
}

void putLe32(unsigned char* at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        at[i] = (unsigned char)(v >> (8 * i));
}

bool writeSizeField(FILE* f, int64_t offset, uint32_t value) {
    unsigned char bytes[4];
    putLe32(bytes, value);
    return seekTo(f, offset, SEEK_SET) == 0 && fwrite(bytes, 1, sizeof bytes, f) == sizeof bytes;
}

// Sets both size fields from the file's real length and leaves the stream at its end. A short
// write can leave part of a frame at the end, which the sizes leave out.
bool writeSizes(FILE* f, uint64_t& data) {
    if (fflush(f) != 0 || seekTo(f, 0, SEEK_END) != 0)
        return false;
    int64_t length = position(f);
    if (length < CAPTURE_HEADER_SIZE)
        return false;
    data = (uint64_t)(length - CAPTURE_HEADER_SIZE) / frameBytes * frameBytes;
    if (data > CAPTURE_MAX_DATA_BYTES)
        data = CAPTURE_MAX_DATA_BYTES;
    return writeSizeField(f, 4, (uint32_t)(data + CAPTURE_HEADER_SIZE - 8)) &&
           writeSizeField(f, 40, (uint32_t)data) && fflush(f) == 0 && seekTo(f, 0, SEEK_END) == 0;
}

bool writeSizes(FILE* f) {
    uint64_t data = 0;
    bool ok = writeSizes(f, data);
    captureDataBytes = data;
    return ok;
}

// Whether the recording thread is inside the file, whether the user-interface thread gave the
// file up to it meanwhile (a write that hangs), or whether the file is closed. Each side claims
// the file by a compare-exchange, so neither writes to a stream the other has closed.
enum WriteState { NotWriting, Writing, GivenUp, Closed };
std::atomic<int> writeState;

// What one block did to the file; applied to the shared state only if the file was not given
// up meanwhile.
struct BlockResult {
    uint64_t dataBytes;
    uint64_t synced;
    CaptureEnd end;
    int error;
};

BlockResult writeBlock(FILE* file, const void* buffer, DWORD length) {
    BlockResult r = {captureDataBytes.load(std::memory_order_relaxed), syncedDataBytes,
                     CaptureGoesOn, 0};
    // Never past what the size fields can state: take the whole frames that still fit.
    uint64_t room = r.dataBytes < captureDataLimit ? captureDataLimit - r.dataBytes : 0;
    room = room / frameBytes * frameBytes;
    bool atLimit = length > room;
    size_t take = atLimit ? (size_t)room : length;

    // Flushed block by block, so a full disk shows at the block it hits.
    if (take > 0) {
        if (fwrite(buffer, 1, take, file) != take || fflush(file) != 0) {
            r.error = errno ? errno : EIO;
            r.end = CaptureWriteFailed;
            return r;
        }
        r.dataBytes += take;
    }
    // Once a second of sound, so that a crash or a power cut loses no more than that.
    if (atLimit || r.dataBytes - r.synced >= CAPTURE_BYTES_PER_SECOND) {
        uint64_t onDisk = 0;
        if (!writeSizes(file, onDisk) || !syncToDisk(file)) {
            r.error = errno ? errno : EIO;
            r.end = CaptureWriteFailed;
            return r;
        }
        r.synced = r.dataBytes;
    }
    if (atLimit)
        r.end = CaptureLimitReached;
    return r;
}

// The path is UTF-8 under our manifest; the C runtime's 8-bit calls would read it in another
// code page, so it is handed over in its UTF-16 form, in the form that opens at any length.
FILE* openPath(const char* path, const char* mode) {
#if defined(_WIN32)
    std::wstring wide = qvwin32::openablePath(path);
    wchar_t wideMode[8];
    if (wide.empty()) {
        errno = ENOENT;
        return nullptr;
    }
    if (!MultiByteToWideChar(CP_ACP, 0, mode, -1, wideMode, 8))
        return nullptr;
    return _wfopen(wide.c_str(), wideMode);
#else
    return fopen(path, mode);
#endif
}

void removePath(const char* path) {
#if defined(_WIN32)
    std::wstring wide = qvwin32::openablePath(path);
    if (!wide.empty())
        _wremove(wide.c_str());
#else
    remove(path);
#endif
}

} // namespace

bool openCaptureFile() {
    // A write given up on still holds the last recording's file and the shared counts.
    if (writeState == GivenUp) {
        captureError = EBUSY;
        return false;
    }
    captureEnd = CaptureGoesOn;
    captureDataBytes = 0;
    captureError = 0;
    syncedDataBytes = 0;
    writeState = NotWriting;

    captureFile = openPath(capturePath, "wb");
    if (!captureFile) {
        captureError = errno;
        return false;
    }

    static const unsigned char riffHead[20] = {'R', 'I', 'F', 'F', 0,   0,   0,  0, 'W', 'A',
                                               'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0,   0};
    unsigned char format[16];
    const uint16_t blockAlign = channels * bitsPerSample / 8;
    putLe16(format + 0, 1); // PCM
    putLe16(format + 2, channels);
    putLe32(format + 4, samplesPerSecond);
    putLe32(format + 8, samplesPerSecond * blockAlign);
    putLe16(format + 12, blockAlign);
    putLe16(format + 14, bitsPerSample);
    static const unsigned char dataHead[8] = {'d', 'a', 't', 'a', 0, 0, 0, 0};

    fwrite(riffHead, 1, sizeof riffHead, captureFile);
    fwrite(format, 1, sizeof format, captureFile);
    fwrite(dataHead, 1, sizeof dataHead, captureFile);
    // A disk that cannot take the header will not take a recording: say so now, and leave no
    // unreadable file behind.
    if (fflush(captureFile) != 0 || ferror(captureFile)) {
        captureError = errno ? errno : EIO;
        fclose(captureFile);
        captureFile = nullptr;
        removePath(capturePath);
        return false;
    }
    return true;
}

BOOL CALLBACK recordBlockCallback(HRECORD, void* buffer, DWORD length, DWORD) {
    captureBlockCount.fetch_add(1, std::memory_order_relaxed);
    int idle = NotWriting;
    if (!writeState.compare_exchange_strong(idle, Writing))
        return 1; // closed, or given up to a write that hangs
    FILE* file = captureFile;
    if (!file || captureEnd != CaptureGoesOn) {
        writeState = NotWriting;
        return file ? 0 : 1;
    }
    BlockResult r = writeBlock(file, buffer, length);
    if (writeState.exchange(NotWriting) == GivenUp) {
        // The stop gave up waiting for this write: the file is this thread's to finish.
        uint64_t data = 0;
        if (writeSizes(file, data))
            syncToDisk(file);
        fclose(file);
        return 0;
    }
    captureDataBytes.store(r.dataBytes, std::memory_order_relaxed);
    syncedDataBytes = r.synced;
    if (r.end != CaptureGoesOn) {
        if (r.error)
            captureError = r.error;
        captureEnd = r.end;
        return 0;
    }
    return 1;
}

void finishCaptureFile() {
    if (!captureFile)
        return;
    int state = NotWriting;
    while (!writeState.compare_exchange_weak(state, state == Writing ? GivenUp : Closed)) {
    }
    if (state == Writing) {
        // A write that does not return (a drive that stopped answering): the stream is locked
        // inside it. Leave the file to that write; what reached the disk stays readable, with
        // the sizes of the last update.
        captureFile = nullptr;
        captureEnd = CaptureWriteHung;
        return;
    }
    bool written = !ferror(captureFile) && writeSizes(captureFile);
    if (!written) {
        // The stream still holds bytes the disk refused, and retries them at every seek:
        // drop it, and set the sizes through a fresh stream.
        fclose(captureFile);
        captureFile = openPath(capturePath, "r+b");
        if (!captureFile)
            return; // the sizes of the last update stand
        written = writeSizes(captureFile);
    }
    if (written)
        syncToDisk(captureFile);
    fclose(captureFile);
    captureFile = nullptr;
}

void discardCaptureFile() {
    if (!captureFile)
        return;
    fclose(captureFile);
    captureFile = nullptr;
    removePath(capturePath);
}

const char* formatCaptureStatus() {
    int blocks = captureBlockCount.load(std::memory_order_relaxed);
    if (blocks > 0)
        snprintf(captureStatusText, sizeof captureStatusText, "Recording.... %d", blocks - 1);
    else
        snprintf(captureStatusText, sizeof captureStatusText, "Recording....");
    return captureStatusText;
}

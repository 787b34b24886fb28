#include "recorder/capture_file.h"

#include <stdint.h>
#include <string.h>

char capturePath[CAPTURE_PATH_SIZE];
FILE* captureFile;
std::atomic<int> captureBlockCount;
char captureStatusText[CAPTURE_STATUS_SIZE];

namespace {

const uint16_t channels = 2;
const uint32_t samplesPerSecond = 44100;
const uint16_t bitsPerSample = 16;

void putLe16(unsigned char* at, uint16_t v) {
    at[0] = (unsigned char)v;
    at[1] = (unsigned char)(v >> 8);
}

void putLe32(unsigned char* at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        at[i] = (unsigned char)(v >> (8 * i));
}

void writeSizeField(long offset, uint32_t value) {
    unsigned char bytes[4];
    putLe32(bytes, value);
    fseek(captureFile, offset, SEEK_SET);
    fwrite(bytes, 1, sizeof bytes, captureFile);
}

} // namespace

bool openCaptureFile() {
    captureFile = fopen(capturePath, "wb");
    if (!captureFile)
        return false;

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
    return true;
}

BOOL CALLBACK recordBlockCallback(HRECORD, void* buffer, DWORD length, DWORD) {
    if (captureFile)
        fwrite(buffer, 1, length, captureFile);
    snprintf(captureStatusText, sizeof captureStatusText, "Recording.... %d",
             captureBlockCount.fetch_add(1));
    return 1;
}

void finishCaptureFile() {
    if (!captureFile)
        return;
    fseek(captureFile, 0, SEEK_END);
    long length = ftell(captureFile);
    writeSizeField(4, (uint32_t)(length - 8));
    writeSizeField(40, (uint32_t)(length - 44));
    fclose(captureFile);
    captureFile = nullptr;
}

// The system's own decoders (Media Foundation) for the formats ours do not read: MP4/M4A (AAC,
// ALAC), raw AAC and ASF (WMA). Media Foundation is loaded at run time, so that the program
// starts where the system has none (Windows N without its Media Feature Pack).
#pragma once

#include <windows.h>

#include <mfidl.h>
#include <mfreadwrite.h>

#include <memory>
#include <string>

#include "qvcore/decoder.h"
#include "qvcore/probe.h"
#include "qvdevice/com.h"

namespace qvmf {

// Loads and starts Media Foundation for the process (MFSTARTUP_LITE); false when the system
// has none. Each successful startup is undone by one shutdown.
bool startup();
void shutdown();

enum class OpenError {
    None,
    Refused, // no Media Foundation, or no source or decoder would take it (or it is damaged:
             // the system's sources do not tell the two apart)
    Bad,     // a source took it, but it does not decode
};

// A decoder whose own thread reads the file through a source reader (float stereo at the
// rate the stream starts with, surround mixed down). Needs a started Media Foundation; null
// with `error` set on failure.
std::unique_ptr<qvcore::Decoder> openStream(const char* path, qvcore::SystemFormat format,
                                            OpenError& error);

// The bare source reader for a file, its first audio stream selected and decoded to float (for
// the benchmark). Call on a thread that has COM.
qvdevice::ComPtr<IMFSourceReader> openReader(const char* path, qvcore::SystemFormat format,
                                             OpenError& error);

// What the system's source says of the file's title and artist (UTF-8, empty where it says
// nothing). Needs a started Media Foundation, on a thread that has COM; may be slow.
void readTags(const char* path, qvcore::SystemFormat format, std::string& title,
              std::string& artist);

} // namespace qvmf

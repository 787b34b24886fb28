// Scripted stand-ins for both audio libraries: every call is logged with its arguments, and
// every result comes from the script, so UI tests can check exact call orders and error paths.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bass23.h"
#include "fmod3.h"

namespace fake {

struct Module {
    int orders = 1;
    int order = 0;      // what FMUSIC_GetOrder / the BASS order position reports
    int row = 0;        // BASS only: the row in the high word of the order position
    bool active = true; // BASS only: BASS_ChannelIsActive
};

struct Stream {
    int lengthMs = 0;
    int timeMs = 0;
};

struct Input {
    DWORD flags;
    std::string name;
};

struct Script {
    // Start-up.
    DWORD bassVersion = 0x02030000;
    BOOL bassInit = TRUE;
    float fmodVersion = 3.75f;
    signed char fmodInit = 1;
    int fmodError = 0;
    DWORD bassVolume = 100;

    // Files each player takes, by path; anything else is refused.
    std::map<std::string, Module> fmodModules;
    std::map<std::string, Stream> fmodStreams;
    std::map<std::string, Module> bassMusics;
    signed char fmodPlaySong = 1;
    int streamPlayChannel = 1;

    // Recording.
    BOOL recordInit = TRUE;
    std::vector<Input> inputs;
    BOOL recordSetInput = TRUE;
    HRECORD recordStart = 0x7001;
    DWORD recordSource = QV_RECORD_SOURCE_FIRST;   // not logged: the progress timer asks often
    QWORD recordReplaced = 0, recordUnwritten = 0; // what the recording lost, in bytes
};

// The script of the current test, and the state the fakes keep.
Script& script();
void reset();

// Every call so far, as "Name(arg,arg)"; handles are shown by their file path.
const std::vector<std::string>& calls();
// The calls whose text starts with one of the prefixes, in order.
std::vector<std::string> callsStartingWith(const std::vector<std::string>& prefixes);
void clearCalls();

// Live objects, to move positions while a test runs.
Module* fmodModule(const std::string& path);
Stream* fmodStream(const std::string& path);
Module* bassMusic(const std::string& path);
HMUSIC bassHandle(const std::string& path);

// Calls `hook` with each call's text as it is logged, to look at the program at that moment;
// reset() removes it.
void onCall(std::function<void(const std::string&)> hook);

// The recording callback handed to BASS_RecordStart, and whether recording is running.
RECORDPROC* recordProc();
bool recording();

} // namespace fake

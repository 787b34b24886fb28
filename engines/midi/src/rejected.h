// How the MIDI and bank readers say why they gave up.
#pragma once

#include <string>

namespace qvmidi::detail {

// Keeps `why` where the caller asked for it; false, for the reader to return.
inline bool rejected(std::string* error, const char* why) {
    if (error)
        *error = why;
    return false;
}

} // namespace qvmidi::detail

// MIDI files as modules of the engine core: bars are their orders, and they loop or stop at
// their end like any module.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "qvcore/decoder.h"
#include "qvmidi/sound_bank.h"

namespace qvmidi {

// Opens a Standard MIDI File or RMID file; null when it is not one or cannot be read.
std::unique_ptr<qvcore::Decoder> openMidi(std::shared_ptr<const qvcore::FileData> file,
                                          std::shared_ptr<const SoundBank> bank,
                                          qvcore::ModuleEnd end);

// The first bank that loads from the candidate paths, in order; loaded once and kept, so that
// later songs start at once. Null when none loads.
std::shared_ptr<const SoundBank> findSoundBank(const std::vector<std::string>& candidates);

} // namespace qvmidi

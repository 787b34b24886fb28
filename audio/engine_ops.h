// What the program asks of the player that holds the track, one row a player, so that a caller
// says what it wants once instead of once for each player.
#pragma once

#include <windows.h>

struct EngineOps {
    // Stops the track, closes it where the player needs that, and clears its handle. BASS's
    // output level goes back to what it was before the track only when restoreVolume is set.
    void (*stop)(bool restoreVolume);
    void (*setPaused)(bool paused);
    void (*setVolume)(int volume);
    // Where the track is, in the position bar's units (seconds or orders).
    int (*position)();
    // Moves to `target` (seconds or orders) and says where the track landed.
    int (*seek)(int target);
    // The one-second tick: status line, bar, and the end-of-track rule.
    void (*tick)(const EngineOps& self);
};

// The row of the player whose handle is set, or null when none is.
const EngineOps* playingEngine();

// The players' ticks (audio/tick.cpp).
void tickStream(const EngineOps& stream);
void tickFmodModule(const EngineOps& module);
void tickBassModule(const EngineOps& module);

// The calls the verification child makes into the game: re-simulate a
// replay with the game's own rules on the headless set-up, and play its
// inputs under another rules version.
#pragma once

#include <cstdint>
#include <vector>

#include "game/replay.h"

namespace board {

// Installs the headless set-up and re-simulates a replay; call once per process.
// scoredFrom, when given, gets the index of the first check value taken with
// points on the score whose value the re-simulation confirmed, or -1 for none.
game::ReplayVerdict Resimulate(const game::Replay& replay, int64_t* scoredFrom = nullptr);
// Returns the check values of a replay's inputs played under a known rules
// version, as a replay re-recorded under it holds them (cut where that game
// ends); call after Resimulate, which it does not need.
std::vector<uint32_t> ChecksUnderRules(game::Replay replay, uint32_t rules);

}  // namespace board

// The one call the verification child makes into the game: re-simulate a
// replay with the game's own rules on the headless set-up.
#pragma once

#include "game/replay.h"

namespace board {

// Installs the headless set-up and re-simulates a replay; call once per process.
game::ReplayVerdict Resimulate(const game::Replay& replay);

}  // namespace board

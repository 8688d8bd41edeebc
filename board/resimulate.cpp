// Re-simulation through the game layer's replay check, the same one
// --verify-replay runs: one re-simulation in the program.
#include "board/resimulate.h"

#include "game/replay_verify.h"

namespace board {

game::ReplayVerdict Resimulate(const game::Replay& replay) {
    game::InstallHeadlessSimulation();
    const game::ReplayVerdict verdict = game::VerifyReplay(replay);
    game::UninstallHeadlessSimulation();
    return verdict;
}

}  // namespace board

// Re-simulation through the game layer's replay check, the same one
// --verify-replay runs, and its re-recording: one re-simulation in the program.
#include "board/resimulate.h"

#include "game/replay_verify.h"

namespace board {

game::ReplayVerdict Resimulate(const game::Replay& replay) {
    game::InstallHeadlessSimulation();
    const game::ReplayVerdict verdict = game::VerifyReplay(replay);
    game::UninstallHeadlessSimulation();
    return verdict;
}

std::vector<uint32_t> ChecksUnderRules(game::Replay replay, uint32_t rules) {
    // Installs the headless set-up and removes it again, like a player's re-recording.
    replay.header.rules = rules;
    return game::RecordAgain(std::move(replay)).checks;
}

}  // namespace board

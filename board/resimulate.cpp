// Re-simulation through the game layer's replay check, the same one
// --verify-replay runs, and its re-recording: one re-simulation in the program.
#include "board/resimulate.h"

#include "game/game_loop.h"
#include "game/replay_file.h"
#include "game/replay_verify.h"

namespace board {

game::ReplayVerdict Resimulate(const game::Replay& replay, int64_t* scoredFrom) {
    game::InstallHeadlessSimulation();
    // Check values are taken before the first step (never with points) and
    // after every kReplayCheckInterval-th step: the score is looked at there.
    int64_t steps = 0;
    int64_t firstScored = -1;
    const game::ReplayVerdict verdict = game::VerifyReplay(replay, [&] {
        ++steps;
        if (firstScored < 0 && steps % game::kReplayCheckInterval == 0 && game::GameScore > 0) {
            firstScored = steps / game::kReplayCheckInterval;
        }
    });
    game::UninstallHeadlessSimulation();
    // Past the first check value that differs, the game is not the replay's.
    if (verdict.firstBadStep >= 0 &&
        firstScored * int64_t{game::kReplayCheckInterval} >= verdict.firstBadStep) {
        firstScored = -1;
    }
    if (scoredFrom) *scoredFrom = firstScored;
    return verdict;
}

std::vector<uint32_t> ChecksUnderRules(game::Replay replay, uint32_t rules) {
    // Installs the headless set-up and removes it again, like a player's re-recording.
    replay.header.rules = rules;
    return game::RecordAgain(std::move(replay)).checks;
}

}  // namespace board

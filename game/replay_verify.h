// Verification of replays without a window: the headless set-up the
// re-simulation runs on, and the check of one replay against its record.
// The --verify-replay option and the leaderboard's verification workers both
// use these, so there is one re-simulation in the program.
#pragma once

#include "game/replay.h"

namespace game {

// Installs the headless set-up: the Null audio driver, a drawing driver that
// shows nothing, default settings with sound and music off and no sprites.
// Note: it replaces the window and the sound of a running program; call it once, at start.
void InstallHeadlessSimulation();
// Re-simulates a replay on the headless set-up and compares it with its record;
// afterStep, when given, runs after every step (to read the game's state).
// Note: not reentrant (the game's state is program-wide); run one replay at a time.
ReplayVerdict VerifyReplay(const Replay& replay, const std::function<void()>& afterStep = {});
// Returns a replay as the game records the steps it holds: its check values,
// score and lives re-simulated, cut where the game ends, quit at its last step
// when it is still running there (a replay played otherwise, made whole again).
// Note: installs the headless set-up and removes it again; not reentrant.
Replay RecordAgain(Replay replay);
// Removes the headless set-up's drawing context (the audio driver stays Null).
void UninstallHeadlessSimulation();

}  // namespace game

// Replays of whole games: every game RunGame plays is recorded step by step
// and stored beside the score file when its run is stored; a replay can be
// re-simulated without a window to prove its score (a desync check against
// the check values taken every 60 steps), or played again in the window.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "game/replay_file.h"
#include "scores/scores.h"

namespace game {

// What re-simulating a replay found.
struct ReplayVerdict {
    uint32_t frames = 0;
    int64_t recordedScore = 0;
    int64_t simulatedScore = 0;
    bool ok = false;
    int64_t firstBadStep = -1;  // the first step whose check value differs, -1 for none
    std::string reason;         // why it is not ok ("" when ok)
};

// Returns the 32-bit check value of the game state: score, lives, the ship
// (position, heading, heat, timers), the wave and scroll state, every
// enemy's and shot's position, the number of sparks, and the six
// stream seeds.
uint32_t GameCheckValue();

// Starts recording the game just set up (RunGame calls it after GameSetup),
// noting the rules version in force.
void StartRecording();
// Stops recording at the end of the game loop and notes the final values.
void FinishRecording();
// Writes the finished recording as the replay of the stored run (durably,
// beside the score file); false (and one log line) when it could not be written.
bool StoreRecording(const scores::Scores& record);
// Returns the last recording (for tests and the recording script).
const Replay& LastRecording();

// Re-simulates a replay on the headless set-up the caller installed
// (InstallHeadlessSimulation in replay_verify.h, or a test's recording driver) and compares it
// with its record. afterStep, when given, runs after every step (to drop
// recorded draws). VerifyReplay (replay_verify.h) is the call to use.
// It runs under the replay's rules version.
// Note: the game state is left as the replay ends; the settings and the rules
// version it borrows are restored.
ReplayVerdict SimulateReplay(const Replay& replay, const std::function<void()>& afterStep = {});

// Plays a replay in the window at its recorded logical screen size (scaled to
// the window), with the player's name and "REPLAY" shown; the pointer does
// nothing, holding the right mouse button or Space plays four steps per
// frame, Escape ends it. It plays under the replay's rules version. Returns
// when it has ended (at once for rules this program does not know); stores nothing.
void WatchReplay(const Replay& replay);

}  // namespace game

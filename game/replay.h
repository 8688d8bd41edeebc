// Replays of whole games: every game RunGame plays is recorded step by step
// and stored beside the score file when its run is stored; a replay can be
// re-simulated without a window to prove its score (a desync check against
// the check values taken every 60 steps), or played again in the window.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/screen_stack.h"
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

// Re-simulation one step at a time, for a caller that shows the game as it
// goes (the browser viewer) and for SimulateReplay. Start sets up the replay's
// game and borrows the settings and rules version until the playback is
// destroyed; each Step plays one game step on the replay's input, checking the
// game's state against the recorded check values every 60 steps.
// Note: the replay must outlive the playback; one playback at a time (the
// game's state is program-wide).
class ReplayPlayback {
  public:
    ReplayPlayback();
    ~ReplayPlayback();
    ReplayPlayback(const ReplayPlayback&) = delete;
    ReplayPlayback& operator=(const ReplayPlayback&) = delete;

    // Sets up the replay's game; false (nothing set up) when its counts disagree or its rules
    // version is not known to this program.
    bool Start(const Replay& replay);
    // Plays the next step and returns true; returns false once no step is left to play (every
    // step played, or the game ended before the replay did), after ending the game as the
    // replay did (a quit) and taking the last check value due.
    bool Step();
    // Returns the steps played so far.
    uint32_t StepsDone() const { return static_cast<uint32_t>(done_); }
    // Returns the first step whose check value differed, or -1 while every one agreed.
    int64_t FirstBadStep() const { return firstBadStep_; }
    // Returns the step after which the game ended before the replay did, or 0.
    uint32_t EndedEarlyAt() const { return endedEarlyAt_; }
    // Returns true once Step has returned false.
    bool Finished() const { return finished_; }

  private:
    class Borrowed;
    // Compares the game's state with the check value recorded after stepsDone steps.
    void Check(size_t stepsDone);

    const Replay* replay_ = nullptr;
    std::unique_ptr<Borrowed> borrowed_;
    size_t next_ = 0;  // the step the game reads next (advanced by the input filter)
    size_t done_ = 0;
    int64_t firstBadStep_ = -1;
    uint32_t endedEarlyAt_ = 0;
    bool finished_ = false;
};

// Re-simulates a replay on the headless set-up the caller installed
// (InstallHeadlessSimulation in replay_verify.h, or a test's recording driver) and compares it
// with its record. afterStep, when given, runs after every step (to drop
// recorded draws). VerifyReplay (replay_verify.h) is the call to use.
// It runs under the replay's rules version.
// Note: the game state is left as the replay ends; the settings and the rules
// version it borrows are restored.
ReplayVerdict SimulateReplay(const Replay& replay, const std::function<void()>& afterStep = {});

// What the replay screen pops with.
inline constexpr int kReplayWatched = 4;

// Returns a screen that plays a replay in the window at its recorded logical
// screen size (scaled to the window), with the player's name and "REPLAY"
// shown; the pointer does nothing, holding the right mouse button or Space
// plays four steps per frame, Escape ends it. It plays under the replay's
// rules version, borrowing the game's state from when it is made until it
// is destroyed, and stores nothing. Returns null for a replay whose counts
// disagree or whose rules this program does not know.
std::unique_ptr<engine::Screen> WatchReplay(Replay replay);

}  // namespace game

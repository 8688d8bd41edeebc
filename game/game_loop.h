// One game from set-up to the stored score: the game-wide values, the six
// random streams and their reseeding rule, the set-up, the per-frame step
// (everything but the frame end, so tests and benchmarks can run the real
// loop headless) and the game's screen around them.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "engine/screen_stack.h"

namespace game {

// EndCode values.
inline constexpr int END_RUNNING = 0;
inline constexpr int END_GAME_OVER = 1;
inline constexpr int END_QUIT = 99;
// Frames from the loss of the last life to the end of the game.
inline constexpr int kDeathFrames = 120;
// Frames the last picture of a game stays before name entry (1.5 s).
inline constexpr int kEndDelayFrames = 90;
// What the game screen pops with.
inline constexpr int kGameEnded = 3;
// Entries of GameBest (0 unused, 1..30).
inline constexpr int kGameBestEntries = 31;

// 0 Easy, 1 Medium, 2 Hard; set by the title screen before a game.
extern int Difficulty;
// The level and option flags stored with each run.
extern int CurrentLevel;
extern int CurrentGameFlags;

extern int GameScore;
extern int GameBadges;  // this game awards none
extern std::array<int, kGameBestEntries> GameBest;
extern int Lives;
extern int Invulnerable;  // frames during which the player cannot be hurt
extern double Time;       // falls by 1 every frame
extern double ScrollSpeed;
extern int DeathTimer;  // frames since the last life was lost
extern int EndCode;     // END_RUNNING, END_GAME_OVER or END_QUIT

// The six stream seeds; each rises by one on every reseed.
extern int64_t WaveSeed;
extern int64_t TerrainSeed;
extern int64_t StarSeed;
extern int64_t ParticleSeed;
extern int64_t NebulaSeed;
extern int64_t PuffSeed;

// The input one game step reads: the pointer the frame end stored and the mouse buttons.
struct StepInput {
    int pointerX = 0;
    int pointerY = 0;
    bool left = false;
    bool right = false;
};

// Reseeds the generator from a stream's seed, advances the seed and discards 29 draws.
void StreamReseed(int64_t& seed);
// Sets up a new game on the current Difficulty: seeds, values, lists, ship, waves, terrain.
void GameSetup();
// Runs one game frame up to (not including) the end of its step, on the
// frame's input (a recorder notes it, a replay replaces it, through the step
// filter): music, trails, backdrop, waves, terrain, enemies, shots, ship,
// nebulae, input, status line, sparks and puffs, and game over.
void GameStep(StepInput input);
// Runs one game frame on the live input (LiveStepInput).
void GameStep();
// Returns this step's live input: the pointer the end of the last step stored and the buttons.
StepInput LiveStepInput();
// Finishes a frame after the end of its step: a result of 99 (a quit) ends the game; resets
// the draw state.
void GameFrameDone(int frameEndResult);
// Returns one game on the current Difficulty as a screen; the game is set up
// and its recording started when it is made. After the game it waits 1.5 s,
// pushes name entry, stores the record and pops with kGameEnded.
// Note: the record is added with scores::AddRun, which saves the score file at once.
std::unique_ptr<engine::Screen> MakeGameScreen();
// Installs a filter each game step passes its input through before it runs
// (a recorder notes it, a replay replaces it); null removes it.
void SetStepInputFilter(std::function<void(StepInput&)> filter);
// Installs the name-entry screen the game pushes after the game (the front end
// provides it); null: the run is stored under the name as it stands.
void SetNameEntryScreen(std::function<std::unique_ptr<engine::Screen>()> make);

}  // namespace game

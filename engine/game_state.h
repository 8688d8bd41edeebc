// The few game-wide flags the engine reads: whether a game is running (and
// paused) and how the settings panel treats the pointer.
#pragma once

namespace engine {

// 0 outside a game, 1 while a game runs, 2 while its pause menu is open.
extern int InGame;
// 0 lets the settings panel show the control grid; start-up sets it to 1.
extern int PointerMode;

// Resets the flags to their start values (no game, pointer mode 0).
void ResetGameState();

}  // namespace engine

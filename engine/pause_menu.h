// The pause menu a running game opens on Escape: the paused frame breathing
// behind a scatter of titles, and Continue or Quit.
#pragma once

#include <memory>

#include "engine/screen_stack.h"

namespace engine {

// What the pause menu pops with.
inline constexpr int kPauseContinue = 1;
inline constexpr int kPauseQuit = 99;

// Returns the pause menu over the frame EndStep grabbed when it was asked
// for; it pops with kPauseContinue or kPauseQuit once Escape is let go.
// Note: while it runs InGame is 2, and GameStartTime moves on by the time paused.
std::unique_ptr<Screen> MakePauseMenu();

}  // namespace engine

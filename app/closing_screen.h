// The closing screen: every orderly exit saves the settings and scores,
// writes the closing log lines, thanks the player, waits for a press and
// leaves the screen stack empty, so the program returns from main. Also the
// way out when the X server is gone.
#pragma once

#include <memory>
#include <string>

#include "engine/screen_stack.h"

namespace app {

// Saves what the player would lose (a run still waiting for its name, the
// settings, the score file); returns what was saved and what was not, e.g.
// "settings and scores saved" or "settings saved, scores NOT saved".
std::string SaveEverything();
// Returns true while any input that ends the closing screen is held: mouse
// button 1 or 2, a key or joystick input (F11/F12 alone do not count),
// Alt+F4 or a pending window-close request.
bool ClosingInputHeld();
// Returns the closing screen: it saves, thanks the player, waits for a press
// and pops with the exit status 0.
// Note: after a terminate signal it saves and logs, but neither draws nor waits.
std::unique_ptr<engine::Screen> MakeClosingScreen();
// Closes the window and the log once the screens are done.
void FinishProgram();
// Saves what the closing screen saves, logs the loss, says so in one line
// on standard error and ends the process with status 1, without touching the
// display again (the X server connection is gone).
[[noreturn]] void LeaveAfterLostDisplay();

}  // namespace app

// The closing screen: every orderly exit saves the settings and scores,
// writes the closing log lines, thanks the player, waits for a press and
// ends the process. Also the way out when the X server is gone.
#pragma once

#include <string>

namespace app {

// Saves what the player would lose (a run still waiting for its name, the
// settings, the score file); returns what was saved and what was not, e.g.
// "settings and scores saved" or "settings saved, scores NOT saved".
std::string SaveEverything();
// Returns true while any input that ends the closing screen is held: mouse
// button 1 or 2, a key or joystick input (F11/F12 alone do not count),
// Alt+F4 or a pending window-close request.
bool ClosingInputHeld();
// Saves, thanks the player, waits for a press and ends the process (status 0).
[[noreturn]] void CloseProgram();
// Runs the closing screen up to (not including) the process exit, so tests
// can watch it; CloseProgram calls it and then exits.
// Note: after a terminate signal it saves and logs, but neither draws nor waits.
void RunClosingScreen();
// Saves what the closing screen saves, logs the loss, says so in one line
// on standard error and ends the process with status 1, without touching the
// display again (the X server connection is gone).
[[noreturn]] void LeaveAfterLostDisplay();

}  // namespace app

// The closing screen: every orderly exit saves the settings and scores,
// writes the closing log lines, thanks the player, waits for a press and
// ends the process. Depends on the engine, the settings file and the scores.
#pragma once

namespace app {

// Returns true while any input that ends the closing screen is held: mouse
// button 1 or 2, a key or joystick input (F11/F12 alone do not count),
// Alt+F4 or a pending window-close request.
bool ClosingInputHeld();
// Saves, thanks the player, waits for a press and ends the process (status 0).
[[noreturn]] void CloseProgram();
// Runs the closing screen up to (not including) the process exit, so tests
// can watch it; CloseProgram calls it and then exits.
void RunClosingScreen();

}  // namespace app

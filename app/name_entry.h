// The name-entry screen after a game: "Enter Your Name" over the menu
// backdrop, editing PlayerName one typed character per frame until Enter, a
// left click or Escape accepts it. It lives with the other screens; the score
// library keeps only the data it edits. Typed characters are stored as the score
// file can carry them (see NameCharFor in scores.h).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "engine/screen_stack.h"

namespace app {

// The input and frame calls name entry makes; the defaults are the media
// layer's polls and the engine's end of a step. Tests replace members.
struct NameEntryCalls {
    std::function<void()> flushKeys;
    std::function<int()> getChar;
    std::function<int(int)> keyHit;
    std::function<int(int)> keyDown;
    std::function<int(int)> mouseDown;
    std::function<void()> frameEnd;
};

// Returns the calls name entry uses (tests may replace any of them).
NameEntryCalls& NameEntryIO();
// Restores the default calls.
void ResetNameEntryIO();
// Applies one frame's edit to a name: appends the typed code point (0 for
// none) as NameCharFor stores it, then removes the last character when
// Backspace was hit (any number of hits in one frame removes one).
void EditName(std::string& name, int typed, int backspaceHits);
// Returns the name-entry screen; it edits PlayerName and pops once the name is accepted.
// Note: it waits for Escape, Enter and the left button to be released before
// and after, with steps that draw nothing and sleep 5 ms on the desktop.
std::unique_ptr<engine::Screen> MakeNameEntry();
// Returns true while a name-entry screen is on the stack (a phone's page then
// opens its on-screen keyboard).
bool NameEntryOpen();

}  // namespace app

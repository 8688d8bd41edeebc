// The name-entry screen after a game: "Enter Your Name" over the menu
// backdrop, editing PlayerName one typed character per frame until Enter, a
// left click or Escape accepts it. Typed characters are stored as the score
// file can carry them (see NameCharFor in scores.h).
#pragma once

#include <functional>
#include <string>

namespace scores {

// The input and frame calls name entry makes; the defaults are the media
// layer's polls and the engine's FrameEnd. Tests replace members.
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
// Sets how the run that waits for its name is stored; the game sets it before
// name entry, so that a program closed on that screen still keeps the run.
void SetPendingRun(std::function<void()> store);
// Stores the run that waits for its name (under PlayerName as typed so far),
// once; does nothing when no run waits. The game calls it after name entry,
// every way out of the program before it saves.
void StorePendingRun();
// Runs the name-entry screen until the name is accepted; edits PlayerName.
// Note: waits for Escape, Enter and the left button to be released before
// and after, polling every 5 ms.
void NameEntry();

}  // namespace scores

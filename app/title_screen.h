// The front end: title picture and name, difficulty choice, the start
// button, the tabbed panel (high scores or About) and the settings hints.
#pragma once

#include <array>
#include <string>

namespace app {

inline constexpr int kStoryCapacity = 100;

// The About text, entries 1..StoryCount-1 (entry 0 unused).
extern std::array<std::string, kStoryCapacity> StoryLines;
// One past the last About entry; the tab draws entries 1..StoryCount.
extern int StoryCount;

// Front-end state shared with tests.
struct FrontEndState {
    int panelTab = 0;    // 0 high scores, 2 About
    int panelSlide = 0;  // 0..32
    bool clickLatch = false;
    bool startLatch = false;
    bool startHeld = false;
    bool escapeLatch = false;
};
extern FrontEndState FrontEnd;

// Fills StoryLines (start-up step 3).
void FillStoryLines();
// Runs one frame of the front end; returns true when Escape asks to quit.
bool FrontEndFrame();
// Runs the front end until the player quits, then the closing screen.
void RunFrontEnd();

}  // namespace app

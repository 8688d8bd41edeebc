// The front end: title picture and name, difficulty choice, the start
// button, the tabbed panel (high scores or About) and the settings hints.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "engine/screen_stack.h"

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
// Returns the title screen (front-end state reset): one frame per step until
// Escape asks to quit, when the closing screen takes its place.
std::unique_ptr<engine::Screen> MakeTitleScreen();

}  // namespace app

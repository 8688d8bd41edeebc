// The executors of the screen stack. The desktop's steps it in a loop,
// presents and paces every frame drawn, sleeps through the steps that drew
// nothing, and turns a close request into the closing screen. The browser's
// is called once per displayed frame and never blocks.
#pragma once

#include "engine/screen_stack.h"

namespace engine {

// Steps the stack once as the loop does; returns false once the stack is empty.
bool StepScreens(ScreenStack& stack);
// Steps the stack until no screen is left; returns what the last one popped with.
int RunScreens(ScreenStack& stack);
// Steps the stack for one displayed frame: nothing while the previous frame's
// time has not passed (a display faster than 60 Hz), else steps until one
// draws (and shows it) or maxSteps steps drew nothing; returns false once the
// stack is empty.
bool StepScreensForDisplay(ScreenStack& stack, int maxSteps);

}  // namespace engine

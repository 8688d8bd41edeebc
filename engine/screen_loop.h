// The desktop's executor: steps the screen stack in a loop, presents and
// paces every frame drawn, sleeps through the steps that drew nothing, and
// turns a close request into the closing screen.
#pragma once

#include "engine/screen_stack.h"

namespace engine {

// Steps the stack once as the loop does; returns false once the stack is empty.
bool StepScreens(ScreenStack& stack);
// Steps the stack until no screen is left; returns what the last one popped with.
int RunScreens(ScreenStack& stack);

}  // namespace engine

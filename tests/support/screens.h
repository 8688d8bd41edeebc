// Running a screen in a test as the desktop does: on a stack of its own, each
// frame drawn presented and paced on whatever clock the test installed.
#pragma once

#include <functional>
#include <memory>
#include <utility>

#include "engine/screen_loop.h"
#include "engine/screen_stack.h"

namespace zqtest {

// Steps a screen on a stack of its own until it has popped; returns what it popped with.
inline int RunScreen(std::unique_ptr<engine::Screen> screen) {
    engine::ScreenStack stack;
    stack.Push(std::move(screen));
    return engine::RunScreens(stack);
}

// A stand-in screen: runs a function on its one step and pops without drawing.
class CallScreen : public engine::Screen {
  public:
    explicit CallScreen(std::function<void()> call) : call_(std::move(call)) {}
    engine::StepResult Step() override {
        if (call_) call_();
        return engine::PopScreen(0, false);
    }

  private:
    std::function<void()> call_;
};

// Returns a maker of stand-in screens that each run call (for the game's name entry).
inline std::function<std::unique_ptr<engine::Screen>()> CallScreens(std::function<void()> call) {
    return [call] { return std::make_unique<CallScreen>(call); };
}

}  // namespace zqtest

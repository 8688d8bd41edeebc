// The screen stack: one step of the top screen and what it asked for.
#include "engine/screen_stack.h"

#include <utility>

namespace engine {

namespace {

ScreenStack g_screens;

StepResult Make(StepKind kind, std::unique_ptr<Screen> next, bool drew, int result) {
    StepResult r;
    r.kind = kind;
    r.next = std::move(next);
    r.drew = drew;
    r.result = result;
    return r;
}

}  // namespace

StepResult Drew() {
    return StepResult{};
}

StepResult Idle(int ms) {
    StepResult r;
    r.drew = false;
    r.idleMs = ms;
    return r;
}

StepResult PushScreen(std::unique_ptr<Screen> next, bool drew) {
    return Make(StepKind::Push, std::move(next), drew, 0);
}

StepResult PopScreen(int result, bool drew) {
    return Make(StepKind::Pop, nullptr, drew, result);
}

StepResult ReplaceScreen(std::unique_ptr<Screen> next, bool drew) {
    return Make(StepKind::Replace, std::move(next), drew, 0);
}

void ScreenStack::Push(std::unique_ptr<Screen> screen) {
    if (screen) screens_.push_back(std::move(screen));
}

void ScreenStack::PushAfterStep(std::unique_ptr<Screen> screen) {
    if (!screen) return;
    if (stepping_) {
        queued_.push_back(std::move(screen));
    } else {
        Push(std::move(screen));
    }
}

StepResult ScreenStack::Step() {
    StepResult r;
    if (!screens_.empty()) {
        stepping_ = true;
        r = screens_.back()->Step();
        stepping_ = false;
        if (quitting_) {
            Clear();
            quitting_ = false;
            return r;
        }
        switch (r.kind) {
            case StepKind::Go:
                break;
            case StepKind::Push:
                Push(std::move(r.next));
                break;
            case StepKind::Pop:
                screens_.pop_back();
                if (screens_.empty()) {
                    exitResult_ = r.result;
                } else {
                    screens_.back()->Resume(r.result);
                }
                break;
            case StepKind::Replace:
                screens_.pop_back();
                Push(std::move(r.next));
                break;
        }
    } else {
        r.drew = false;
    }
    for (auto& screen : queued_) Push(std::move(screen));
    queued_.clear();
    return r;
}

void ScreenStack::Clear() {
    // Destroyed top first, as they would have popped.
    while (!screens_.empty()) screens_.pop_back();
    queued_.clear();
}

void ScreenStack::Quit(int status) {
    exitResult_ = status;
    if (stepping_) {
        quitting_ = true;
    } else {
        Clear();
    }
}

ScreenStack& Screens() {
    return g_screens;
}

}  // namespace engine

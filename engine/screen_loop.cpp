// The desktop's executor around the screen stack.
#include "engine/screen_loop.h"

#include "engine/frame_end.h"
#include "engine/hooks.h"
#include "engine/media/clock.h"

namespace engine {

namespace {

// Whatever was running, a close request leads to the closing screen alone.
void HandleCloseRequest(ScreenStack& stack) {
    if (TakeCloseRequest() && Hooks().closingScreen) {
        stack.Clear();
        stack.Push(Hooks().closingScreen());
    }
}

}  // namespace

bool StepScreens(ScreenStack& stack) {
    if (stack.Empty()) return false;
    const StepResult r = stack.Step();
    if (r.drew) {
        PresentFrame();
    } else if (r.idleMs > 0) {
        media::Delay(r.idleMs);
    }
    HandleCloseRequest(stack);
    return !stack.Empty();
}

bool StepScreensForDisplay(ScreenStack& stack, int maxSteps) {
    if (stack.Empty()) return false;
    if (!FrameTimeReached()) return true;
    for (int k = 0; k < maxSteps && !stack.Empty(); ++k) {
        const bool drew = stack.Step().drew;
        if (drew) ShowFrame();
        HandleCloseRequest(stack);
        if (drew) break;
    }
    return !stack.Empty();
}

int RunScreens(ScreenStack& stack) {
    while (StepScreens(stack)) {
    }
    return stack.ExitResult();
}

}  // namespace engine

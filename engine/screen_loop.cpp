// The desktop's executor around the screen stack.
#include "engine/screen_loop.h"

#include "engine/frame_end.h"
#include "engine/hooks.h"
#include "engine/media/clock.h"

namespace engine {

bool StepScreens(ScreenStack& stack) {
    if (stack.Empty()) return false;
    const StepResult r = stack.Step();
    if (r.drew) {
        PresentFrame();
    } else if (r.idleMs > 0) {
        media::Delay(r.idleMs);
    }
    // Whatever was running, a close request leads to the closing screen alone.
    if (TakeCloseRequest() && Hooks().closingScreen) {
        stack.Clear();
        stack.Push(Hooks().closingScreen());
    }
    return !stack.Empty();
}

int RunScreens(ScreenStack& stack) {
    while (StepScreens(stack)) {
    }
    return stack.ExitResult();
}

}  // namespace engine

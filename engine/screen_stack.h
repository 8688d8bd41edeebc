// Screens that step one frame at a time on a stack. A screen keeps what a loop
// would have kept in locals and says after each frame whether it goes on,
// pushes another screen or pops with a result for the one below; an executor
// (a loop on the desktop, the page's frame callback in a browser) steps the
// stack, presents the frames drawn and paces them.
#pragma once

#include <memory>
#include <vector>

namespace engine {

class Screen;

// What the stack does after a step.
enum class StepKind {
    Go,       // the screen stays on top
    Push,     // next goes on top of it
    Pop,      // the screen leaves; result goes to the screen below
    Replace,  // the screen leaves and next takes its place
};

// One step's outcome.
struct StepResult {
    StepKind kind = StepKind::Go;
    bool drew = true;  // a frame was drawn and ended: the executor presents it
    int idleMs = 0;    // with nothing drawn, how long a desktop may sleep before the next step
    int result = 0;    // for Pop: what the screen below is told
    std::unique_ptr<Screen> next;  // for Push and Replace
};

// One screen: a frame's work per Step.
class Screen {
  public:
    virtual ~Screen() = default;
    // Does one frame's work and says what comes next.
    virtual StepResult Step() = 0;
    // Takes the result of the screen this one pushed, once that screen has popped.
    virtual void Resume(int /*result*/) {}
};

// Returns a step that drew a frame and goes on.
StepResult Drew();
// Returns a step that drew nothing and goes on; a desktop sleeps about ms before the next.
StepResult Idle(int ms);
// Returns a step that puts next on top (drew: whether this step ended a frame).
StepResult PushScreen(std::unique_ptr<Screen> next, bool drew);
// Returns a step that leaves with a result for the screen below.
StepResult PopScreen(int result, bool drew);
// Returns a step that leaves and puts next in its place.
StepResult ReplaceScreen(std::unique_ptr<Screen> next, bool drew);

// "Wait until it is let go" as a value: Blocks() is true from Arm() until the
// first poll that sees the input released.
class Latch {
  public:
    explicit Latch(bool armed = false) : armed_(armed) {}
    // Holds the latch until the input is next seen released.
    void Arm() { armed_ = true; }
    // Notes this frame's input; returns true while the latch still holds.
    bool Blocks(bool held) {
        if (!held) armed_ = false;
        return armed_;
    }

  private:
    bool armed_;
};

// The stack of screens; the top one steps.
class ScreenStack {
  public:
    // Puts a screen on top.
    void Push(std::unique_ptr<Screen> screen);
    // Puts a screen on top once the step under way has finished, or at once
    // between steps (a step may ask for one from deep inside, e.g. the settings
    // panel's Apply).
    void PushAfterStep(std::unique_ptr<Screen> screen);
    // Steps the top screen and carries out what it asked; returns its outcome
    // (next is moved out). An empty stack does nothing and reports no frame.
    StepResult Step();
    // Removes every screen (the ones below the top are destroyed unstepped).
    void Clear();
    // Removes every screen, once the step under way (if any) has finished, and
    // makes status the exit result: the way out when the program cannot go on.
    void Quit(int status);
    // Returns true when no screen is left.
    bool Empty() const { return screens_.empty() && queued_.empty(); }
    // Returns the number of screens on the stack.
    size_t Depth() const { return screens_.size(); }
    // Returns what the last screen to leave an empty stack popped with.
    int ExitResult() const { return exitResult_; }

  private:
    std::vector<std::unique_ptr<Screen>> screens_;
    std::vector<std::unique_ptr<Screen>> queued_;
    int exitResult_ = 0;
    bool stepping_ = false;
    bool quitting_ = false;
};

// Returns the program's screen stack.
ScreenStack& Screens();

}  // namespace engine

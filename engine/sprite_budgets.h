// The engine test run on every (re)opening of the window: a short logo
// animation, then ever more invisible sprites per frame until the measured
// frame rate drops; the largest load that held the rate sets the per-frame
// sprite budgets, and a machine below the minimum is switched to slow-system
// mode.
#pragma once

#include <functional>
#include <memory>

#include "engine/screen_stack.h"

namespace engine {

// The frame rate aimed at: 60, or 30 on a slow system.
extern int TargetRate;
// The largest sprites per frame that held the rate; 0 when none did.
extern int BestLoad;

// Returns the engine test as a screen: it measures the machine over about 350
// frames and sets DrawBudgets, TargetRate and possibly slow-system mode, then
// runs done and pops. aim is the rate to hold.
// Note: it starts (overlay off, starting budgets, the first log lines) when made.
std::unique_ptr<Screen> MakeEngineTest(int aim, double spriteScale, std::function<void()> done);
// Resets TargetRate to 60 and BestLoad to 0.
void ResetEngineTest();

}  // namespace engine

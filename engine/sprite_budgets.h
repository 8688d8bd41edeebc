// The engine test run on every (re)opening of the window: a short logo
// animation, then ever more invisible sprites per frame until the measured
// frame rate drops; the largest load that held the rate sets the per-frame
// sprite budgets, and a machine below the minimum is switched to slow-system
// mode.
#pragma once

namespace engine {

// The frame rate aimed at: 60, or 30 on a slow system.
extern int TargetRate;
// The largest sprites per frame that held the rate; 0 when none did.
extern int BestLoad;

// Measures the machine and sets DrawBudgets, TargetRate and possibly slow-system mode.
// Note: runs about 350 full frames through FrameEnd; aim is the rate to hold.
void EngineTest(int aim, double spriteScale);
// Resets TargetRate to 60 and BestLoad to 0.
void ResetEngineTest();

}  // namespace engine

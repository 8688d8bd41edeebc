// The replay options of the command line: "--replay FILE" starts the program
// and plays the file at once, "--verify-replay FILE..." re-simulates files
// without a display and prints one JSON line each. Also connects the
// high-score panel's "Watch" button to playback.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace app {

// ReplayOption's result when the program should start and play the file.
inline constexpr int kStartWithReplay = -2;
// Runs "--verify-replay FILE..." at argv[i] (taking every argument after it);
// returns the exit status to leave with.
int VerifyReplayOption(int argc, char** argv, int& i);
// Reads "--replay FILE" at argv[i] (advancing i past FILE): kStartWithReplay
// when the program should start and play the file, else the exit status.
int ReplayOption(int argc, char** argv, int& i);
// Puts the replay given with --replay, if any, on the screen stack above the title screen.
void PlayPendingReplay();
// Connects the high-score panel's Watch button to playback.
void InstallReplayHooks();
// Re-simulates replay files headless, printing one JSON line per file to out
// and reasons to err; returns 0 when all match, 1 when any differs, 2 when
// any cannot be read.
int VerifyReplays(const std::vector<std::string>& files, std::FILE* out, std::FILE* err);

}  // namespace app

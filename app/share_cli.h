// The "--share" command: sends replays (or the queue of runs waiting to be
// shared) to a board without a display, waits for the verdicts and prints one
// JSON line per run. Also connects the game's background sharing to the
// high-score panel and the game's end.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace app {

// What the command line asked of --share.
struct ShareOptions {
    std::vector<std::string> files;  // absolute paths; empty: the queue
    std::string board;               // --board URL ("" for the one in "Board.ini")
    std::string error;               // why the arguments are wrong ("" when fine)
};

// Reads the arguments after "--share"; relative files are made absolute
// against currentDir.
ShareOptions ParseShareArguments(const std::vector<std::string>& args,
                                 const std::string& currentDir);
// Sends the runs, prints one JSON line each to out ("file", "id", "state", and
// "rank" or "reason") and problems to err; returns 0 when every run was
// accepted, 1 when the board rejected one, 2 when one could not be read or
// sent (a readable run that could not be sent is queued). The program's paths
// must be fixed.
int RunShareCommand(const ShareOptions& options, std::FILE* out, std::FILE* err);
// Connects the panel's board line and Share button and the game's end to the
// background sharing.
void InstallShareHooks();

}  // namespace app

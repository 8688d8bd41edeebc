// Where the program reads its shipped data and writes its own files. The
// paths are worked out once at start-up (portable folder or installed layout)
// and every later read or write of a program file goes through them, so a
// changed current directory can never move a write.
#pragma once

#include <string>

namespace media {

// The program's folders and files. Every entry is absolute; folders end in "/".
struct TProgramPaths {
    std::string filesDir;       // the shipped data folder, holding "Common/" and "274/"
    std::string setupFile;      // the settings file "Setup.ini"
    std::string logFile;        // the log "Debug.txt"
    std::string scoreFile;      // the score file "nuscores.dat"
    std::string crashMarker;    // the marker "crash.dat"
    std::string screenshotDir;  // the folder screenshots are saved into
    bool installed = false;     // true for the installed (per-user folders) layout
    std::string gameDir;        // the game's own folder ("Files/274/")
};

// Returns the paths fixed at start-up (all empty before that).
const TProgramPaths& ProgramPaths();
// Fixes the program's paths; called once by start-up, and by tests.
void SetProgramPaths(const TProgramPaths& paths);

}  // namespace media

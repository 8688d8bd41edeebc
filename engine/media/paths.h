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

// What the folder rule found: the paths, and a one-line problem report
// (empty when the data folder was found where expected).
struct TPathChoice {
    TProgramPaths paths;
    std::string problem;
};

// Returns the paths fixed at start-up (all empty before that).
const TProgramPaths& ProgramPaths();
// Fixes the program's paths; called once by start-up, and by tests.
void SetProgramPaths(const TProgramPaths& paths);
// Returns path when it is set, else fallback (code that runs before start-up
// fixed the paths, and tests, use names relative to the current folder).
std::string ProgramPathOr(const std::string& path, const char* fallback);

// Resolves the portable layout: the first of currentDir and exeDir whose
// "Files/Common" is a folder holds the data. When neither does, the paths lie
// in exeDir's "Files/" (currentDir's when exeDir is empty) and problem names
// the folder looked in. gameFolder is the game's folder name ("274/").
// Touches nothing on disk beyond looking.
TPathChoice ResolvePortablePaths(const std::string& currentDir, const std::string& exeDir,
                                 const std::string& gameFolder);
// Creates the data folder and the game folder when they are missing; returns
// true when both are folders afterwards.
bool CreateProgramFolders(const TProgramPaths& paths);

}  // namespace media

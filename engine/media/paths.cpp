// Storage for the program's folders and files, fixed once at start-up, and
// the portable folder rule that works them out.
#include "engine/media/paths.h"

#include "engine/media/folders.h"

namespace media {

namespace {

TProgramPaths g_paths;

bool HoldsData(const std::string& dir) {
    return !dir.empty() && FileType(AsFolder(dir) + "Files/Common") == 2;
}

}  // namespace

const TProgramPaths& ProgramPaths() {
    return g_paths;
}

void SetProgramPaths(const TProgramPaths& paths) {
    g_paths = paths;
}

std::string ProgramPathOr(const std::string& path, const char* fallback) {
    return path.empty() ? std::string(fallback) : path;
}

TPathChoice ResolvePortablePaths(const std::string& currentDir, const std::string& exeDir,
                                 const std::string& gameFolder) {
    TPathChoice choice;
    std::string base;
    if (HoldsData(currentDir)) {
        base = currentDir;
    } else if (HoldsData(exeDir)) {
        base = exeDir;
    } else {
        base = exeDir.empty() ? currentDir : exeDir;
        std::string looked = "\"" + AsFolder(currentDir) + "Files/Common\"";
        if (!exeDir.empty() && AsFolder(exeDir) != AsFolder(currentDir)) {
            looked += " or \"" + AsFolder(exeDir) + "Files/Common\"";
        }
        choice.problem = "zarquill: game data not found (no folder " + looked +
                         "); keeping files in \"" + AsFolder(base) + "Files/\"";
    }
    TProgramPaths& p = choice.paths;
    p.filesDir = AsFolder(base) + "Files/";
    p.gameDir = p.filesDir + AsFolder(gameFolder);
    p.setupFile = p.filesDir + "Setup.ini";
    p.logFile = p.filesDir + "Debug.txt";
    p.scoreFile = p.gameDir + "nuscores.dat";
    p.crashMarker = p.gameDir + "crash.dat";
    p.screenshotDir = p.filesDir;
    return choice;
}

bool CreateProgramFolders(const TProgramPaths& paths) {
    bool files = MakeFolders(paths.filesDir);
    return MakeFolders(paths.gameDir) && files;
}

}  // namespace media

// The installed layout: the per-user folders, the choice of layout at start-up, and the
// private folders and seed copies made for it.
#include "engine/media/installed_layout.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "engine/media/durable_file.h"
#include "engine/media/files.h"
#include "engine/media/folders.h"

namespace media {

namespace {

constexpr const char* kProgramFolder = "zarquill/";
// user-dirs.dirs is a handful of lines; a longer file is read no further.
constexpr int kMaxUserDirsLines = 1000;
// The settings and score files a portable folder seeds are small; anything larger is not
// copied (the player starts afresh rather than the program reading without end).
constexpr int64_t kMaxSeedBytes = 16 * 1024 * 1024;

bool IsAbsolute(const std::string& path) {
    return !path.empty() && path[0] == '/';
}

// Returns the variable's value when it is an absolute path, else home + fallback.
std::string BaseFolder(const TXdgInputs& in, const char* name, const std::string& home,
                       const char* fallback) {
    std::string value = in.env(name);
    return IsAbsolute(value) ? AsFolder(value) : home + fallback;
}

// Returns the XDG_PICTURES_DIR of a user-dirs.dirs text, or "" when it has no usable one. A
// value is "$HOME/..." or an absolute path, in double quotes; the last assignment counts.
std::string PicturesFromUserDirs(const std::string& text, const std::string& home) {
    std::string found;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        size_t lead = line.find_first_not_of(" \t");
        if (lead == std::string::npos || line.compare(lead, 17, "XDG_PICTURES_DIR=") != 0) continue;
        std::string raw = line.substr(lead + 17);
        while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\t' || raw.back() == '\r'))
            raw.pop_back();
        if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"')
            raw = raw.substr(1, raw.size() - 2);
        std::string value;
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '\\' && i + 1 < raw.size())
                ++i;  // an escaped character stands for itself
            value += raw[i];
        }
        if (value == "$HOME" || value.compare(0, 6, "$HOME/") == 0) {
            found = home + value.substr(value.size() > 5 ? 6 : 5);
        } else if (IsAbsolute(value)) {
            found = value;
        }
    }
    return found.empty() ? "" : AsFolder(found);
}

}  // namespace

TXdgInputs SystemXdgInputs() {
    TXdgInputs in;
    in.env = [](const std::string& name) {
        const char* value = std::getenv(name.c_str());
        return std::string(value ? value : "");
    };
    in.readText = [](const std::string& path) {
        std::string text;
        std::unique_ptr<TStream> stream = ReadFile(path);
        for (int n = 0; stream && !stream->Eof() && n < kMaxUserDirsLines; ++n) {
            text += stream->ReadLine() + "\n";
        }
        CloseFile(stream);
        return text;
    };
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir) {
        in.accountHome = found->pw_dir;
    }
    return in;
}

TXdgFolders ResolveXdgFolders(const TXdgInputs& in) {
    std::string home = in.env("HOME");
    if (!IsAbsolute(home)) home = in.accountHome;
    if (!IsAbsolute(home)) return {};
    home = AsFolder(home);

    TXdgFolders folders;
    const std::string config = BaseFolder(in, "XDG_CONFIG_HOME", home, ".config/");
    folders.config = config + kProgramFolder;
    folders.data = BaseFolder(in, "XDG_DATA_HOME", home, ".local/share/") + kProgramFolder;
    folders.state = BaseFolder(in, "XDG_STATE_HOME", home, ".local/state/") + kProgramFolder;
    std::string pictures = PicturesFromUserDirs(in.readText(config + "user-dirs.dirs"), home);
    folders.pictures = (pictures.empty() ? home + "Pictures/" : pictures) + kProgramFolder;
    return folders;
}

TProgramPaths InstalledPaths(const std::string& filesDir, const std::string& gameFolder,
                             const TXdgFolders& folders) {
    TProgramPaths p;
    p.filesDir = AsFolder(filesDir);
    p.gameDir = p.filesDir + AsFolder(gameFolder);
    p.setupFile = folders.config + "Setup.ini";
    p.logFile = folders.state + "Debug.txt";
    p.scoreFile = folders.data + AsFolder(gameFolder) + "nuscores.dat";
    p.crashMarker = folders.state + "crash.dat";
    p.screenshotDir = folders.pictures;
    p.installed = true;
    return p;
}

TLayoutInputs SystemLayoutInputs(const std::string& gameFolder,
                                 const std::string& installedFilesRel) {
    TLayoutInputs in;
    in.currentDir = CurrentDir();
    in.exeDir = ExecutableDir();
    in.gameFolder = gameFolder;
    in.installedFilesRel = installedFilesRel;
    in.xdg = SystemXdgInputs();
    in.writable = [](const std::string& dir) { return ::access(dir.c_str(), W_OK) == 0; };
    return in;
}

TLayoutChoice ChooseProgramPaths(const TLayoutInputs& in) {
    TLayoutChoice layout;
    layout.choice = ResolvePortablePaths(in.currentDir, in.exeDir, in.gameFolder);
    const TProgramPaths& portable = layout.choice.paths;
    std::string dataDir;
    if (layout.choice.problem.empty()) {
        // The game folder may be missing: start-up creates it in a writable data folder.
        if (in.writable(portable.filesDir) &&
            (FileType(portable.gameDir) != 2 || in.writable(portable.gameDir))) {
            return layout;
        }
        dataDir = portable.filesDir;
        layout.seedSetup = portable.setupFile;
        layout.seedScores = portable.scoreFile;
    } else if (IsAbsolute(in.exeDir) && !in.installedFilesRel.empty()) {
        std::string installed =
            std::filesystem::path(AsFolder(in.exeDir) + in.installedFilesRel).lexically_normal();
        if (FileType(AsFolder(installed) + "Common") == 2) dataDir = installed;
    }
    if (dataDir.empty()) return layout;

    TXdgFolders folders = ResolveXdgFolders(in.xdg);
    if (!folders.Ok()) {
        layout.choice.problem =
            "zarquill: no home folder (HOME is unset or relative); "
            "settings, scores and the log cannot be kept";
        layout.seedSetup.clear();
        layout.seedScores.clear();
        return layout;
    }
    layout.choice.problem.clear();
    layout.choice.paths = InstalledPaths(dataDir, in.gameFolder, folders);
    return layout;
}

bool PrepareInstalledFolders(const TLayoutChoice& layout) {
    const TProgramPaths& p = layout.choice.paths;
    if (!p.installed) return true;
    bool ok = MakeFolders(FolderOf(p.setupFile), kPrivateFolderMode);
    ok = MakeFolders(FolderOf(p.scoreFile), kPrivateFolderMode) && ok;
    ok = MakeFolders(FolderOf(p.logFile), kPrivateFolderMode) && ok;
    if (!layout.seedSetup.empty()) ok = SeedFile(layout.seedSetup, p.setupFile) && ok;
    if (!layout.seedScores.empty()) ok = SeedFile(layout.seedScores, p.scoreFile) && ok;
    return ok;
}

bool SeedFile(const std::string& from, const std::string& to) {
    if (FileType(to) != 0 || FileType(from) != 1) return true;
    return CopyFileDurable(from, to, kMaxSeedBytes);
}

}  // namespace media

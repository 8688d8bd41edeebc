// The per-user folders of the installed layout, and the private folders made for them.
#include "engine/media/xdg_folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "engine/media/files.h"

namespace media {

namespace {

constexpr const char* kProgramFolder = "zarquill/";
// user-dirs.dirs is a handful of lines; a longer file is read no further.
constexpr int kMaxUserDirsLines = 1000;

bool IsAbsolute(const std::string& path) { return !path.empty() && path[0] == '/'; }

// Returns dir with exactly one "/" at its end.
std::string Slashed(std::string dir) {
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (dir != "/") dir += '/';
    return dir;
}

// Returns the variable's value when it is an absolute path, else home + fallback.
std::string BaseFolder(const TXdgInputs& in, const char* name, const std::string& home,
                       const char* fallback) {
    std::string value = in.env(name);
    return IsAbsolute(value) ? Slashed(value) : home + fallback;
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
            if (raw[i] == '\\' && i + 1 < raw.size()) ++i;  // an escaped character stands for itself
            value += raw[i];
        }
        if (value == "$HOME" || value.compare(0, 6, "$HOME/") == 0) {
            found = home + value.substr(value.size() > 5 ? 6 : 5);
        } else if (IsAbsolute(value)) {
            found = value;
        }
    }
    return found.empty() ? "" : Slashed(found);
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
    home = Slashed(home);

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
    p.filesDir = Slashed(filesDir);
    p.gameDir = p.filesDir + Slashed(gameFolder);
    p.setupFile = folders.config + "Setup.ini";
    p.logFile = folders.state + "Debug.txt";
    p.scoreFile = folders.data + Slashed(gameFolder) + "nuscores.dat";
    p.crashMarker = folders.state + "crash.dat";
    p.screenshotDir = folders.pictures;
    p.installed = true;
    return p;
}

bool MakePrivateFolders(const std::string& dir) {
    if (!IsAbsolute(dir)) return false;
    const std::string target = Slashed(dir);
    for (size_t slash = target.find('/', 1); slash != std::string::npos;
         slash = target.find('/', slash + 1)) {
        const std::string part = target.substr(0, slash);
        if (FileType(part) != 2 && ::mkdir(part.c_str(), 0700) != 0 && FileType(part) != 2) {
            return false;
        }
    }
    return FileType(target) == 2;
}

}  // namespace media

// The player's own folders of the installed layout, after the XDG base-directory and
// user-directory rules: settings in the config home, scores in the data home, the log and the
// crash marker in the state home, screenshots in the pictures folder. Working them out is a
// pure function of the environment and one file, so every rule can be checked in a table.
#pragma once

#include <functional>
#include <string>

#include "engine/media/paths.h"

namespace media {

// What the resolution reads from outside.
struct TXdgInputs {
    // Returns an environment variable's value ("" when unset).
    std::function<std::string(const std::string&)> env;
    // Returns a small text file's contents ("" when it cannot be read).
    std::function<std::string(const std::string&)> readText;
    // The home folder from the user database, used when HOME is unset or relative.
    std::string accountHome;
};

// The program's folder inside each per-user folder; every entry is absolute and ends in "/".
struct TXdgFolders {
    std::string config;    // $XDG_CONFIG_HOME/zarquill/
    std::string data;      // $XDG_DATA_HOME/zarquill/
    std::string state;     // $XDG_STATE_HOME/zarquill/
    std::string pictures;  // XDG_PICTURES_DIR/zarquill/
    bool Ok() const { return !config.empty(); }
};

// Returns the real environment, user-dirs file reader and account home.
TXdgInputs SystemXdgInputs();
// Works out the per-user folders; all empty when no absolute home folder is known.
// Note: relative XDG_* values are ignored, as the XDG rules ask.
TXdgFolders ResolveXdgFolders(const TXdgInputs& in);
// Returns the installed layout's paths: data read from filesDir (which holds gameFolder),
// the player's files in the per-user folders.
TProgramPaths InstalledPaths(const std::string& filesDir, const std::string& gameFolder,
                             const TXdgFolders& folders);
// Creates a folder and every missing folder above it with mode 0700 (folders that exist are
// left as they are); returns true when dir is a folder afterwards.
bool MakePrivateFolders(const std::string& dir);

}  // namespace media

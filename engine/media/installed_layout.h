// The installed layout and the choice of layout at start-up. Installed, the program reads its
// data from a folder found relative to the executable and keeps the player's own files in the
// per-user folders of the XDG base-directory and user-directory rules: settings in the config
// home, scores in the data home, the log and the crash marker in the state home, screenshots in
// the pictures folder. Working those folders out is a pure function of the environment and one
// file, so every rule can be checked in a table.
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
// What the layout choice looks at.
struct TLayoutInputs {
    std::string currentDir;
    std::string exeDir;             // "" when unknown
    std::string gameFolder;         // the game's folder name ("274/")
    std::string installedFilesRel;  // from the executable's folder to the installed "Files/"
    TXdgInputs xdg;
    // Returns true when files can be created in the folder.
    std::function<bool(const std::string&)> writable;
};

// The layout in use, and where a read-only portable folder's own files are (empty otherwise):
// the installed layout starts from copies of them.
struct TLayoutChoice {
    TPathChoice choice;
    std::string seedSetup;
    std::string seedScores;
};

// Returns the real inputs of the layout choice.
TLayoutInputs SystemLayoutInputs(const std::string& gameFolder,
                                 const std::string& installedFilesRel);
// Chooses the layout: a portable folder holding "Files/Common" (the current folder first, then
// the executable's) when it can be written; the installed layout over that folder's data when
// it cannot; else the installed layout when the data lies at installedFilesRel from the
// executable; else the portable rule's own answer for a missing data folder.
TLayoutChoice ChooseProgramPaths(const TLayoutInputs& in);
// Creates the per-user folders the installed layout writes into at start-up (not the pictures
// folder, made by the first screenshot) and copies a read-only portable folder's settings and
// score file into them when the player has none yet. Returns false when a folder is missing.
bool PrepareInstalledFolders(const TLayoutChoice& layout);
// Copies a file byte for byte through the durable writer when to does not exist yet and from
// is a regular file; returns true when to exists afterwards or there was nothing to copy.
bool SeedFile(const std::string& from, const std::string& to);

}  // namespace media

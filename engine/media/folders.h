// Folders and what lies at a path: the kind of entry, deletion, the current
// and the executable's folder, folder names with and without their "/",
// creating folders and listing their files.
#pragma once

#include <string>
#include <vector>

namespace media {

// Mode of the folders that hold the player's own files in the installed layout.
inline constexpr unsigned kPrivateFolderMode = 0700;
// Mode of every other folder the program makes.
inline constexpr unsigned kSharedFolderMode = 0755;

// Returns 0 when nothing is at path, 1 for a file, 2 for a folder.
int FileType(const std::string& path);
// Removes a file; returns true when nothing is left at the path.
bool DeleteFile(const std::string& path);
// Changes the current directory; returns true on success.
bool ChangeDir(const std::string& path);
// Returns the current directory.
std::string CurrentDir();
// Returns the folder holding the running executable, without a "/" at its end
// ("" when unknown).
std::string ExecutableDir();
// Returns dir with exactly one "/" at its end ("/" stays "/").
std::string AsFolder(std::string dir);
// Returns the folder part of path up to and including its last "/" ("" for a bare name).
std::string FolderOf(const std::string& path);
// Creates a folder and every missing folder above it with the given mode
// (folders that exist are left as they are); returns true when dir is a
// folder afterwards.
bool MakeFolders(const std::string& dir, unsigned mode = kSharedFolderMode);
// Returns the names of the regular files in a folder (no "." entries); empty
// when it cannot be read.
std::vector<std::string> ListFiles(const std::string& folder);

}  // namespace media

// The settings file "Setup.ini": the forgiving reader that runs once at
// start-up and the writer that lays the file out anew whenever the settings
// may have changed.
#pragma once

namespace app {

// The settings file's name. It lives at the path fixed at start-up: "Files/"
// of a portable folder, the per-user config folder when installed.
inline constexpr const char* kSetupFileName = "Setup.ini";
// The notice shown when the settings could not be saved.
inline constexpr const char* kSetupNotSavedNotice = "Couldn't save the settings!";

// Reads "Setup.ini" (the path fixed at start-up, else the current folder's) into Setup and KeyMap
// when it exists (a missing file leaves the tables as they are; one that is there but cannot be
// read, or is over 1 MiB, does too and logs a line), clamps volumes to 0..100 and sizes to
// 0..16384, and notes whether the file named an audio driver.
void LoadSetup();
// Writes "Setup.ini" from Setup, KeyMap and AudioDriverNames at the path fixed
// at start-up (before that: "../Setup.ini", from the game folder), replacing
// the file durably; the current folder plays no part. Returns false when the
// file could not be written, or was there but unreadable, in which case the
// old file is left byte-identical, a line is logged and a notice shown.
bool SaveSetup();
// Returns true when the last LoadSetup read an "AudioDriver" line (whether or
// not it named a listed driver), which turns off the automatic driver choice.
bool AudioDriverChosen();

}  // namespace app

// The settings file "Setup.ini": the forgiving reader that runs once at
// start-up (in "Files/") and the writer that lays the file out anew whenever
// the settings may have changed. Depends on the settings tables
// (engine/setup_table.h), the log, the field reader and the media layer's files.
#pragma once

namespace app {

// The settings file's name, in "Files/".
inline constexpr const char* kSetupFileName = "Setup.ini";

// Reads "Setup.ini" (the path fixed at start-up, else the current folder's) into Setup and KeyMap when it
// exists (a missing or unreadable file leaves the tables as they are and logs
// nothing), and notes whether the file named an audio driver.
void LoadSetup();
// Writes "Setup.ini" from Setup, KeyMap and AudioDriverNames at the path fixed
// at start-up (before that: "../Setup.ini", from the game folder), replacing
// the file durably; the current folder plays no part. Returns false when the file could not be written, in which
// case the old file is left byte-identical.
bool SaveSetup();
// Returns true when the last LoadSetup read an "AudioDriver" line (whether or
// not it named a listed driver), which turns off the automatic driver choice.
bool AudioDriverChosen();

}  // namespace app

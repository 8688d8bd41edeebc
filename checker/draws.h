// The replay checker's draw-list mode: plays a replay on the viewer's set-up
// (the game's normal drawing, the viewer's fonts and images) with the recording
// driver, and prints every draw call of chosen steps in a canonical text, so
// that the native and the WebAssembly build can be compared call by call.
#pragma once

#include <string>
#include <vector>

namespace checker {

// Where the draws mode finds the game's data.
struct DrawsSource {
    std::string filesDir;  // the runnable folder's Files/ (folders; native: every asset)
    std::string packFile;  // the viewer's data pack ("" natively): glyphs and image sizes
};

// Prints the draw lists of the steps (1-based, ascending) of one replay file to standard output;
// returns 0, or 2 with a line on standard error when the data or the replay cannot be used.
int PrintDraws(const DrawsSource& source, const std::vector<uint32_t>& steps,
               const std::string& replayFile);

}  // namespace checker

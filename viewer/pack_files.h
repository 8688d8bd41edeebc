// The data pack's game files put in place for a browser program (the viewer
// and the browser game): the game's files into the in-memory file system and
// the baked glyphs to the font layer. The pictures the page decoded itself
// are handed over before (media::AddDecodedImage).
#pragma once

#include <string>
#include <string_view>

namespace viewer {

// Where the pack's game files go, and the game folder the game reads from.
inline constexpr const char* kPackFilesRoot = "/Files/";
inline constexpr const char* kPackGameFolder = "/Files/274";

// Reads the data pack and puts its files in place; false with the reason in
// why (which names the damaged entry) when the pack cannot be used.
bool InstallPackFiles(std::string_view pack, std::string& why);

}  // namespace viewer

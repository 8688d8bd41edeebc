// The program's identity values: the game's number in the weekly series, the
// series and game names, the window title and the game folder's name.
#pragma once

#include <string>

namespace engine {

inline constexpr int WeekNumber = 274;
inline constexpr const char* SeriesName = "Vantrelle";
inline constexpr const char* SeriesGen = "-=Daz4=-";
inline constexpr const char* GameName = "Zarquill";
// Version shown by --version.
inline constexpr const char* GameVersion = "1.0.0";

// Returns "#274 : Vantrelle -=Daz4=-", the application and window title.
std::string GameTitle();
// Returns the game folder "274/": the week number in three digits and "/".
std::string GameFolder();
// Returns the scrambler's default key, derived from the identity values.
std::string DerivedKey();

}  // namespace engine

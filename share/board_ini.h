// The player's choice of board: "Board.ini" beside the settings file names
// the server runs are shared with.
#pragma once

#include <string>
#include <string_view>

namespace scores {

// The file naming the board, beside "Setup.ini".
inline constexpr const char* kBoardFileName = "Board.ini";

// Returns the server URL of a "Board.ini" text: the value of its "Server"
// line (key in any letter case, spaces around "=" allowed, ";" and "#" start
// comments). "" when none is named; problem says why a value was not taken
// (not an http or https URL, spaces or control characters in it).
std::string ParseBoardIni(std::string_view text, std::string& problem);
// Returns "Board.ini"'s path beside the settings file.
std::string BoardIniPath();
// Reads the server that "Board.ini" names ("" when there is none); a problem is logged once.
std::string NamedBoard();

}  // namespace scores

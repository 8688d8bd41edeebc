// The token that owns the player's names on a board, kept in a private file
// beside the score file.
#pragma once

#include <string>

#include "scores/board_token.h"

namespace scores {

// The token file, beside the score file.
inline constexpr const char* kBoardTokenFileName = "board.token";

// Returns the token file's path beside the score file.
std::string BoardTokenPath();
// Makes a new token: 256 bits from the system's random source in the board's
// token characters; "" when the source failed.
std::string MakeBoardToken();
// Returns the player's token, making it and its file (mode 0600) on first
// use; "" (with problem set) when the file is there but unusable or a new
// one could not be saved. The token is never logged.
std::string BoardToken(std::string& problem);

}  // namespace scores

// The texts the game shows of a run's standing with the board: the score
// panel's line and the notice of an outcome, in the fonts' ISO 8859-1.
#pragma once

#include <string>
#include <string_view>

#include "share/queue_file.h"

namespace scores {

// Returns the panel's line for a run's board state ("Board: rank 3 on Hard").
std::string BoardStateText(const BoardRun& run);
// Returns the notice of a run's outcome ("Zoë - Board: rank 3 on Hard").
std::string OutcomeNotice(const BoardRun& run);
// Returns a UTF-8 text as ISO 8859-1 ("?" for characters above 255).
std::string Utf8ToLatin1(std::string_view utf8);

}  // namespace scores

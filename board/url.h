// The request target's escapes, as the HTTP layer hands paths and queries over.
#pragma once

#include <string>

namespace board {

// Decodes %XX escapes ("+" stays "+" in paths, becomes " " in a query when plusIsSpace);
// false when an escape is malformed.
bool PercentDecode(const std::string& in, std::string& out, bool plusIsSpace);

}  // namespace board

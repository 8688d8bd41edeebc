// The token a player's game sends with its runs and the board checks: one
// rule for both sides of the exchange.
#pragma once

#include <cstddef>
#include <string_view>

namespace scores {

// Token length bounds (letters, digits, "-" and "_").
inline constexpr size_t kMinTokenChars = 32;
inline constexpr size_t kMaxTokenChars = 128;

// Returns true for 32 to 128 letters, digits, "-" and "_".
bool IsBoardToken(std::string_view token);

}  // namespace scores

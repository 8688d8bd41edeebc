// The one field reader every text record goes through (settings lines, score
// lines, menu entries), and the digit check file names are read with.
#pragma once

#include <string>
#include <string_view>

namespace scores {

// Marker returned for a field the text does not have.
inline constexpr const char* kMissingField = "-+-";

// Returns the n-th field (n from 1) of the trimmed text split at separator,
// or "-+-" when the text has fewer fields. A text without any separator has
// itself as field 2 as well as field 1.
std::string GetField(std::string_view text, std::string_view separator, int n);

}  // namespace scores

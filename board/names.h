// Player names and tokens. A name is what the game's name entry can type,
// stored in the replay as ISO 8859-1 and carried as UTF-8 on the wire; two
// names that differ only in letter case are one name (its key). A token is
// the client's secret for its names; the server keeps only a keyed hash
// (board/hashes.h).
#pragma once

#include <string>
#include <string_view>

namespace board {

// The longest name a replay carries, in ISO 8859-1 bytes.
inline constexpr size_t kMaxNameBytes = 4096;

// Returns true when every byte is a character the game's name entry can
// store (32..126 but "|", 160..255) and the name is neither empty nor too long.
bool IsTypableName(std::string_view latin1);
// Returns the UTF-8 text of an ISO 8859-1 name.
std::string NameToUtf8(std::string_view latin1);
// Decodes a UTF-8 name into ISO 8859-1; false when it is not valid UTF-8,
// holds a character above 255, or is not typable.
bool NameFromUtf8(std::string_view utf8, std::string& latin1);
// Returns the name's key: letters folded to lower case over all of ISO
// 8859-1 (so "ËLAN" and "ëlan" share one), as UTF-8.
std::string NameKey(std::string_view latin1);

// Returns the token of an "Authorization: Bearer TOKEN" value ("" when the
// scheme is not Bearer or the token is not well formed).
std::string BearerToken(std::string_view authorization);

}  // namespace board

// The score file's reversible text scrambler: two rotate-and-XOR passes, each
// guarded by a checksum, written as upper-case hexadecimal pairs, so that a
// hand-edited or damaged line is detected. Also the fixed keys of the score
// file.
#pragma once

#include <string>
#include <string_view>

namespace scores {

// Key of the account line (the file's first line).
inline constexpr std::string_view AccountKey = "7QM42ZT8";
// Separator between the two halves of a score line (not a scrambling key).
// Its fifth character, "\xA7", is code 167, written as one byte.
inline constexpr std::string_view ScoreKey = ")~&+\xA7!R52nV8^";
// What Unscramble returns for a text that fails a check.
inline constexpr std::string_view kRejected = "XXX";

// Returns the checksum 0..4095 of a text: the sum of code * 3 * position, mod 4096.
int TextChecksum(std::string_view text);
// Returns the value of hexadecimal digits: "A".."F" count 10..15, any other
// character its decimal digit value (0 for a non-digit, so "a" counts 0).
int HexPairValue(std::string_view pair);
// Scrambles a text of codes 0..255 into 2 * (length + 12) hexadecimal digits;
// an empty key means the derived key.
// Note: an empty text scrambles without failing, but unscrambles to "XXX".
std::string Scramble(std::string_view text, std::string_view key);
// Restores a scrambled text, or returns "XXX" when a check fails or the text is
// too short to hold its two check fields; an empty key means the derived key.
std::string Unscramble(std::string_view text, std::string_view key);

}  // namespace scores

// Text and number helpers of the media layer.
//
// Text representation (the whole program uses it): a std::string in which each
// char is one character code 0..255, read as unsigned (ISO 8859-1, so codes
// 0..255 are the Unicode code points of the same number). Every file the
// program writes is one byte per character, so this representation is exactly
// what the files can carry: a character above 255 can never enter a text.
// The one place where such characters arrive is typed input (GetChar returns
// the Unicode code point); callers decide there what to store instead.
//
// Positions are 1-based where the functions say so; integer conversions
// truncate toward zero.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace media {

// Returns the code 0..255 of a character of a text.
inline int CharCode(char c) {
    return static_cast<unsigned char>(c);
}

// Converts a real to an integer, truncating toward zero (saturating at the ends).
int TruncToInt(double v);
// Converts a real to a 64-bit integer, truncating toward zero (saturating).
int64_t TruncToInt64(double v);

// Reads an integer: leading white space, a sign, then decimal digits, or "$"
// hexadecimal or "%" binary digits; stops at the first other character.
// Text without digits gives 0. Overflow wraps as 32-bit arithmetic would.
int ToInt(std::string_view text);
// Reads a 64-bit integer by the same rules as ToInt.
int64_t ToLong(std::string_view text);
// Returns true when text is not empty and holds only the digits 0..9.
bool AllDigits(std::string_view text);
// Formats an integer in plain decimal with a leading "-" when negative.
std::string Str(int64_t value);

// Returns the first n characters (the whole text when n exceeds its length).
std::string Left(std::string_view text, int n);
// Returns the last n characters (the whole text when n exceeds its length).
std::string Right(std::string_view text, int n);
// Returns count characters from 1-based position start; to the end when count
// is negative. A start below 1 shortens the count accordingly.
std::string Mid(std::string_view text, int start, int count = -1);
// Returns the 1-based position of sub at or after 1-based start, 0 when absent.
int Instr(std::string_view text, std::string_view sub, int start = 1);
// Replaces every non-overlapping occurrence of from, left to right.
std::string Replace(std::string_view text, std::string_view from, std::string_view to);
// Removes leading and trailing characters with codes below 33.
std::string Trim(std::string_view text);
// Upper-cases letters, including the accented Latin letters of codes 224..254.
std::string Upper(std::string_view text);
// Lower-cases letters, including the accented Latin letters of codes 192..222.
std::string Lower(std::string_view text);
// Returns the one-character text of code (codes outside 0..255 keep their low byte).
std::string Chr(int code);
// Returns the code of the first character, -1 for an empty text.
int Asc(std::string_view text);
// Returns value as 8 upper-case hexadecimal digits.
std::string Hex(int64_t value);

// Returns the length (1 to 4) of the well-formed UTF-8 sequence at the start
// of text, with its code point in code; 0 for a stray or missing byte, an
// overlong form, a surrogate or a code point above U+10FFFF.
size_t Utf8SequenceLength(std::string_view text, uint32_t& code);
// Returns the text as UTF-8 (for the terminal, window titles and X11).
std::string ToUtf8(std::string_view text);

// How AppendJsonString reads the bytes from 128 up.
enum class JsonBytes {
    kLatin1,  // the program's own texts (names): ISO 8859-1, converted to UTF-8
    kPath,    // file paths: kept as they are when the whole path is valid UTF-8, else ISO 8859-1
};
// Appends text as a JSON string, quotes included, that is always valid UTF-8;
// quotes, backslashes and control characters are escaped.
void AppendJsonString(std::string& out, std::string_view text,
                      JsonBytes bytes = JsonBytes::kLatin1);

}  // namespace media

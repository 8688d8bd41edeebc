// The board server's log: one line per event on standard error (the journal
// keeps it under systemd), each prefixed with the program's name. Every line
// is escaped on its way out, so no text from a client can start a line of its own.
#pragma once

#include <string>
#include <string_view>

namespace board {

// Writes one line to the log (escaped with EscapeText).
void Log(const std::string& line);
// Silences the log (the fuzz target and unit tests call it).
void SetLogQuiet(bool quiet);
// Returns text with "\" doubled and every byte that is not printable text (control
// characters, invalid or non-printing UTF-8) written as \xHH: safe in a log line or a stored
// reason.
std::string EscapeText(std::string_view text);

}  // namespace board

// The board server's log: one line per event on standard error (the journal
// keeps it under systemd), each prefixed with the program's name.
#pragma once

#include <string>

namespace board {

// Writes one line to the log.
void Log(const std::string& line);
// Silences the log (the fuzz target and unit tests call it).
void SetLogQuiet(bool quiet);

}  // namespace board

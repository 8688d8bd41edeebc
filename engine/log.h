// The program's log "Debug.txt": plain lines, one byte per character, CR LF
// at the end, no time stamps and no levels. Every subsystem writes through
// WriteLog.
#pragma once

#include <string>
#include <string_view>

namespace engine {

// Opens (creates or truncates) the log file; returns false when it cannot be
// created, in which case later lines are dropped and the program carries on.
bool OpenLog(const std::string& path);
// Writes one line to the log (no flushing of its own beyond the stream's buffer).
void WriteLog(std::string_view text);
// Closes the log file (later lines are dropped).
void CloseLog();
// Returns true while a log file is open.
bool LogIsOpen();

}  // namespace engine

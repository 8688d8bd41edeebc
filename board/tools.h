// The operator's commands: hide and show a run, list the hidden ones, free a
// name, back a SQLite board up. Each runs beside a running server on the same database and logs
// what it did as one line on standard error (the service's journal).
#pragma once

#include <cstdint>
#include <string>

#include "board/options.h"

namespace board {

// Exit statuses of a command.
inline constexpr int kToolDone = 0;
inline constexpr int kToolNothingToDo = 1;
inline constexpr int kToolFailed = 2;

// Returns the wall clock in milliseconds since the epoch, the time runs and actions are stored with.
int64_t NowMs();
// Runs an operator's command; returns its exit status.
int RunTool(Command command, const Options& options);
// Copies the SQLite board at source to a new file through SQLite's online
// backup (consistent while a server writes), made durable before it appears
// under its name; never replaces an existing file. Returns false with the
// reason in error; runs receives the copy's number of runs.
bool BackupSqlite(const std::string& source, const std::string& file, int64_t& runs,
                  std::string& error);

}  // namespace board

// The board server's command line: --listen, --data, --database (or
// --database-file), --workers, --behind-proxy, --head-timeout, --help and --version, with the
// defaults a packaged service expects; and the operator's commands (hide, show, hidden,
// free-name, backup) with their arguments.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "board/limits.h"

namespace board {

struct Options {
    std::string host = "127.0.0.1";
    uint16_t port = 8274;
    std::string dataDir;      // the data folder (see DefaultDataDir)
    std::string databaseUrl;  // "" for SQLite in the data folder (--database or --database-file)
    bool databaseFromFile = false;  // the address came from --database-file, not the command line
    int workers = 1;
    bool behindProxy = false;  // take the client's address from a local proxy's X-Real-IP
    unsigned headTimeoutSeconds = kHeadTimeoutSeconds;  // a request head's time from its first byte
    // An operator's command: its arguments as given, checked.
    std::vector<std::string> args;
    int64_t runId = 0;    // hide, show: the run
    std::string nameKey;  // free-name: the name's key
};

// What the command line asks for.
enum class Command {
    Serve,
    Help,
    Version,
    VerifyOne,
    Error,
    Hide,
    Show,
    Hidden,
    FreeName,
    Backup
};

// Returns the data folder: $STATE_DIRECTORY (its first entry) when systemd
// sets it, else $XDG_DATA_HOME/zarquill-board, else ~/.local/share/zarquill-board.
std::string DefaultDataDir();
// Parses the command line into options; on Error, error holds one line.
Command ParseOptions(int argc, const char* const* argv, Options& options, std::string& error);
// Returns the --help text.
std::string HelpText();
// Returns the --version line.
std::string VersionText();

}  // namespace board

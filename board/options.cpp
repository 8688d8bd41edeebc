// Parsing of the board server's command line.
#include "board/options.h"

#include <cstdlib>
#include <cstring>
#include <thread>

#include "board/http_server.h"
#include "board/limits.h"
#include "board/verify.h"
#include "engine/identity.h"

namespace board {

namespace {

const char* const kUsage =
    "Usage: zarquill-board [option]...\n"
    "Zarquill's leaderboard server: it re-simulates every submitted replay with the\n"
    "game's own rules and ranks only runs whose score it reproduced.\n"
    "\n"
    "Options:\n"
    "  --listen ADDR:PORT  address to serve HTTP on (default 127.0.0.1:8274;\n"
    "                      [ADDR]:PORT for IPv6; port 0 picks a free one)\n"
    "  --data DIR          data folder (default $STATE_DIRECTORY when systemd sets it,\n"
    "                      else $XDG_DATA_HOME/zarquill-board)\n"
    "  --database URL      sqlite:PATH, or postgresql://... to share one board between\n"
    "                      several servers (default: board.sqlite in the data folder)\n"
    "  --workers N         verification workers (default: one per processor core)\n"
    "  --help              show this help and exit\n"
    "  --version           show the version and exit\n"
    "\n"
    "SIGTERM or SIGINT stops the server cleanly; runs being verified stay pending.\n";

// Returns an environment variable, "" when unset.
std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

}  // namespace

std::string DefaultDataDir() {
    std::string state = Env("STATE_DIRECTORY");
    if (!state.empty()) return state.substr(0, state.find(':'));
    const std::string xdg = Env("XDG_DATA_HOME");
    if (!xdg.empty() && xdg[0] == '/') return xdg + "/zarquill-board";
    const std::string home = Env("HOME");
    return (home.empty() ? std::string(".") : home) + "/.local/share/zarquill-board";
}

Command ParseOptions(int argc, const char* const* argv, Options& options, std::string& error) {
    options.dataDir = DefaultDataDir();
    const unsigned cores = std::thread::hardware_concurrency();
    options.workers = cores == 0 ? 1 : static_cast<int>(std::min<unsigned>(cores, kMaxWorkers));
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") return Command::Help;
        if (arg == "--version") return Command::Version;
        if (arg == kVerifyOneOption) return Command::VerifyOne;
        const bool takesValue =
            arg == "--listen" || arg == "--data" || arg == "--database" || arg == "--workers";
        if (!takesValue) {
            error = "unknown option '" + arg + "' (try --help)";
            return Command::Error;
        }
        if (i + 1 >= argc) {
            error = arg + " needs a value (try --help)";
            return Command::Error;
        }
        const std::string value = argv[++i];
        if (arg == "--listen") {
            if (!ParseListenAddress(value, options.host, options.port)) {
                error = "--listen needs ADDR:PORT, not '" + value + "'";
                return Command::Error;
            }
        } else if (arg == "--data") {
            if (value.empty()) {
                error = "--data needs a folder";
                return Command::Error;
            }
            options.dataDir = value;
        } else if (arg == "--database") {
            options.databaseUrl = value;
        } else {
            char* end = nullptr;
            const long n = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || n < 1 || n > kMaxWorkers) {
                error = "--workers needs a number from 1 to " + std::to_string(kMaxWorkers);
                return Command::Error;
            }
            options.workers = static_cast<int>(n);
        }
    }
    return Command::Serve;
}

std::string HelpText() {
    return std::string(kUsage) + "\nData folder in use without --data: " + DefaultDataDir() + "\n";
}

std::string VersionText() {
    return std::string("zarquill-board ") + engine::GameVersion +
           " (Zarquill's leaderboard server; " + "verifies replays of version " +
           engine::GameVersion + ")\n";
}

}  // namespace board

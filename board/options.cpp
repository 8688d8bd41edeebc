// Parsing of the board server's command line and of the operator's commands.
#include "board/options.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <thread>

#include "board/http_server.h"
#include "board/limits.h"
#include "board/names.h"
#include "board/verify.h"
#include "engine/identity.h"

namespace board {

namespace {

const char* const kUsage =
    "Usage: zarquill-board [option]...\n"
    "       zarquill-board COMMAND [--data DIR] [--database URL] ARGUMENT...\n"
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
    "  --database-file F   read the --database URL from the first line of file F (so\n"
    "                      that a password in it stays off the command line)\n"
    "  --workers N         verification workers (default: one per processor core)\n"
    "  --behind-proxy      a reverse proxy on this machine forwards the requests: take\n"
    "                      the client's address (for the rate limit) from its\n"
    "                      X-Real-IP header on connections from loopback addresses\n"
    "  --head-timeout S    seconds a request's head (request line and headers) may\n"
    "                      take from its first byte before its connection is\n"
    "                      closed (1 to 60, default 5)\n"
    "  --help              show this help and exit\n"
    "  --version           show the version and exit\n"
    "\n"
    "SIGTERM or SIGINT stops the server cleanly; runs being verified stay pending.\n"
    "\n"
    "Commands, run beside a running server on the same database (each is logged):\n"
    "  hide ID REASON      take a run off the boards and its player's page\n"
    "  show ID             put a hidden run back\n"
    "  hidden              list the hidden runs on standard output, one a line:\n"
    "                      id, name, board, score, when hidden and why, by tabs\n"
    "  free-name NAME      unbind a name from its token, so the next sender owns it\n"
    "  backup FILE         copy a SQLite board, consistently, to a new FILE\n"
    "                      (PostgreSQL: use pg_dump)\n"
    "Exit status: 0 done, 1 nothing to do (no such run, name not bound),\n"
    "2 a usage or database error.\n";

// The operator's commands and how many arguments each takes.
struct ToolCommand {
    const char* word;
    Command command;
    int args;
};
constexpr ToolCommand kToolCommands[] = {
    // clang-format off
    {"hide", Command::Hide, 2},
    {"show", Command::Show, 1},
    {"hidden", Command::Hidden, 0},
    {"free-name", Command::FreeName, 1},
    {"backup", Command::Backup, 1},
    // clang-format on
};

// Returns true when text is valid UTF-8 without control characters.
bool IsPrintableUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) return false;
        const int extra = c < 0x80                 ? 0
                          : c >= 0xC2 && c <= 0xDF ? 1
                          : (c >> 4) == 0xE        ? 2
                          : c >= 0xF0 && c <= 0xF4 ? 3
                                                   : -1;
        if (extra < 0 || i + static_cast<size_t>(extra) >= text.size()) return false;
        uint32_t cp = extra == 0 ? c : c & (0x3Fu >> extra);
        for (int k = 1; k <= extra; ++k) {
            const auto cc = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3Fu);
        }
        // Overlong forms, surrogates, C1 controls and values past U+10FFFF.
        const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (cp < least[extra] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF ||
            (cp >= 0x80 && cp < 0xA0)) {
            return false;
        }
        i += static_cast<size_t>(extra) + 1;
    }
    return true;
}

// Returns a positive run id, or 0 for anything else.
int64_t ParseRunId(const std::string& text) {
    if (text.empty() || text.size() > 18) return 0;
    int64_t id = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        id = id * 10 + (c - '0');
    }
    return id;
}

// Checks a command's arguments and keeps what it needs in options; false with error set.
bool CheckToolArguments(const ToolCommand& tool, Options& options, std::string& error) {
    const std::vector<std::string>& args = options.args;
    if (static_cast<int>(args.size()) != tool.args) {
        static const char* const kForms[] = {"hide ID REASON", "show ID", "hidden",
                                             "free-name NAME", "backup FILE"};
        error = std::string("usage: zarquill-board ") + kForms[&tool - kToolCommands] +
                " [--data DIR] [--database URL]";
        return false;
    }
    if (tool.command == Command::Hide || tool.command == Command::Show) {
        options.runId = ParseRunId(args[0]);
        if (options.runId == 0) {
            error = "'" + args[0] + "' is not a run id (a whole number from 1)";
            return false;
        }
    }
    if (tool.command == Command::Hide) {
        const std::string& reason = args[1];
        if (reason.empty() || reason.size() > kMaxHideReasonBytes || !IsPrintableUtf8(reason)) {
            error = "the reason must be 1 to " + std::to_string(kMaxHideReasonBytes) +
                    " bytes of UTF-8 text on one line";
            return false;
        }
    }
    if (tool.command == Command::FreeName) {
        std::string latin1;
        if (!NameFromUtf8(args[0], latin1)) {
            error = "'" + args[0] + "' is not a name the game can type";
            return false;
        }
        options.nameKey = NameKey(latin1);
    }
    if (tool.command == Command::Backup && args[0].empty()) {
        error = "backup needs a file name";
        return false;
    }
    return true;
}

// Reads a database address from the first line of a file; false with error set.
bool ReadDatabaseFile(const std::string& path, std::string& url, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    std::string text(kMaxDatabaseFileBytes + 1, '\0');
    if (in) in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (!in && !in.eof()) {
        error = "--database-file: cannot read " + path;
        return false;
    }
    text.resize(static_cast<size_t>(in.gcount()));
    if (text.size() > kMaxDatabaseFileBytes) {
        error = "--database-file: " + path + " is larger than " +
                std::to_string(kMaxDatabaseFileBytes) + " bytes";
        return false;
    }
    url = text.substr(0, text.find('\n'));
    while (!url.empty() && (url.back() == '\r' || url.back() == ' ' || url.back() == '\t')) {
        url.pop_back();
    }
    if (url.empty()) {
        error = "--database-file: " + path + " holds no database address on its first line";
        return false;
    }
    return true;
}

// Returns an environment variable, "" when unset.
std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// Returns the whole number text spells when it lies in [lo, hi], else nullopt.
std::optional<long> WholeInRange(const std::string& text, long lo, long hi) {
    char* end = nullptr;
    const long n = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || n < lo || n > hi) return std::nullopt;
    return n;
}

// Stores the value of an option that takes one (databaseOption remembers which
// of --database and --database-file came); false with the reason in error.
bool TakeValue(const std::string& arg, const std::string& value, Options& options,
               std::string& databaseOption, std::string& error) {
    if (arg == "--listen") {
        if (ParseListenAddress(value, options.host, options.port)) return true;
        error = "--listen needs ADDR:PORT, not '" + value + "'";
        return false;
    }
    if (arg == "--data") {
        if (value.empty()) {
            error = "--data needs a folder";
            return false;
        }
        options.dataDir = value;
        return true;
    }
    if (arg == "--database" || arg == "--database-file") {
        if (!databaseOption.empty()) {
            error = "give one of --database and --database-file, once";
            return false;
        }
        databaseOption = arg;
        options.databaseFromFile = arg == "--database-file";
        if (arg == "--database") {
            options.databaseUrl = value;
            return true;
        }
        return ReadDatabaseFile(value, options.databaseUrl, error);
    }
    if (arg == "--head-timeout") {
        const auto n = WholeInRange(value, 1, long{kMaxHeadTimeoutSeconds});
        if (!n) {
            error = "--head-timeout needs seconds from 1 to " +
                    std::to_string(kMaxHeadTimeoutSeconds);
            return false;
        }
        options.headTimeoutSeconds = static_cast<unsigned>(*n);
        return true;
    }
    const auto n = WholeInRange(value, 1, kMaxWorkers);  // --workers
    if (!n) {
        error = "--workers needs a number from 1 to " + std::to_string(kMaxWorkers);
        return false;
    }
    options.workers = static_cast<int>(*n);
    return true;
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
    const ToolCommand* tool = nullptr;
    std::string serverOption;    // a server option given, refused with a command
    std::string databaseOption;  // --database or --database-file, once given
    bool endOfOptions = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (endOfOptions || arg.empty() || arg[0] != '-') {
            if (tool) {
                options.args.push_back(arg);
                continue;
            }
            for (const ToolCommand& t : kToolCommands) {
                if (arg == t.word) tool = &t;
            }
            if (!tool) {
                error = "unknown command '" + arg + "' (try --help)";
                return Command::Error;
            }
            continue;
        }
        if (arg == "--") {
            endOfOptions = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") return Command::Help;
        if (arg == "--version") return Command::Version;
        if (arg == kVerifyOneOption) return Command::VerifyOne;
        if (arg == "--behind-proxy") {
            options.behindProxy = true;
            serverOption = arg;
            continue;
        }
        const bool takesValue = arg == "--listen" || arg == "--data" || arg == "--database" ||
                                arg == "--database-file" || arg == "--workers" ||
                                arg == "--head-timeout";
        if (!takesValue) {
            error = "unknown option '" + arg + "' (try --help)";
            return Command::Error;
        }
        if (i + 1 >= argc) {
            error = arg + " needs a value (try --help)";
            return Command::Error;
        }
        const std::string value = argv[++i];
        if (arg == "--listen" || arg == "--workers" || arg == "--head-timeout") {
            serverOption = arg;
        }
        if (!TakeValue(arg, value, options, databaseOption, error)) return Command::Error;
    }
    if (!tool) return Command::Serve;
    if (!serverOption.empty()) {
        error = serverOption + " is for the server, not for " + tool->word;
        return Command::Error;
    }
    if (!CheckToolArguments(*tool, options, error)) return Command::Error;
    return tool->command;
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

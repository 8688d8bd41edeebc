// Start-up and shutdown of the board server.
#include "board/server.h"

#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "board/hashes.h"
#include "board/http_server.h"
#include "board/limits.h"
#include "board/log.h"
#include "board/options.h"
#include "board/routes.h"
#include "board/storage.h"
#include "board/tools.h"
#include "board/verify.h"
#include "board/web_files.h"
#include "board/workers.h"
#include "engine/identity.h"

namespace board {

namespace {

// Returns the path of this program, so workers can start it as their child.
std::string OwnProgram(const char* argv0) {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(argv0) : self.string();
}

// Blocks the stop signals in every thread to come (sigwait takes them) and
// ignores SIGPIPE; returns the stop signals.
sigset_t BlockStopSignals() {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return stopSignals;
}

// Opens the storage the options name (making SQLite's data folder) and reads
// its server key; null, logged, when it cannot be used.
std::unique_ptr<Storage> OpenBoardStorage(const Options& options, bool sqlite) {
    std::unique_ptr<Storage> storage;
    try {
        if (sqlite) {
            std::error_code ec;
            // A folder made here is the server's alone (the database holds token hashes);
            // one the operator made keeps its permissions.
            if (std::filesystem::create_directories(options.dataDir, ec)) {
                std::filesystem::permissions(options.dataDir, std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::replace, ec);
            }
            if (ec) {
                Log("cannot make the data folder " + options.dataDir + ": " + ec.message());
                return nullptr;
            }
        }
        storage = OpenStorage(options.databaseUrl, options.dataDir);
        storage->ServerKey();
    } catch (const StorageError& e) {
        Log(std::string("cannot open storage: ") + e.what());
        return nullptr;
    }
    // A PostgreSQL address may hold a password: only the kind is logged.
    Log(sqlite ? "storage: SQLite, data in " + options.dataDir
               : std::string("storage: PostgreSQL"));
    if (!sqlite && !options.databaseFromFile && AddressHoldsPassword(options.databaseUrl)) {
        Log("warning: the database address holds a password, which every local user can read "
            "on the command line; use a password file (PGPASSFILE) or --database-file "
            "instead");
    }
    return storage;
}

// Loads the web page installed beside the program into web and has api serve
// it; without one (or with a broken one) the API is served alone.
void LoadWebPage(const char* argv0, WebFiles& web, Api& api) {
    if (const std::string folder = FindWebFolder(OwnProgram(argv0)); folder.empty()) {
        Log("web page: not installed beside the program; serving the API only");
    } else if (std::string webError; !web.Load(folder, webError)) {
        Log("web page: " + webError + "; serving the API only");
    } else {
        Log("web page: " + folder);
        if (web.HasViewer()) {
            Log("watch bundle: " + folder + "/" + kViewerFolder);
        } else if (!web.ViewerProblem().empty()) {
            Log("watch bundle: " + web.ViewerProblem() + "; the page offers no Watch");
        }
        api.ServeWebFiles(&web);
    }
}

// Logs where the server listens and how it reads its clients.
void LogListening(const Options& options, uint16_t port) {
    const std::string shownHost =
        options.host.find(':') == std::string::npos ? options.host : "[" + options.host + "]";
    Log("listening on " + shownHost + ":" + std::to_string(port));
    if (options.behindProxy) Log("client addresses: X-Real-IP of a proxy on a loopback address");
    if (options.headTimeoutSeconds != kHeadTimeoutSeconds) {
        Log("request heads: " + std::to_string(options.headTimeoutSeconds) +
            " s from their first byte (--head-timeout)");
    }
}

int Serve(const Options& options, const char* argv0) {
    const sigset_t stopSignals = BlockStopSignals();
    // The ranking's boards are large blocks replaced on every change: kept
    // out of the heap (a fixed threshold, never raised by a freed block) so
    // that each old board's memory goes back to the system at once.
    mallopt(M_MMAP_THRESHOLD, kMallocMmapThresholdBytes);

    Log(std::string("starting version ") + engine::GameVersion + " with " +
        std::to_string(options.workers) + " verification workers");
    LogLimits();
    const bool sqlite = !SqlitePath(options.databaseUrl, options.dataDir).empty();
    std::unique_ptr<Storage> storage = OpenBoardStorage(options, sqlite);
    if (!storage) return 1;

    Metrics metrics;
    Api api(*storage, metrics, NowMs);
    // A verifier of its own starts in a fraction of the server's time: every run pays it.
    const std::string verifier = FindVerifier(OwnProgram(argv0));
    Log("verification: " + verifier);
    Workers workers(*storage, metrics, verifier, RandomHex(8), options.workers, NowMs);
    api.OnSubmitted([&workers] { workers.Wake(); });
    WebFiles web;
    LoadWebPage(argv0, web, api);
    api.WatchRanking();
    workers.OnVerdict([&api] { api.NoteVerdict(); });
    workers.Start();
    HttpServer http(api, options.behindProxy, options.headTimeoutSeconds);
    if (!sqlite) http.HandleDatabaseReadsAside();
    std::string error;
    if (!http.Start(options.host, options.port, error)) {
        Log(error);
        workers.Stop();
        api.StopWatching();
        return 1;
    }
    LogListening(options, http.Port());

    int signalNumber = 0;
    while (sigwait(&stopSignals, &signalNumber) != 0) {
    }
    Log(std::string("stopping on ") + (signalNumber == SIGTERM ? "SIGTERM" : "SIGINT"));
    // Everything that reads the storage stops before it closes: the requests,
    // the workers, then the ranking's watcher.
    http.Stop();
    workers.Stop();
    api.StopWatching();
    storage.reset();
    Log("stopped");
    return 0;
}

}  // namespace

int Main(int argc, char** argv) {
    Options options;
    std::string error;
    const Command command = ParseOptions(argc, argv, options, error);
    switch (command) {
        case Command::Help:
            std::fputs(HelpText().c_str(), stdout);
            return 0;
        case Command::Version:
            std::fputs(VersionText().c_str(), stdout);
            return 0;
        case Command::VerifyOne:
            return RunVerifyChild();
        case Command::Error:
            std::fprintf(stderr, "zarquill-board: %s\n", error.c_str());
            return 2;
        case Command::Hide:
        case Command::Show:
        case Command::Hidden:
        case Command::FreeName:
        case Command::Backup:
            return RunTool(command, options);
        case Command::Serve:
            break;
    }
    return Serve(options, argv[0]);
}

}  // namespace board

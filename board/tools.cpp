// The operator's commands, run by zarquill-board beside a running server.
#include "board/tools.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <thread>
#include <vector>

#include "board/limits.h"
#include "board/log.h"
#include "board/storage.h"
#include "engine/media/folders.h"

namespace board {

namespace {

// How long a backup sleeps between tries on a busy database.
constexpr int kBackupRetryMs = 50;

// Owns a file descriptor.
class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { Close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return fd_; }
    // Closes the descriptor; false when close reported an error.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

  private:
    int fd_;
};

// Owns an SQLite connection.
struct SqliteCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using SqliteHandle = std::unique_ptr<sqlite3, SqliteCloser>;

// Removes a file when it goes out of scope, unless kept.
class RemoveUnlessKept {
  public:
    explicit RemoveUnlessKept(std::string path) : path_(std::move(path)) {}
    ~RemoveUnlessKept() {
        if (path_.empty()) return;
        ::unlink(path_.c_str());
        ::unlink((path_ + "-journal").c_str());
        ::unlink((path_ + "-wal").c_str());
        ::unlink((path_ + "-shm").c_str());
    }
    RemoveUnlessKept(const RemoveUnlessKept&) = delete;
    RemoveUnlessKept& operator=(const RemoveUnlessKept&) = delete;
    void Keep() { path_.clear(); }

  private:
    std::string path_;
};

// Opens a database file for the backup; throws StorageError with the reason.
SqliteHandle OpenFile(const std::string& path) {
    sqlite3* raw = nullptr;
    const int rc =
        sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr);
    SqliteHandle db(raw);
    if (rc != SQLITE_OK) {
        throw StorageError("cannot open " + path + ": " +
                           (raw ? sqlite3_errmsg(raw) : "out of memory"));
    }
    sqlite3_busy_timeout(db.get(), kBackupBusyWaitMs);
    return db;
}

// Returns the first value of a query's first row as text ("" for none); throws StorageError.
std::string QueryText(sqlite3* db, const char* sql) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) {
        throw StorageError(std::string("SQLite: ") + sqlite3_errmsg(db));
    }
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> st(raw, &sqlite3_finalize);
    const int rc = sqlite3_step(st.get());
    if (rc == SQLITE_DONE) return "";
    if (rc != SQLITE_ROW) throw StorageError(std::string("SQLite: ") + sqlite3_errmsg(db));
    const unsigned char* text = sqlite3_column_text(st.get(), 0);
    return text ? reinterpret_cast<const char*>(text) : "";
}

// Copies source into the empty database file at temp; throws StorageError.
int64_t CopyInto(const std::string& source, const std::string& temp) {
    const SqliteHandle src = OpenFile(source);
    // Only a board is copied: a mistyped path names some other file.
    try {
        QueryText(src.get(), "SELECT MAX(version) FROM schema_version");
    } catch (const StorageError&) {
        throw StorageError(source + " is not a board database");
    }
    const SqliteHandle dst = OpenFile(temp);
    sqlite3_backup* backup = sqlite3_backup_init(dst.get(), "main", src.get(), "main");
    if (!backup) throw StorageError(std::string("SQLite: ") + sqlite3_errmsg(dst.get()));
    // All pages in one step, under one read transaction: a consistent copy,
    // while the server (in write-ahead-log mode) goes on writing.
    int rc = SQLITE_OK;
    for (int waited = 0;; waited += kBackupRetryMs) {
        rc = sqlite3_backup_step(backup, -1);
        if ((rc != SQLITE_BUSY && rc != SQLITE_LOCKED) || waited >= kBackupBusyWaitMs) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(kBackupRetryMs));
    }
    sqlite3_backup_finish(backup);
    if (rc != SQLITE_DONE) {
        throw StorageError(std::string("SQLite: the copy failed: ") + sqlite3_errstr(rc));
    }
    // The copy is one self-contained file, checked before it is kept.
    QueryText(dst.get(), "PRAGMA journal_mode=DELETE");
    const std::string check = QueryText(dst.get(), "PRAGMA quick_check");
    if (check != "ok") throw StorageError("the copy fails its check: " + check);
    return std::stoll("0" + QueryText(dst.get(), "SELECT COUNT(*) FROM runs"));
}

// Returns who runs the command, for the log.
std::string Operator() {
    return "uid " + std::to_string(::getuid());
}

// Returns text fit for one field of a tab-separated line: tabs, line breaks
// and other control characters (only older rows could hold them) become spaces.
std::string Field(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    }
    return text;
}

// Returns a time in milliseconds since the epoch as "YYYY-MM-DDTHH:MM:SSZ".
std::string UtcText(int64_t ms) {
    const time_t seconds = static_cast<time_t>(ms / 1000);
    tm utc{};
    char text[32];
    if (!gmtime_r(&seconds, &utc) ||
        !std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc)) {
        return "-";
    }
    return text;
}

// Lists the hidden runs on standard output with a header line, one run a
// line, fields separated by tabs; a score is "-" when the run has none.
int ListHidden(const Options& options) {
    static const char* const kBoards[] = {"easy", "medium", "hard"};
    try {
        const std::unique_ptr<Storage> storage =
            OpenStorage(options.databaseUrl, options.dataDir, StorageUse::Tool);
        const std::vector<Run> runs = storage->HiddenRuns();
        std::string out = "id\tname\tdifficulty\tscore\thidden_at\treason\n";
        for (const Run& run : runs) {
            const bool known = run.difficulty >= 0 && run.difficulty < 3;
            out += std::to_string(run.id) + '\t' + Field(run.name) + '\t' +
                   (known ? kBoards[run.difficulty] : "unknown") + '\t' +
                   (run.score ? std::to_string(*run.score) : "-") + '\t' +
                   UtcText(run.hiddenAt.value_or(0)) + '\t' + Field(run.hiddenReason) + '\n';
        }
        if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() ||
            std::fflush(stdout) != 0) {
            Log("hidden: cannot write the list");
            return kToolFailed;
        }
        Log("hidden: " + std::to_string(runs.size()) + " hidden run" +
            (runs.size() == 1 ? "" : "s") + " listed for " + Operator());
        return kToolDone;
    } catch (const StorageError& e) {
        Log(std::string("hidden: ") + e.what());
        return kToolFailed;
    }
}

int Backup(const Options& options) {
    const std::string& file = options.args[0];
    const std::string source = SqlitePath(options.databaseUrl, options.dataDir);
    if (source.empty()) {
        Log("backup: the board is in PostgreSQL: back it up with pg_dump (see zarquill-board(1))");
        return kToolFailed;
    }
    int64_t runs = 0;
    std::string error;
    if (!BackupSqlite(source, file, runs, error)) {
        Log("backup: " + error);
        return kToolFailed;
    }
    Log("backup: copied " + source + " (" + std::to_string(runs) + " runs) to " + file + " for " +
        Operator());
    return kToolDone;
}

}  // namespace

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

bool BackupSqlite(const std::string& source, const std::string& file, int64_t& runs,
                  std::string& error) {
    struct stat st {};
    if (::lstat(file.c_str(), &st) == 0) {
        error = file + " already exists; a backup never replaces a file (name a new one)";
        return false;
    }
    if (::access(source.c_str(), F_OK) != 0) {
        error = "no board database at " + source;
        return false;
    }
    // The copy holds token hashes and the server key: only its owner reads it.
    std::string temp = file + ".tmp-XXXXXX";
    Fd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (fd.Get() < 0) {
        error = "cannot write beside " + file + ": " + std::strerror(errno);
        return false;
    }
    RemoveUnlessKept cleanup(temp);
    try {
        runs = CopyInto(source, temp);
    } catch (const StorageError& e) {
        error = e.what();
        return false;
    }
    if (::fsync(fd.Get()) != 0 || !fd.Close()) {
        error = "cannot write " + temp + ": " + std::strerror(errno);
        return false;
    }
    // link() refuses an existing name, so a file made meanwhile is never replaced.
    if (::link(temp.c_str(), file.c_str()) != 0) {
        error = "cannot name the copy " + file + ": " + std::strerror(errno);
        return false;
    }
    ::unlink(temp.c_str());
    cleanup.Keep();
    const std::string folderPath = media::FolderOf(file);
    Fd folder(
        ::open(folderPath.empty() ? "." : folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.Get() < 0 || ::fsync(folder.Get()) != 0) {
        error = "the copy " + file +
                " was made, but its folder could not be synced: " + std::strerror(errno);
        return false;
    }
    return true;
}

int RunTool(Command command, const Options& options) {
    if (command == Command::Backup) return Backup(options);
    if (command == Command::Hidden) return ListHidden(options);
    const char* const word = command == Command::Hide   ? "hide"
                             : command == Command::Show ? "show"
                                                        : "free-name";
    const std::string what = command == Command::FreeName ? "the name '" + options.args[0] + "'"
                                                          : "run " + std::to_string(options.runId);
    try {
        const std::unique_ptr<Storage> storage =
            OpenStorage(options.databaseUrl, options.dataDir, StorageUse::Tool);
        bool done = false;
        if (command == Command::Hide) {
            done = storage->Hide(options.runId, options.args[1], NowMs());
        } else if (command == Command::Show) {
            done = storage->Show(options.runId, NowMs());
        } else {
            done = storage->FreeName(options.nameKey, NowMs());
        }
        if (!done) {
            Log(std::string(word) + ": " +
                (command == Command::FreeName ? what + " belongs to no token"
                                              : "there is no " + what) +
                "; nothing done");
            return kToolNothingToDo;
        }
        const std::string result = command == Command::Hide
                                       ? what + " hidden (" + options.args[1] + ")"
                                   : command == Command::Show ? what + " shown again"
                                                              : what + " is free";
        Log(std::string(word) + ": " + result + " by " + Operator());
        return kToolDone;
    } catch (const StorageError& e) {
        Log(std::string(word) + ": " + what + ": " + e.what());
        return kToolFailed;
    }
}

}  // namespace board

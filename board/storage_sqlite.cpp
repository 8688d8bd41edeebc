// SQLite storage: one database file in write-ahead-log mode, one connection
// shared under a mutex, and a lock file so that a second server cannot open
// the same database (which lets a starting server release every claim left
// by its killed predecessor at once). An operator's command opens the file
// beside the running server without the lock and leaves the claims alone.
#include <sqlite3.h>
#include <sys/file.h>
#include <unistd.h>

#include <fcntl.h>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

#include "board/limits.h"
#include "board/storage_core.h"

namespace board {

namespace {

// Claims the oldest pending run nobody holds, or whose claim expired: holder,
// now, lease, now.
constexpr const char* kClaim =
    "UPDATE runs SET claimed_by = ?, claim_expires = ? + ?, attempts = attempts + 1 "
    "WHERE id = (SELECT id FROM runs WHERE state = 'pending' AND "
    "(claimed_by IS NULL OR claim_expires < ?) ORDER BY id LIMIT 1) RETURNING id, attempts";
// Extends a claim: now, lease, run id, holder.
constexpr const char* kRenew =
    "UPDATE runs SET claim_expires = ? + ? WHERE id = ? AND state = 'pending' AND "
    "claimed_by = ?";
// Releases every claim: their servers are gone.
constexpr const char* kReleaseAll =
    "UPDATE runs SET claimed_by = NULL, claim_expires = NULL, attempts = attempts - 1 "
    "WHERE state = 'pending' AND claimed_by IS NOT NULL";

// The row a statement stands on; a blob or text column reads as its bytes.
class SqliteRow final : public Row {
  public:
    explicit SqliteRow(sqlite3_stmt* stmt) : stmt_(stmt) {}
    bool IsNull(int col) const override { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }
    int64_t Int(int col) const override { return sqlite3_column_int64(stmt_, col); }
    std::string Text(int col) const override {
        const void* p = sqlite3_column_blob(stmt_, col);
        const int n = sqlite3_column_bytes(stmt_, col);
        return p ? std::string(static_cast<const char*>(p), static_cast<size_t>(n)) : "";
    }

  private:
    sqlite3_stmt* stmt_;
};

// One connection and the statements it has prepared, kept for reuse: most
// requests run one short statement, which costs less than preparing it.
class SqliteConnection {
  public:
    // Opens a database file; throws StorageError with the reason.
    SqliteConnection(const std::string& path, int flags) {
        sqlite3* raw = nullptr;
        const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
        db_ = raw;
        if (rc != SQLITE_OK) {
            const std::string why = raw ? sqlite3_errmsg(raw) : "out of memory";
            Close();
            throw StorageError("cannot open the database " + path + ": " + why);
        }
        sqlite3_busy_timeout(raw, kSqliteBusyTimeoutMs);
    }
    ~SqliteConnection() { Close(); }
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    sqlite3* Db() const { return db_; }

    // Returns a statement ready to bind, and whether it is kept for reuse
    // (then handed back with Return, else finalized by the caller).
    std::pair<sqlite3_stmt*, bool> Take(std::string_view sql) {
        const auto found = cache_.find(sql);
        if (found != cache_.end() && !found->second.busy) {
            found->second.busy = true;
            return {found->second.stmt, true};
        }
        // A statement in use (a nested query of the same text) or one past
        // the cache's size is prepared for this use alone.
        const bool keep = found == cache_.end() && cache_.size() < kMaxCachedStatements;
        sqlite3_stmt* stmt = nullptr;
        const int rc = sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()),
                                          keep ? SQLITE_PREPARE_PERSISTENT : 0, &stmt, nullptr);
        if (rc != SQLITE_OK) {
            sqlite3_finalize(stmt);
            throw StorageError(std::string("SQLite: ") + sqlite3_errmsg(db_));
        }
        if (keep) cache_.emplace(std::string(sql), Cached{stmt, true});
        return {stmt, keep};
    }
    // Hands back the statement of sql that Take kept, reset for its next use.
    void Return(std::string_view sql, sqlite3_stmt* stmt) {
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
        const auto found = cache_.find(sql);
        if (found != cache_.end()) found->second.busy = false;
    }

  private:
    // Distinct statement texts kept: the storage's are a few dozen.
    static constexpr size_t kMaxCachedStatements = 64;
    struct Cached {
        sqlite3_stmt* stmt;
        bool busy;
    };

    void Close() {
        for (auto& [sql, cached] : cache_) sqlite3_finalize(cached.stmt);
        cache_.clear();
        if (db_) sqlite3_close_v2(db_);
        db_ = nullptr;
    }

    sqlite3* db_ = nullptr;
    std::map<std::string, Cached, std::less<>> cache_;
};

// Statements on one connection, which its holder uses alone meanwhile.
class SqliteSession final : public Session {
  public:
    explicit SqliteSession(SqliteConnection& c) : c_(c), db_(c.Db()) {}

    int64_t Run(std::string_view sql, const SqlValues& values, const EachRow& each,
                bool /*rawBytes*/) override {
        const auto [raw, kept] = c_.Take(sql);
        // Reset and handed back (or finalized) however the statement ends.
        const auto done = [this, kept = kept, sql](sqlite3_stmt* st) {
            if (kept) {
                c_.Return(sql, st);
            } else {
                sqlite3_finalize(st);
            }
        };
        const std::unique_ptr<sqlite3_stmt, decltype(done)> stmt(raw, done);
        for (int i = 0; i < static_cast<int>(values.size()); ++i) Bind(raw, i + 1, values[i]);
        const SqliteRow row(raw);
        for (int rc = sqlite3_step(raw);; rc = sqlite3_step(raw)) {
            if (rc == SQLITE_DONE) break;
            if (rc != SQLITE_ROW) Check(rc);
            if (each) each(row);
        }
        return sqlite3_stmt_readonly(raw) ? 0 : sqlite3_changes(db_);
    }

    // Runs statements that take no values and return no rows.
    void Exec(const char* sql) {
        char* message = nullptr;
        if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
            const std::string why = message ? message : sqlite3_errmsg(db_);
            sqlite3_free(message);
            throw StorageError("SQLite: " + why);
        }
    }

  private:
    void Bind(sqlite3_stmt* stmt, int i, const SqlValue& v) {
        const int n = static_cast<int>(v.text.size());
        switch (v.kind) {
            case SqlValue::Kind::Null:
                return Check(sqlite3_bind_null(stmt, i));
            case SqlValue::Kind::Int:
                return Check(sqlite3_bind_int64(stmt, i, v.number));
            case SqlValue::Kind::Text:
                return Check(sqlite3_bind_text(stmt, i, v.text.data(), n, SQLITE_TRANSIENT));
            case SqlValue::Kind::Bytes:
                return Check(sqlite3_bind_blob(stmt, i, v.text.data(), n, SQLITE_TRANSIENT));
        }
    }
    void Check(int rc) {
        if (rc != SQLITE_OK) throw StorageError(std::string("SQLite: ") + sqlite3_errmsg(db_));
    }

    SqliteConnection& c_;
    sqlite3* db_;
};

class SqliteStorage final : public SqlStorage {
  public:
    SqliteStorage(const std::string& path, StorageUse use) : path_(path) {
        const bool server = use == StorageUse::Server;
        if (server && path != ":memory:") LockDatabase(path);
        // A command never makes an empty board where the operator mistyped a path.
        if (!server && ::access(path.c_str(), F_OK) != 0) {
            throw StorageError("no board database at " + path);
        }
        const int flags =
            SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | (server ? SQLITE_OPEN_CREATE : 0);
        writer_ = std::make_unique<SqliteConnection>(path, flags);
        SqliteSession s(*writer_);
        s.Exec("PRAGMA journal_mode=WAL");
        // A run answered with 202 survives a power cut, not only a killed process.
        s.Exec("PRAGMA synchronous=FULL");
        s.Exec("PRAGMA foreign_keys=ON");
        Migrate();
        // The lock proves no other server uses this database: every claim
        // still held belongs to a server that is gone, through no fault of its run.
        if (server) s.Exec(kReleaseAll);
    }

    std::optional<ClaimedRun> ClaimPending(const std::string& holder, int64_t now,
                                           int64_t leaseMs) override {
        std::optional<ClaimedRun> claimed;
        Transact([&](Session& s) {
            claimed = Claim(s, kClaim, {holder, now, leaseMs, now});
            return claimed.has_value();
        });
        return claimed;
    }

    bool Renew(int64_t id, const std::string& holder, int64_t now, int64_t leaseMs) override {
        bool held = false;
        Use([&](Session& s) { held = s.Run(kRenew, {now, leaseMs, id, holder}) == 1; });
        return held;
    }

  protected:
    void Use(const std::function<void(Session&)>& work) override {
        std::lock_guard lock(mutex_);
        SqliteSession s(*writer_);
        work(s);
    }

    // Reads on connections of their own: in write-ahead-log mode readers
    // neither wait for the writer's commits and checkpoints nor for one another.
    void Read(const std::function<void(Session&)>& work) override {
        // A private in-memory database is one connection's alone.
        if (path_ == ":memory:") return Use(work);
        std::unique_ptr<SqliteConnection> reader = BorrowReader();
        try {
            SqliteSession s(*reader);
            work(s);
        } catch (...) {
            ReturnReader(std::move(reader));
            throw;
        }
        ReturnReader(std::move(reader));
    }

    void Transact(const std::function<bool(Session&)>& work) override {
        std::lock_guard lock(mutex_);
        sqlite3* db = writer_->Db();
        SqliteSession s(*writer_);
        s.Exec("BEGIN IMMEDIATE");
        bool commit = false;
        try {
            commit = work(s);
        } catch (...) {
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
        if (!commit) {
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            return;
        }
        try {
            s.Exec("COMMIT");
        } catch (...) {
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

  private:
    // Takes the database's lock file, or throws when another server holds it.
    void LockDatabase(const std::string& path) {
        const std::string lockPath = path + ".lock";
        const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) throw StorageError("cannot open the lock file " + lockPath);
        lockFd_ = fd;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            throw StorageError("the database " + path + " is in use by another server");
        }
    }

    // Applies every migration newer than the database's version, each in its own transaction.
    void Migrate() {
        int64_t version = 0;
        Use([&](Session& s) { version = SchemaVersion(s); });
        for (const Migration& m : Migrations()) {
            if (m.version <= version) continue;
            Transact([&m](Session& s) {
                ApplyMigration(s, m, SqlDialect::Sqlite);
                return true;
            });
        }
    }

    // Owns the lock file's descriptor (-1: none).
    class LockFd {
      public:
        LockFd& operator=(int fd) {
            fd_ = fd;
            return *this;
        }
        ~LockFd() {
            if (fd_ >= 0) ::close(fd_);
        }

      private:
        int fd_ = -1;
    };

    // Returns an idle read connection, or a new one while fewer than
    // kSqliteReaders are open; waits for one to come back otherwise.
    std::unique_ptr<SqliteConnection> BorrowReader() {
        std::unique_lock lock(readersMutex_);
        readerFree_.wait(lock,
                         [this] { return !idleReaders_.empty() || openReaders_ < kSqliteReaders; });
        if (!idleReaders_.empty()) {
            std::unique_ptr<SqliteConnection> reader = std::move(idleReaders_.back());
            idleReaders_.pop_back();
            return reader;
        }
        ++openReaders_;
        lock.unlock();
        try {
            auto reader = std::make_unique<SqliteConnection>(
                path_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW);
            // Nothing is ever written through a reader.
            SqliteSession(*reader).Exec("PRAGMA query_only=ON");
            return reader;
        } catch (...) {
            ReturnReader(nullptr);
            throw;
        }
    }
    // Gives a read connection back (nullptr: it could not be opened).
    void ReturnReader(std::unique_ptr<SqliteConnection> reader) {
        {
            std::lock_guard lock(readersMutex_);
            if (reader) {
                idleReaders_.push_back(std::move(reader));
            } else {
                --openReaders_;
            }
        }
        readerFree_.notify_one();
    }

    const std::string path_;
    // Declared first so that the database closes before the lock is let go.
    LockFd lockFd_;
    std::unique_ptr<SqliteConnection> writer_;
    std::mutex mutex_;  // the writer's
    std::mutex readersMutex_;
    std::condition_variable readerFree_;
    std::vector<std::unique_ptr<SqliteConnection>> idleReaders_;
    int openReaders_ = 0;
};

}  // namespace

std::unique_ptr<Storage> OpenSqliteStorage(const std::string& path, StorageUse use) {
    return std::make_unique<SqliteStorage>(path, use);
}

}  // namespace board

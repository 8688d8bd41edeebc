// SQLite storage: one database file in write-ahead-log mode, one connection
// shared under a mutex, and a lock file so that a second server cannot open
// the same database (which lets a starting server release every claim left
// by its killed predecessor at once). An operator's command opens the file
// beside the running server without the lock and leaves the claims alone.
#include <sqlite3.h>
#include <sys/file.h>
#include <unistd.h>

#include <fcntl.h>

#include <memory>

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

// Statements on the one connection; the storage's mutex is held.
class SqliteSession final : public Session {
  public:
    explicit SqliteSession(sqlite3* db) : db_(db) {}

    int64_t Run(std::string_view sql, const SqlValues& values, const EachRow& each,
                bool /*rawBytes*/) override {
        sqlite3_stmt* raw = nullptr;
        Check(sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &raw, nullptr));
        const std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> stmt(raw,
                                                                              &sqlite3_finalize);
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

    sqlite3* db_;
};

class SqliteStorage final : public SqlStorage {
  public:
    SqliteStorage(const std::string& path, StorageUse use) {
        const bool server = use == StorageUse::Server;
        if (server && path != ":memory:") LockDatabase(path);
        // A command never makes an empty board where the operator mistyped a path.
        if (!server && ::access(path.c_str(), F_OK) != 0) {
            throw StorageError("no board database at " + path);
        }
        const int flags =
            SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | (server ? SQLITE_OPEN_CREATE : 0);
        sqlite3* raw = nullptr;
        const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
        db_.reset(raw);
        if (rc != SQLITE_OK) {
            throw StorageError("cannot open the database " + path + ": " +
                               (raw ? sqlite3_errmsg(raw) : "out of memory"));
        }
        sqlite3_busy_timeout(raw, kSqliteBusyTimeoutMs);
        SqliteSession s(raw);
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
        SqliteSession s(db_.get());
        work(s);
    }

    void Transact(const std::function<bool(Session&)>& work) override {
        std::lock_guard lock(mutex_);
        SqliteSession s(db_.get());
        s.Exec("BEGIN IMMEDIATE");
        bool commit = false;
        try {
            commit = work(s);
        } catch (...) {
            sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
        if (!commit) {
            sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
            return;
        }
        try {
            s.Exec("COMMIT");
        } catch (...) {
            sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
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

    // Declared first so that the database closes before the lock is let go.
    LockFd lockFd_;
    std::unique_ptr<sqlite3, decltype(&sqlite3_close_v2)> db_{nullptr, &sqlite3_close_v2};
    std::mutex mutex_;
};

}  // namespace

std::unique_ptr<Storage> OpenSqliteStorage(const std::string& path, StorageUse use) {
    return std::make_unique<SqliteStorage>(path, use);
}

}  // namespace board

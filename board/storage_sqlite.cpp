// SQLite storage: one database file in write-ahead-log mode, one connection
// shared under a mutex, and a lock file so that a second server cannot open
// the same database (which lets a starting server release every claim left
// by its killed predecessor at once). An operator's command opens the file
// beside the running server without the lock and leaves the claims alone.
#include <sqlite3.h>
#include <sys/file.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <mutex>
#include <utility>

#include "board/copies.h"
#include "board/limits.h"
#include "board/names.h"
#include "board/ranking_sql.h"
#include "board/schema.h"
#include "board/storage.h"

namespace board {

namespace {

// Milliseconds SQLite waits on a busy database before failing.
constexpr int kBusyTimeoutMs = 5000;

// Owns one prepared statement; binds by position from 1 and reads columns from 0.
class Statement {
  public:
    Statement(sqlite3* db, const char* sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
            throw StorageError(std::string("SQLite: ") + sqlite3_errmsg(db));
        }
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Bind(int i, int64_t v) {
        Check(sqlite3_bind_int64(stmt_, i, v));
        return *this;
    }
    Statement& Bind(int i, const std::string& v) {
        Check(sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT));
        return *this;
    }
    Statement& BindBlob(int i, const std::string& v) {
        Check(sqlite3_bind_blob(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT));
        return *this;
    }
    Statement& BindNull(int i) {
        Check(sqlite3_bind_null(stmt_, i));
        return *this;
    }
    // Steps once: true while a row is ready.
    bool Step() {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        throw StorageError(std::string("SQLite: ") + sqlite3_errmsg(db_));
    }
    // Runs a statement that returns no rows.
    void Run() {
        while (Step()) {
        }
    }
    int64_t Int(int col) const { return sqlite3_column_int64(stmt_, col); }
    bool IsNull(int col) const { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }
    std::optional<int64_t> MaybeInt(int col) const {
        if (IsNull(col)) return std::nullopt;
        return Int(col);
    }
    std::string Text(int col) const {
        const void* p = sqlite3_column_blob(stmt_, col);
        const int n = sqlite3_column_bytes(stmt_, col);
        return p ? std::string(static_cast<const char*>(p), static_cast<size_t>(n)) : "";
    }

  private:
    void Check(int rc) {
        if (rc != SQLITE_OK) throw StorageError(std::string("SQLite: ") + sqlite3_errmsg(db_));
    }

    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

// The columns every run query selects, in the order ReadRun reads them.
constexpr const char* kRunColumns =
    "id, name, difficulty, claimed_score, score, frames, run_timestamp, state, reason, "
    "first_bad_step, verified_at, replay_hash, hidden_reason, hidden_at";

RunState StateFromText(const std::string& s) {
    if (s == "verified") return RunState::Verified;
    if (s == "rejected") return RunState::Rejected;
    return RunState::Pending;
}

// Reads a run from the columns of kRunColumns, starting at column first.
Run ReadRun(const Statement& st, int first = 0) {
    Run r;
    r.id = st.Int(first + 0);
    r.name = st.Text(first + 1);
    r.difficulty = static_cast<int>(st.Int(first + 2));
    r.claimedScore = st.Int(first + 3);
    r.score = st.MaybeInt(first + 4);
    r.frames = st.Int(first + 5);
    r.timestamp = st.Int(first + 6);
    r.state = StateFromText(st.Text(first + 7));
    r.reason = st.Text(first + 8);
    r.firstBadStep = st.MaybeInt(first + 9);
    r.verifiedAt = st.MaybeInt(first + 10);
    r.replayHash = st.Text(first + 11);
    r.hiddenReason = st.Text(first + 12);
    r.hiddenAt = st.MaybeInt(first + 13);
    return r;
}

class SqliteStorage final : public Storage {
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
        if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
            const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
            Close();
            throw StorageError("cannot open the database " + path + ": " + why);
        }
        try {
            sqlite3_busy_timeout(db_, kBusyTimeoutMs);
            Exec("PRAGMA journal_mode=WAL");
            // A run answered with 202 survives a power cut, not only a killed process.
            Exec("PRAGMA synchronous=FULL");
            Exec("PRAGMA foreign_keys=ON");
            Migrate();
            // The lock proves no other server uses this database: every claim
            // still held belongs to a server that is gone, through no fault of its run.
            if (server) {
                Exec(
                    "UPDATE runs SET claimed_by = NULL, claim_expires = NULL, "
                    "attempts = attempts - 1 WHERE state = 'pending' AND claimed_by IS NOT NULL");
            }
        } catch (...) {
            Close();
            throw;
        }
    }

    ~SqliteStorage() override { Close(); }

    std::string ServerKey() override {
        std::lock_guard lock(mutex_);
        if (!serverKey_.empty()) return serverKey_;
        Transaction tx(*this);
        {
            Statement find(db_, "SELECT value FROM server_keys WHERE name = 'token'");
            if (find.Step()) serverKey_ = find.Text(0);
        }
        if (serverKey_.empty()) {
            const std::string key = RandomHex(32);
            if (key.empty()) throw StorageError("no random bytes for the server key");
            Statement put(db_, "INSERT INTO server_keys (name, value) VALUES ('token', ?)");
            put.Bind(1, key).Run();
            serverKey_ = key;
        }
        tx.Commit();
        return serverKey_;
    }

    SubmitResult Submit(const NewRun& run) override {
        std::lock_guard lock(mutex_);
        Transaction tx(*this);
        SubmitResult result;
        bool nameKnown = false;
        {
            Statement owner(db_, "SELECT token_hash FROM names WHERE name_key = ?");
            owner.Bind(1, run.nameKey);
            // A freed name ('' for its token) is taken like a new one.
            if (owner.Step() && !owner.Text(0).empty()) {
                nameKnown = true;
                if (!SameHash(owner.Text(0), run.tokenHash)) {
                    result.outcome = SubmitOutcome::NameTaken;
                    return result;  // the transaction rolls back
                }
            }
        }
        {
            Statement same(
                db_, (std::string("SELECT ") + kRunColumns + " FROM runs WHERE replay_hash = ?")
                         .c_str());
            same.Bind(1, run.replayHash);
            if (same.Step()) {
                result.outcome = SubmitOutcome::Existing;
                result.run = ReadRun(same);
                return result;
            }
        }
        // The same game sent before, under any name: the first sender keeps it.
        if (!run.checks.empty()) {
            if (const auto original = FindCopied(run.difficulty, ProbeFor(run.checks))) {
                Statement owner(db_, kSqlOwnerOfRun);
                owner.Bind(1, *original);
                const bool mine = owner.Step() && SameHash(owner.Text(0), run.tokenHash);
                result.outcome = mine ? SubmitOutcome::Existing : SubmitOutcome::Copy;
                result.run = *ReadRunById(*original);
                return result;  // the transaction rolls back
            }
        }
        if (!nameKnown) {
            Statement bind(db_, sql::kBindName);
            bind.Bind(1, run.nameKey).Bind(2, run.tokenHash).Run();
        }
        Statement keep(db_,
                       "INSERT INTO replays (hash, bytes) VALUES (?, ?) ON CONFLICT DO NOTHING");
        keep.Bind(1, run.replayHash).BindBlob(2, run.replayBytes).Run();
        Statement add(db_,
                      "INSERT INTO runs (replay_hash, name, name_key, difficulty, claimed_score, "
                      "frames, run_timestamp, state, received_at) "
                      "VALUES (?, ?, ?, ?, ?, ?, ?, 'pending', ?)");
        add.Bind(1, run.replayHash)
            .Bind(2, run.name)
            .Bind(3, run.nameKey)
            .Bind(4, run.difficulty)
            .Bind(5, run.claimedScore)
            .Bind(6, run.frames)
            .Bind(7, run.timestamp)
            .Bind(8, run.receivedAt)
            .Run();
        result.outcome = SubmitOutcome::Created;
        result.run.id = sqlite3_last_insert_rowid(db_);
        IndexChecks(result.run.id, run.difficulty, run.checks);
        result.run.name = run.name;
        result.run.difficulty = run.difficulty;
        result.run.claimedScore = run.claimedScore;
        result.run.frames = run.frames;
        result.run.timestamp = run.timestamp;
        result.run.state = RunState::Pending;
        result.run.replayHash = run.replayHash;
        tx.Commit();
        return result;
    }

    std::optional<Run> FindRun(int64_t id) override {
        std::lock_guard lock(mutex_);
        return ReadRunById(id);
    }

    std::optional<std::string> ReplayBytes(int64_t id) override {
        std::lock_guard lock(mutex_);
        return ReadReplayBytes(id);
    }

    RankingChanges RankingSince(int64_t since) override {
        std::lock_guard lock(mutex_);
        Statement st(db_, sql::kRankingSince);
        st.Bind(1, since);
        RankingChanges out;
        out.version = since;
        while (st.Step()) {
            RankedRun r;
            r.difficulty = static_cast<int>(st.Int(0));
            r.nameKey = st.Text(1);
            out.version = std::max(out.version, st.Int(2));
            if (!st.IsNull(3)) {
                r.id = st.Int(3);
                r.score = st.Int(4);
                r.verifiedAt = st.Int(5);
                r.name = st.Text(6);
                r.frames = st.Int(7);
                r.timestamp = st.Int(8);
            }
            out.bests.push_back(std::move(r));
        }
        return out;
    }

    std::vector<Run> PlayerRuns(const std::string& nameKey, int limit, int64_t offset) override {
        std::lock_guard lock(mutex_);
        Statement st(db_, (std::string("SELECT ") + kRunColumns + sql::kPlayerRunsWhere).c_str());
        st.Bind(1, nameKey).Bind(2, limit).Bind(3, offset);
        std::vector<Run> out;
        while (st.Step()) out.push_back(ReadRun(st));
        return out;
    }

    std::optional<ClaimedRun> ClaimPending(const std::string& holder, int64_t now,
                                           int64_t leaseMs) override {
        std::lock_guard lock(mutex_);
        Transaction tx(*this);
        ClaimedRun claimed;
        {
            Statement find(db_,
                           "SELECT id, attempts FROM runs WHERE state = 'pending' AND "
                           "(claimed_by IS NULL OR claim_expires < ?) ORDER BY id LIMIT 1");
            find.Bind(1, now);
            if (!find.Step()) return std::nullopt;
            claimed.id = find.Int(0);
            claimed.attempts = static_cast<int>(find.Int(1)) + 1;
        }
        Statement take(db_,
                       "UPDATE runs SET claimed_by = ?, claim_expires = ?, attempts = ? "
                       "WHERE id = ?");
        take.Bind(1, holder).Bind(2, now + leaseMs).Bind(3, claimed.attempts).Bind(4, claimed.id);
        take.Run();
        Statement bytes(db_,
                        "SELECT p.bytes FROM runs r JOIN replays p ON p.hash = r.replay_hash "
                        "WHERE r.id = ?");
        bytes.Bind(1, claimed.id);
        if (bytes.Step()) claimed.replayBytes = bytes.Text(0);
        tx.Commit();
        return claimed;
    }

    bool Finish(int64_t id, const std::string& holder, const Verdict& verdict,
                int64_t now) override {
        std::lock_guard lock(mutex_);
        Transaction tx(*this);
        Statement st(db_,
                     "UPDATE runs SET state = ?, score = ?, reason = ?, first_bad_step = ?, "
                     "verified_at = ?, claimed_by = NULL, claim_expires = NULL "
                     "WHERE id = ? AND state = 'pending' AND claimed_by = ?");
        st.Bind(1, std::string(verdict.verified ? "verified" : "rejected"))
            .Bind(2, verdict.score)
            .Bind(3, verdict.reason);
        if (verdict.firstBadStep) {
            st.Bind(4, *verdict.firstBadStep);
        } else {
            st.BindNull(4);
        }
        st.Bind(5, now).Bind(6, id).Bind(7, holder).Run();
        if (sqlite3_changes(db_) != 1) return false;
        if (verdict.verified) UpdateBestOf(id);
        tx.Commit();
        return true;
    }

    bool Renew(int64_t id, const std::string& holder, int64_t now, int64_t leaseMs) override {
        std::lock_guard lock(mutex_);
        Statement st(db_,
                     "UPDATE runs SET claim_expires = ? "
                     "WHERE id = ? AND state = 'pending' AND claimed_by = ?");
        st.Bind(1, now + leaseMs).Bind(2, id).Bind(3, holder).Run();
        return sqlite3_changes(db_) == 1;
    }

    void Release(int64_t id, const std::string& holder) override {
        std::lock_guard lock(mutex_);
        Statement st(
            db_,
            "UPDATE runs SET claimed_by = NULL, claim_expires = NULL, "
            "attempts = attempts - 1 WHERE id = ? AND state = 'pending' AND claimed_by = ?");
        st.Bind(1, id).Bind(2, holder).Run();
    }

    bool Hide(int64_t id, const std::string& reason, int64_t now) override {
        std::lock_guard lock(mutex_);
        Transaction tx(*this);
        Statement hide(db_, sql::kHideRun);
        hide.Bind(1, reason).Bind(2, now).Bind(3, id).Run();
        if (sqlite3_changes(db_) != 1) return false;
        UpdateBestOf(id);
        RecordAction(now, "hide", id, reason);
        tx.Commit();
        return true;
    }

    bool Show(int64_t id, int64_t now) override {
        std::lock_guard lock(mutex_);
        Transaction tx(*this);
        Statement show(db_, sql::kShowRun);
        show.Bind(1, id).Run();
        if (sqlite3_changes(db_) != 1) return false;
        UpdateBestOf(id);
        RecordAction(now, "show", id, "");
        tx.Commit();
        return true;
    }

    bool FreeName(const std::string& nameKey, int64_t now) override {
        std::lock_guard lock(mutex_);
        Transaction tx(*this);
        Statement free(db_, sql::kFreeName);
        free.Bind(1, nameKey).Run();
        if (sqlite3_changes(db_) != 1) return false;
        RecordAction(now, "free-name", std::nullopt, "", nameKey);
        tx.Commit();
        return true;
    }

    int64_t CountPending() override {
        std::lock_guard lock(mutex_);
        Statement st(db_, "SELECT COUNT(*) FROM runs WHERE state = 'pending'");
        return st.Step() ? st.Int(0) : 0;
    }

    bool Healthy() override {
        try {
            std::lock_guard lock(mutex_);
            Statement st(db_, "SELECT 1");
            return st.Step();
        } catch (const StorageError&) {
            return false;
        }
    }

  private:
    // Opens a write transaction; rolls back unless committed.
    class Transaction {
      public:
        explicit Transaction(SqliteStorage& s) : s_(s) { s_.Exec("BEGIN IMMEDIATE"); }
        ~Transaction() {
            if (!done_) sqlite3_exec(s_.db_, "ROLLBACK", nullptr, nullptr, nullptr);
        }
        void Commit() {
            s_.Exec("COMMIT");
            done_ = true;
        }

      private:
        SqliteStorage& s_;
        bool done_ = false;
    };

    // Recomputes the best of a verified run's name on its board and stores
    // it with a new ranking version when it changed. Inside a transaction.
    void UpdateBestOf(int64_t id) {
        int difficulty = 0;
        std::string nameKey;
        {
            Statement place(db_, sql::kRunPlace);
            place.Bind(1, id);
            if (!place.Step() || place.Text(2) != "verified") return;
            difficulty = static_cast<int>(place.Int(0));
            nameKey = place.Text(1);
        }
        Statement best(db_, sql::kBestOf);
        best.Bind(1, difficulty).Bind(2, nameKey);
        const bool has = best.Step();
        // Run ids start at 1: 0 stands for none.
        int64_t heldId = 0;
        {
            Statement current(db_, sql::kCurrentBest);
            current.Bind(1, difficulty).Bind(2, nameKey);
            if (current.Step() && !current.IsNull(0)) heldId = current.Int(0);
        }
        if ((has ? best.Int(0) : 0) == heldId) return;
        Statement(db_, sql::kBumpRanking).Run();
        Statement version(db_, sql::kRankingVersion);
        if (!version.Step()) throw StorageError("SQLite: the ranking's version is missing");
        Statement put(db_, sql::kPutBest);
        put.Bind(1, difficulty).Bind(2, nameKey);
        if (has) {
            put.Bind(3, best.Int(0)).Bind(4, best.Int(1)).Bind(5, best.Int(2));
        } else {
            put.BindNull(3).BindNull(4).BindNull(5);
        }
        put.Bind(6, version.Int(0)).Run();
    }

    // Records an operator's action. Inside a transaction.
    void RecordAction(int64_t now, const char* action, std::optional<int64_t> run,
                      const std::string& reason, const std::string& nameKey = "") {
        Statement st(db_, sql::kRecordAction);
        st.Bind(1, now).Bind(2, std::string(action));
        if (run) {
            st.Bind(3, *run);
        } else {
            st.BindNull(3);
        }
        if (nameKey.empty()) {
            st.BindNull(4);
        } else {
            st.Bind(4, nameKey);
        }
        st.Bind(5, reason).Run();
    }

    void Exec(const char* sql) {
        char* message = nullptr;
        if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
            std::string why = message ? message : sqlite3_errmsg(db_);
            sqlite3_free(message);
            throw StorageError("SQLite: " + why);
        }
    }

    // Returns the stored replay bytes of a run; the caller holds the mutex.
    std::optional<std::string> ReadReplayBytes(int64_t id) {
        Statement st(db_,
                     "SELECT p.bytes FROM runs r JOIN replays p ON p.hash = r.replay_hash "
                     "WHERE r.id = ?");
        st.Bind(1, id);
        if (!st.Step()) return std::nullopt;
        return st.Text(0);
    }

    // Returns a run by id; the caller holds the mutex.
    std::optional<Run> ReadRunById(int64_t id) {
        Statement st(db_,
                     (std::string("SELECT ") + kRunColumns + " FROM runs WHERE id = ?").c_str());
        st.Bind(1, id);
        if (!st.Step()) return std::nullopt;
        return ReadRun(st);
    }

    // Returns the id of the oldest run of a difficulty that a probe finds.
    std::optional<int64_t> FindCopied(int difficulty, const CopyProbe& probe) {
        Statement st(db_, kSqlFindCopied);
        const int64_t bytes = probe.agreement * 4;
        st.Bind(1, difficulty)
            .Bind(2, probe.level)
            .Bind(3, probe.print)
            .Bind(4, kMaxCopyCandidates)
            .Bind(5, bytes)
            .Bind(6, bytes)
            .BindBlob(7, probe.prefix);
        if (!st.Step()) return std::nullopt;
        return st.Int(0);
    }

    // Stores a run's check values and prints (none for a run without check values).
    void IndexChecks(int64_t id, int difficulty, const std::vector<uint32_t>& checks) {
        if (checks.empty()) return;
        Statement keep(db_, kSqlInsertChecks);
        keep.Bind(1, id).BindBlob(2, PackChecks(checks, checks.size())).Run();
        const std::vector<int64_t> prints = CheckPrints(checks);
        for (size_t level = 0; level < prints.size(); ++level) {
            Statement add(db_, kSqlInsertPrint);
            add.Bind(1, difficulty)
                .Bind(2, static_cast<int64_t>(level))
                .Bind(3, prints[level])
                .Bind(4, id)
                .Run();
        }
    }

    // Indexes the check values of runs stored before the index existed, read
    // from their replays; part of the migration's transaction.
    void IndexOlderRuns() {
        int64_t after = 0;
        for (bool more = true; more;) {
            std::vector<std::pair<int64_t, int>> batch;  // id and difficulty
            {
                Statement st(db_, kSqlRunsWithoutChecks);
                st.Bind(1, after).Bind(2, kIndexBatchRuns);
                while (st.Step()) batch.emplace_back(st.Int(0), static_cast<int>(st.Int(1)));
            }
            more = static_cast<int64_t>(batch.size()) == kIndexBatchRuns;
            for (const auto& [id, difficulty] : batch) {
                after = id;
                // Every stored replay was read once at upload; one that no longer
                // reads stays out of the index rather than stopping the server.
                if (const auto checks = ReplayChecks(ReadReplayBytes(id).value_or(""))) {
                    IndexChecks(id, difficulty, *checks);
                }
            }
        }
    }

    // Takes the database's lock file, or throws when another server holds it.
    void LockDatabase(const std::string& path) {
        const std::string lockPath = path + ".lock";
        lockFd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (lockFd_ < 0) throw StorageError("cannot open the lock file " + lockPath);
        if (::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
            ::close(lockFd_);
            lockFd_ = -1;
            throw StorageError("the database " + path + " is in use by another server");
        }
    }

    // Applies every migration newer than the database's version, each in its own transaction.
    void Migrate() {
        Exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
        int64_t version = 0;
        {
            Statement st(db_, "SELECT MAX(version) FROM schema_version");
            if (st.Step()) version = st.Int(0);
        }
        const int64_t newest = Migrations().back().version;
        if (version > newest) {
            throw StorageError("the database has schema version " + std::to_string(version) +
                               ", newer than this server's " + std::to_string(newest));
        }
        for (const Migration& m : Migrations()) {
            if (m.version <= version) continue;
            Transaction tx(*this);
            for (const std::string& sql : MigrationStatements(m, SqlDialect::Sqlite)) {
                Exec(sql.c_str());
            }
            if (m.version == kCopyIndexVersion) IndexOlderRuns();
            Statement st(db_, "INSERT INTO schema_version (version) VALUES (?)");
            st.Bind(1, m.version).Run();
            tx.Commit();
        }
    }

    void Close() {
        if (db_) sqlite3_close_v2(db_);
        db_ = nullptr;
        if (lockFd_ >= 0) ::close(lockFd_);
        lockFd_ = -1;
    }

    std::mutex mutex_;
    sqlite3* db_ = nullptr;
    int lockFd_ = -1;
    std::string serverKey_;
};

}  // namespace

std::unique_ptr<Storage> OpenSqliteStorage(const std::string& path, StorageUse use) {
    return std::make_unique<SqliteStorage>(path, use);
}

}  // namespace board

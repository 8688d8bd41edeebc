// PostgreSQL storage: several board servers share one database and its work.
// A small pool of libpq connections serves the threads; every query is
// parameterised. Workers claim pending runs with FOR UPDATE SKIP LOCKED and a
// lease timed by the database's clock, so two servers never verify one run at
// once and a killed server's runs are taken over once its leases run out. A
// connection the database dropped is replaced; a database that is gone
// surfaces as StorageError.
#include <libpq-fe.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <type_traits>
#include <utility>

#include "board/copies.h"
#include "board/limits.h"
#include "board/names.h"
#include "board/ranking_sql.h"
#include "board/schema.h"
#include "board/storage.h"

namespace board {

namespace {

// The advisory lock that makes servers starting together migrate one at a time.
constexpr int64_t kMigrationLockKey = 0x7a71'626f'6172'6401;  // "zqboard" and a 1

// A failure that left the connection unusable; the pool drops the connection.
class ConnectionLost : public StorageError {
  public:
    using StorageError::StorageError;
};

// Returns the first line of a libpq message, prefixed with the backend's name.
std::string Describe(const char* message) {
    std::string text = message ? message : "";
    const size_t end = text.find('\n');
    if (end != std::string::npos) text.resize(end);
    if (text.empty()) text = "unknown error";
    return "PostgreSQL: " + text;
}

// Drops a notice the server sends.
void IgnoreNotice(void*, const char*) {}

// One query parameter: text, bytes (sent as binary) or NULL.
struct Param {
    Param(int v) : value(std::to_string(v)) {}
    Param(int64_t v) : value(std::to_string(v)) {}
    Param(std::string v) : value(std::move(v)) {}
    Param(std::nullopt_t) : null(true) {}
    // Returns a parameter that carries bytes as they are (a bytea).
    static Param Bytes(std::string v) {
        Param p(std::move(v));
        p.binary = true;
        return p;
    }

    std::string value;
    bool null = false;
    bool binary = false;
};

// A statement's parameters as libpq takes them (pointing into the Params).
struct Bound {
    explicit Bound(const std::vector<Param>& params) : count(static_cast<int>(params.size())) {
        for (const Param& p : params) {
            if (!p.binary && p.value.find('\0') != std::string::npos) {
                throw StorageError("PostgreSQL: a text value holds a NUL byte");
            }
            values.push_back(p.null ? nullptr : p.value.c_str());
            lengths.push_back(static_cast<int>(p.value.size()));
            formats.push_back(p.binary ? 1 : 0);
        }
    }

    int count;
    std::vector<const char*> values;
    std::vector<int> lengths;
    std::vector<int> formats;
};

// Owns a query's result; reads rows from 0 and columns from 0.
class Rows {
  public:
    explicit Rows(PGresult* res) : res_(res, &PQclear) {}

    int Count() const { return PQntuples(res_.get()); }
    // Returns the number of rows the command changed.
    int64_t Changed() const { return ParseInt(PQcmdTuples(res_.get()), "row count"); }
    bool IsNull(int row, int col) const { return PQgetisnull(res_.get(), row, col) != 0; }
    std::string Text(int row, int col) const {
        return std::string(PQgetvalue(res_.get(), row, col),
                           static_cast<size_t>(PQgetlength(res_.get(), row, col)));
    }
    int64_t Int(int row, int col) const {
        return ParseInt(PQgetvalue(res_.get(), row, col), "integer column");
    }
    std::optional<int64_t> MaybeInt(int row, int col) const {
        if (IsNull(row, col)) return std::nullopt;
        return Int(row, col);
    }

  private:
    static int64_t ParseInt(const char* text, const char* what) {
        const std::string_view s = text ? text : "";
        int64_t v = 0;
        const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
        if (s.empty() || ec != std::errc() || end != s.data() + s.size()) {
            throw StorageError(std::string("PostgreSQL: unexpected ") + what + " '" +
                               std::string(s.substr(0, 32)) + "'");
        }
        return v;
    }

    std::unique_ptr<PGresult, decltype(&PQclear)> res_;
};

// One connection to the database, used by one thread at a time.
class Connection {
  public:
    // Connects, or throws ConnectionLost with the reason.
    explicit Connection(const std::string& url) {
        const std::string timeout = std::to_string(kDatabaseConnectTimeoutSeconds);
        const std::string options =
            "-c statement_timeout=" + std::to_string(kDatabaseStatementTimeoutMs);
        const std::string userTimeout = std::to_string(kDatabaseStatementTimeoutMs);
        // Values the address itself gives win over these defaults: the address
        // is expanded in place of "dbname", after them.
        const char* keys[] = {"connect_timeout", "tcp_user_timeout", "application_name",
                              "options",         "dbname",           nullptr};
        const char* values[] = {timeout.c_str(), userTimeout.c_str(), "zarquill-board",
                                options.c_str(), url.c_str(),         nullptr};
        conn_ = PQconnectdbParams(keys, values, 1);
        if (!conn_) throw ConnectionLost("PostgreSQL: out of memory");
        if (PQstatus(conn_) != CONNECTION_OK) {
            const std::string why = Describe(PQerrorMessage(conn_));
            PQfinish(conn_);
            conn_ = nullptr;
            throw ConnectionLost(why);
        }
        // Notices ("relation already exists, skipping") are not errors.
        PQsetNoticeProcessor(conn_, IgnoreNotice, nullptr);
        if (PQsetClientEncoding(conn_, "UTF8") != 0) {
            const std::string why = Describe(PQerrorMessage(conn_));
            PQfinish(conn_);
            conn_ = nullptr;
            throw ConnectionLost(why);
        }
    }
    ~Connection() {
        if (conn_) PQfinish(conn_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Runs one statement with its parameters; binaryResult asks for raw column
    // bytes (for bytea). Throws ConnectionLost when the connection broke, else
    // StorageError on any failure.
    Rows Exec(const char* sql, const std::vector<Param>& params = {}, bool binaryResult = false) {
        ++statements_;
        const Bound b(params);
        PGresult* res = PQexecParams(conn_, sql, b.count, nullptr, b.values.data(),
                                     b.lengths.data(), b.formats.data(), binaryResult ? 1 : 0);
        if (!res) throw ConnectionLost(Describe(PQerrorMessage(conn_)));
        Rows rows(res);
        const ExecStatusType status = PQresultStatus(res);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            const char* primary = PQresultErrorField(res, PG_DIAG_MESSAGE_PRIMARY);
            const std::string why = Describe(primary ? primary : PQresultErrorMessage(res));
            if (PQstatus(conn_) != CONNECTION_OK) throw ConnectionLost(why);
            throw StorageError(why);
        }
        return rows;
    }

    // Runs one query and hands its rows to each as they arrive, one at a time,
    // so that a large result is never held whole (the ranking's first load).
    // Throws like Exec; rows already handed over stay handed over.
    void ExecEach(const char* sql, const std::vector<Param>& params,
                  const std::function<void(const Rows&)>& each) {
        ++statements_;
        const Bound b(params);
        if (!PQsendQueryParams(conn_, sql, b.count, nullptr, b.values.data(), b.lengths.data(),
                               b.formats.data(), 0) ||
            !PQsetSingleRowMode(conn_)) {
            throw ConnectionLost(Describe(PQerrorMessage(conn_)));
        }
        // Every result is read, even after a failure, so the connection is left idle.
        std::string why;
        while (PGresult* res = PQgetResult(conn_)) {
            Rows rows(res);
            const ExecStatusType status = PQresultStatus(res);
            if (status == PGRES_SINGLE_TUPLE) {
                if (why.empty()) each(rows);
            } else if (status != PGRES_TUPLES_OK && why.empty()) {
                const char* primary = PQresultErrorField(res, PG_DIAG_MESSAGE_PRIMARY);
                why = Describe(primary ? primary : PQresultErrorMessage(res));
            }
        }
        if (!why.empty()) {
            if (PQstatus(conn_) != CONNECTION_OK) throw ConnectionLost(why);
            throw StorageError(why);
        }
    }

    // Returns true when the connection can no longer be used or is inside a
    // transaction that was not ended.
    bool Unusable() const {
        return PQstatus(conn_) != CONNECTION_OK || PQtransactionStatus(conn_) != PQTRANS_IDLE;
    }
    // Returns the statements run since the connection was last lent out.
    int Statements() const { return statements_; }
    // Starts counting statements anew for a new borrower.
    void Lend() { statements_ = 0; }

  private:
    PGconn* conn_ = nullptr;
    int statements_ = 0;
};

// Runs statements as one transaction; rolls back unless committed.
class Transaction {
  public:
    explicit Transaction(Connection& c) : c_(c) { c_.Exec("BEGIN"); }
    ~Transaction() {
        if (done_) return;
        try {
            c_.Exec("ROLLBACK");
        } catch (const StorageError&) {
            // The pool drops a connection left inside a transaction.
        }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit() {
        c_.Exec("COMMIT");
        done_ = true;
    }

  private:
    Connection& c_;
    bool done_ = false;
};

// The database's clock in milliseconds since the epoch: claims expire by it,
// so that servers whose clocks differ still agree on when a lease ends.
#define ZQ_DATABASE_NOW "(extract(epoch from clock_timestamp()) * 1000)::bigint"

// The columns every run query selects, in the order ReadRun reads them.
#define ZQ_RUN_COLUMNS                                                                   \
    "id, name, difficulty, claimed_score, score, frames, run_timestamp, state, reason, " \
    "first_bad_step, verified_at, replay_hash, hidden_reason, hidden_at"

RunState StateFromText(const std::string& s) {
    if (s == "verified") return RunState::Verified;
    if (s == "rejected") return RunState::Rejected;
    return RunState::Pending;
}

// Reads a run from the columns of ZQ_RUN_COLUMNS in a row.
Run ReadRun(const Rows& rows, int row) {
    Run r;
    r.id = rows.Int(row, 0);
    r.name = rows.Text(row, 1);
    r.difficulty = static_cast<int>(rows.Int(row, 2));
    r.claimedScore = rows.Int(row, 3);
    r.score = rows.MaybeInt(row, 4);
    r.frames = rows.Int(row, 5);
    r.timestamp = rows.Int(row, 6);
    r.state = StateFromText(rows.Text(row, 7));
    r.reason = rows.Text(row, 8);
    r.firstBadStep = rows.MaybeInt(row, 9);
    r.verifiedAt = rows.MaybeInt(row, 10);
    r.replayHash = rows.Text(row, 11);
    r.hiddenReason = rows.Text(row, 12);
    r.hiddenAt = rows.MaybeInt(row, 13);
    return r;
}

// The shared statements in PostgreSQL's spelling, numbered once.
struct Statements {
    const std::string bestOf = sql::Numbered(sql::kBestOf);
    const std::string currentBest = sql::Numbered(sql::kCurrentBest);
    const std::string putBest = sql::Numbered(sql::kPutBest);
    const std::string rankingSince = sql::Numbered(sql::kRankingSince);
    const std::string runPlace = sql::Numbered(sql::kRunPlace);
    const std::string hideRun = sql::Numbered(sql::kHideRun);
    const std::string showRun = sql::Numbered(sql::kShowRun);
    const std::string freeName = sql::Numbered(sql::kFreeName);
    const std::string bindName = sql::Numbered(sql::kBindName);
    const std::string recordAction = sql::Numbered(sql::kRecordAction);
    const std::string playerRuns =
        sql::Numbered(std::string("SELECT " ZQ_RUN_COLUMNS) + sql::kPlayerRunsWhere);
};

const Statements& Sql() {
    static const Statements statements;
    return statements;
}

// Lends connections to threads, at most kDatabaseConnections at once; idle
// ones are kept for the next borrower.
class Pool {
  public:
    explicit Pool(std::string url) : url_(std::move(url)) {}

    // Returns a connection and whether it was used before (it may have died
    // while idle); throws StorageError when none can be had.
    std::pair<std::unique_ptr<Connection>, bool> Borrow() {
        std::unique_lock lock(mutex_);
        // A borrower waits at most as long as one statement may take.
        const auto wait = std::chrono::milliseconds(kDatabaseStatementTimeoutMs);
        const bool got = free_.wait_for(
            lock, wait, [this] { return !idle_.empty() || open_ < kDatabaseConnections; });
        if (!got) throw StorageError("PostgreSQL: every database connection is busy");
        if (!idle_.empty()) {
            auto conn = std::move(idle_.back());
            idle_.pop_back();
            conn->Lend();
            return {std::move(conn), true};
        }
        ++open_;
        lock.unlock();
        try {
            return {std::make_unique<Connection>(url_), false};
        } catch (...) {
            Forget();
            throw;
        }
    }

    // Takes a connection back, or closes it when it is no longer usable.
    void Return(std::unique_ptr<Connection> conn) {
        if (conn->Unusable()) {
            conn.reset();
            Forget();
            return;
        }
        std::lock_guard lock(mutex_);
        idle_.push_back(std::move(conn));
        free_.notify_one();
    }

    // Closes a connection that broke, and every idle one with it: when the
    // database restarted, they are all gone.
    void Discard(std::unique_ptr<Connection> conn) {
        conn.reset();
        std::vector<std::unique_ptr<Connection>> idle;
        {
            std::lock_guard lock(mutex_);
            idle.swap(idle_);
            open_ -= static_cast<int>(idle.size()) + 1;
            free_.notify_all();
        }
    }

  private:
    void Forget() {
        std::lock_guard lock(mutex_);
        --open_;
        free_.notify_one();
    }

    const std::string url_;
    std::mutex mutex_;
    std::condition_variable free_;
    std::vector<std::unique_ptr<Connection>> idle_;
    int open_ = 0;  // lent out and idle
};

class PostgresStorage final : public Storage {
  public:
    explicit PostgresStorage(const std::string& url) : pool_(url) {
        WithConnection([](Connection& c) { Migrate(c); });
    }

    std::string ServerKey() override {
        {
            std::lock_guard lock(keyMutex_);
            if (!serverKey_.empty()) return serverKey_;
        }
        const std::string key = WithConnection([](Connection& c) {
            // Servers starting together each offer a key; the first one stored wins.
            const std::string offer = RandomHex(32);
            if (offer.empty()) throw StorageError("no random bytes for the server key");
            c.Exec(
                "INSERT INTO server_keys (name, value) VALUES ('token', $1) "
                "ON CONFLICT DO NOTHING",
                {offer});
            const Rows rows = c.Exec("SELECT value FROM server_keys WHERE name = 'token'");
            if (rows.Count() != 1) throw StorageError("PostgreSQL: the server key is missing");
            return rows.Text(0, 0);
        });
        std::lock_guard lock(keyMutex_);
        serverKey_ = key;
        return serverKey_;
    }

    SubmitResult Submit(const NewRun& run) override {
        return WithConnection([&run](Connection& c) {
            Transaction tx(c);
            SubmitResult result;
            // A name sent for the first time by two servers at once: the
            // insert of the second waits for the first and then does nothing,
            // and both read the one owner that was stored.
            // A freed name ('' for its token) is taken the same way.
            Rows owner = c.Exec("SELECT token_hash FROM names WHERE name_key = $1", {run.nameKey});
            if (owner.Count() == 0 || owner.Text(0, 0).empty()) {
                c.Exec(Sql().bindName.c_str(), {run.nameKey, run.tokenHash});
                owner = c.Exec("SELECT token_hash FROM names WHERE name_key = $1", {run.nameKey});
            }
            if (owner.Count() != 1 || !SameHash(owner.Text(0, 0), run.tokenHash)) {
                result.outcome = SubmitOutcome::NameTaken;
                return result;  // the transaction rolls back
            }
            const char* const findSame =
                "SELECT " ZQ_RUN_COLUMNS " FROM runs WHERE replay_hash = $1";
            Rows same = c.Exec(findSame, {run.replayHash});
            if (same.Count() == 1) {
                result.outcome = SubmitOutcome::Existing;
                result.run = ReadRun(same, 0);
                return result;
            }
            // The same game sent before, under any name: the first sender keeps
            // it. Submissions that could copy one another take one lock until
            // they commit, so two servers never both store one game.
            if (!run.checks.empty()) {
                c.Exec("SELECT pg_advisory_xact_lock($1)",
                       {CopyLockKey(run.difficulty, run.checks.front())});
                if (const auto original = FindCopied(c, run.difficulty, ProbeFor(run.checks))) {
                    const Rows owner = c.Exec(
                        StatementFor(kSqlOwnerOfRun, SqlDialect::Postgres).c_str(), {*original});
                    const bool mine =
                        owner.Count() == 1 && SameHash(owner.Text(0, 0), run.tokenHash);
                    const Rows found =
                        c.Exec("SELECT " ZQ_RUN_COLUMNS " FROM runs WHERE id = $1", {*original});
                    if (found.Count() != 1) throw StorageError("PostgreSQL: a run vanished");
                    result.outcome = mine ? SubmitOutcome::Existing : SubmitOutcome::Copy;
                    result.run = ReadRun(found, 0);
                    return result;  // the transaction rolls back
                }
            }
            c.Exec("INSERT INTO replays (hash, bytes) VALUES ($1, $2) ON CONFLICT DO NOTHING",
                   {run.replayHash, Param::Bytes(run.replayBytes)});
            // The same bytes sent to two servers at once: one insert wins,
            // the other finds its run.
            Rows added = c.Exec(
                "INSERT INTO runs (replay_hash, name, name_key, difficulty, claimed_score, "
                "frames, run_timestamp, state, received_at) "
                "VALUES ($1, $2, $3, $4, $5, $6, $7, 'pending', $8) "
                "ON CONFLICT (replay_hash) DO NOTHING RETURNING " ZQ_RUN_COLUMNS,
                {run.replayHash, run.name, run.nameKey, run.difficulty, run.claimedScore,
                 run.frames, run.timestamp, run.receivedAt});
            if (added.Count() == 1) {
                result.outcome = SubmitOutcome::Created;
                result.run = ReadRun(added, 0);
                IndexChecks(c, result.run.id, run.difficulty, run.checks);
            } else {
                same = c.Exec(findSame, {run.replayHash});
                if (same.Count() != 1) throw StorageError("PostgreSQL: a run vanished");
                result.outcome = SubmitOutcome::Existing;
                result.run = ReadRun(same, 0);
            }
            tx.Commit();
            return result;
        });
    }

    std::optional<Run> FindRun(int64_t id) override {
        return WithConnection([id](Connection& c) -> std::optional<Run> {
            const Rows rows = c.Exec("SELECT " ZQ_RUN_COLUMNS " FROM runs WHERE id = $1", {id});
            if (rows.Count() == 0) return std::nullopt;
            return ReadRun(rows, 0);
        });
    }

    std::optional<std::string> ReplayBytes(int64_t id) override {
        return WithConnection([id](Connection& c) { return ReadBytes(c, id); });
    }

    RankingChanges RankingSince(int64_t since) override {
        return WithConnection([since](Connection& c) {
            // Versions are taken under the lock of ranking_version and so
            // committed in order: once a row of version v is seen, every
            // earlier one is too, and the highest seen is the version reached.
            RankingChanges out;
            out.version = since;
            c.ExecEach(Sql().rankingSince.c_str(), {since}, [&out](const Rows& rows) {
                RankedRun r;
                r.difficulty = static_cast<int>(rows.Int(0, 0));
                r.nameKey = rows.Text(0, 1);
                out.version = std::max(out.version, rows.Int(0, 2));
                if (!rows.IsNull(0, 3)) {
                    r.id = rows.Int(0, 3);
                    r.score = rows.Int(0, 4);
                    r.verifiedAt = rows.Int(0, 5);
                    r.name = rows.Text(0, 6);
                    r.frames = rows.Int(0, 7);
                    r.timestamp = rows.Int(0, 8);
                }
                out.bests.push_back(std::move(r));
            });
            return out;
        });
    }

    std::vector<Run> PlayerRuns(const std::string& nameKey, int limit, int64_t offset) override {
        return WithConnection([&](Connection& c) {
            const Rows rows = c.Exec(Sql().playerRuns.c_str(), {nameKey, limit, offset});
            std::vector<Run> out;
            for (int i = 0; i < rows.Count(); ++i) out.push_back(ReadRun(rows, i));
            return out;
        });
    }

    std::optional<ClaimedRun> ClaimPending(const std::string& holder, int64_t /*now*/,
                                           int64_t leaseMs) override {
        return WithConnection([&](Connection& c) -> std::optional<ClaimedRun> {
            Transaction tx(c);
            // SKIP LOCKED passes over a run another server is claiming this
            // very moment instead of waiting for it.
            const Rows rows =
                c.Exec("UPDATE runs SET claimed_by = $1, claim_expires = " ZQ_DATABASE_NOW
                       " + $2, attempts = attempts + 1 "
                       "WHERE id = (SELECT id FROM runs WHERE state = 'pending' AND "
                       "(claimed_by IS NULL OR claim_expires < " ZQ_DATABASE_NOW
                       ") ORDER BY id LIMIT 1 FOR UPDATE SKIP LOCKED) RETURNING id, attempts",
                       {holder, leaseMs});
            if (rows.Count() == 0) return std::nullopt;
            ClaimedRun claimed;
            claimed.id = rows.Int(0, 0);
            claimed.attempts = static_cast<int>(rows.Int(0, 1));
            claimed.replayBytes = ReadBytes(c, claimed.id).value_or("");
            tx.Commit();
            return claimed;
        });
    }

    bool Finish(int64_t id, const std::string& holder, const Verdict& verdict,
                int64_t now) override {
        return WithConnection([&](Connection& c) {
            Transaction tx(c);
            if (verdict.verified) LockRanking(c);
            const Rows rows = c.Exec(
                "UPDATE runs SET state = $1, score = $2, reason = $3, first_bad_step = $4, "
                "verified_at = $5, claimed_by = NULL, claim_expires = NULL "
                "WHERE id = $6 AND state = 'pending' AND claimed_by = $7",
                {std::string(verdict.verified ? "verified" : "rejected"), verdict.score,
                 verdict.reason,
                 verdict.firstBadStep ? Param(*verdict.firstBadStep) : Param(std::nullopt), now, id,
                 holder});
            if (rows.Changed() != 1) return false;
            if (verdict.verified) UpdateBestOf(c, id);
            tx.Commit();
            return true;
        });
    }

    bool Renew(int64_t id, const std::string& holder, int64_t /*now*/, int64_t leaseMs) override {
        return WithConnection([&](Connection& c) {
            return c.Exec("UPDATE runs SET claim_expires = " ZQ_DATABASE_NOW
                          " + $1 WHERE id = $2 AND state = 'pending' AND claimed_by = $3",
                          {leaseMs, id, holder})
                       .Changed() == 1;
        });
    }

    void Release(int64_t id, const std::string& holder) override {
        WithConnection([&](Connection& c) {
            c.Exec(
                "UPDATE runs SET claimed_by = NULL, claim_expires = NULL, "
                "attempts = attempts - 1 WHERE id = $1 AND state = 'pending' AND claimed_by = $2",
                {id, holder});
        });
    }

    bool Hide(int64_t id, const std::string& reason, int64_t now) override {
        return WithConnection([&](Connection& c) {
            Transaction tx(c);
            LockRanking(c);
            if (c.Exec(Sql().hideRun.c_str(), {reason, now, id}).Changed() != 1) return false;
            UpdateBestOf(c, id);
            c.Exec(Sql().recordAction.c_str(),
                   {now, std::string("hide"), id, std::nullopt, reason});
            tx.Commit();
            return true;
        });
    }

    bool Show(int64_t id, int64_t now) override {
        return WithConnection([&](Connection& c) {
            Transaction tx(c);
            LockRanking(c);
            if (c.Exec(Sql().showRun.c_str(), {id}).Changed() != 1) return false;
            UpdateBestOf(c, id);
            c.Exec(Sql().recordAction.c_str(),
                   {now, std::string("show"), id, std::nullopt, std::string()});
            tx.Commit();
            return true;
        });
    }

    bool FreeName(const std::string& nameKey, int64_t now) override {
        return WithConnection([&](Connection& c) {
            Transaction tx(c);
            if (c.Exec(Sql().freeName.c_str(), {nameKey}).Changed() != 1) return false;
            c.Exec(Sql().recordAction.c_str(),
                   {now, std::string("free-name"), std::nullopt, nameKey, std::string()});
            tx.Commit();
            return true;
        });
    }

    int64_t CountPending() override {
        return WithConnection([](Connection& c) {
            return c.Exec("SELECT COUNT(*) FROM runs WHERE state = 'pending'").Int(0, 0);
        });
    }

    bool Healthy() override {
        try {
            return WithConnection([](Connection& c) { return c.Exec("SELECT 1").Count() == 1; });
        } catch (const StorageError&) {
            return false;
        }
    }

  private:
    // Runs work on a pooled connection. A connection that had died while idle
    // fails on its first statement, which then never ran: the work is retried
    // once on a new connection. Any other lost connection is reported.
    template <typename Work>
    auto WithConnection(Work&& work) -> std::invoke_result_t<Work&, Connection&> {
        for (int attempt = 0;; ++attempt) {
            auto [conn, reused] = pool_.Borrow();
            try {
                if constexpr (std::is_void_v<std::invoke_result_t<Work&, Connection&>>) {
                    work(*conn);
                    pool_.Return(std::move(conn));
                    return;
                } else {
                    auto out = work(*conn);
                    pool_.Return(std::move(conn));
                    return out;
                }
            } catch (const ConnectionLost&) {
                const bool neverRan = reused && conn->Statements() == 1;
                pool_.Discard(std::move(conn));
                if (!neverRan || attempt > 0) throw;
            } catch (...) {
                pool_.Return(std::move(conn));
                throw;
            }
        }
    }

    // Takes the ranking's lock until the transaction ends: changes to the
    // ranking (here and on other servers) then happen one after the other,
    // each reading the runs the one before committed, and take their
    // versions in the order they commit.
    static void LockRanking(Connection& c) {
        c.Exec("SELECT version FROM ranking_version FOR UPDATE");
    }

    // Recomputes the best of a verified run's name on its board and stores
    // it with a new ranking version when it changed. Inside a transaction
    // that holds LockRanking.
    static void UpdateBestOf(Connection& c, int64_t id) {
        const Rows place = c.Exec(Sql().runPlace.c_str(), {id});
        if (place.Count() != 1 || place.Text(0, 2) != "verified") return;
        const int64_t difficulty = place.Int(0, 0);
        const std::string nameKey = place.Text(0, 1);
        const Rows best = c.Exec(Sql().bestOf.c_str(), {difficulty, nameKey});
        const Rows current = c.Exec(Sql().currentBest.c_str(), {difficulty, nameKey});
        // Run ids start at 1: 0 stands for none.
        const int64_t bestId = best.Count() == 1 ? best.Int(0, 0) : 0;
        const int64_t heldId =
            current.Count() == 1 && !current.IsNull(0, 0) ? current.Int(0, 0) : 0;
        if (bestId == heldId) return;
        const int64_t version =
            c.Exec((std::string(sql::kBumpRanking) + " RETURNING version").c_str()).Int(0, 0);
        if (bestId != 0) {
            c.Exec(Sql().putBest.c_str(), {difficulty, nameKey, bestId, best.Int(0, 1),
                                           best.Int(0, 2), version});
        } else {
            c.Exec(Sql().putBest.c_str(),
                   {difficulty, nameKey, std::nullopt, std::nullopt, std::nullopt, version});
        }
    }

    // Returns the id of the oldest run of a difficulty that a probe finds.
    static std::optional<int64_t> FindCopied(Connection& c, int difficulty,
                                             const CopyProbe& probe) {
        const int64_t bytes = probe.agreement * 4;
        const Rows rows = c.Exec(StatementFor(kSqlFindCopied, SqlDialect::Postgres).c_str(),
                                 {difficulty, probe.level, probe.print, kMaxCopyCandidates, bytes,
                                  bytes, Param::Bytes(probe.prefix)});
        if (rows.Count() == 0) return std::nullopt;
        return rows.Int(0, 0);
    }

    // Stores a run's check values and prints (none for a run without check values).
    static void IndexChecks(Connection& c, int64_t id, int difficulty,
                            const std::vector<uint32_t>& checks) {
        if (checks.empty()) return;
        c.Exec(StatementFor(kSqlInsertChecks, SqlDialect::Postgres).c_str(),
               {id, Param::Bytes(PackChecks(checks, checks.size()))});
        const std::string insertPrint = StatementFor(kSqlInsertPrint, SqlDialect::Postgres);
        const std::vector<int64_t> prints = CheckPrints(checks);
        for (size_t level = 0; level < prints.size(); ++level) {
            c.Exec(insertPrint.c_str(),
                   {difficulty, static_cast<int64_t>(level), prints[level], id});
        }
    }

    // Indexes the check values of runs stored before the index existed, read
    // from their replays; part of the migration's transaction.
    static void IndexOlderRuns(Connection& c) {
        const std::string older = StatementFor(kSqlRunsWithoutChecks, SqlDialect::Postgres);
        int64_t after = 0;
        for (bool more = true; more;) {
            const Rows ids = c.Exec(older.c_str(), {after, kIndexBatchRuns});
            more = ids.Count() == kIndexBatchRuns;
            for (int i = 0; i < ids.Count(); ++i) {
                after = ids.Int(i, 0);
                // Every stored replay was read once at upload; one that no longer
                // reads stays out of the index rather than stopping the server.
                if (const auto checks = ReplayChecks(ReadBytes(c, after).value_or(""))) {
                    IndexChecks(c, after, static_cast<int>(ids.Int(i, 1)), *checks);
                }
            }
        }
    }

    static std::optional<std::string> ReadBytes(Connection& c, int64_t id) {
        const Rows rows = c.Exec(
            "SELECT p.bytes FROM runs r JOIN replays p ON p.hash = r.replay_hash "
            "WHERE r.id = $1",
            {id}, true);
        if (rows.Count() == 0) return std::nullopt;
        return rows.Text(0, 0);
    }

    // Applies every migration newer than the database's version in one
    // transaction, under an advisory lock so that servers starting together
    // migrate one after the other (the later ones find the work done).
    static void Migrate(Connection& c) {
        Transaction tx(c);
        c.Exec("SELECT pg_advisory_xact_lock($1)", {kMigrationLockKey});
        c.Exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
        const int64_t version =
            c.Exec("SELECT COALESCE(MAX(version), 0) FROM schema_version").Int(0, 0);
        const int64_t newest = Migrations().back().version;
        if (version > newest) {
            throw StorageError("the database has schema version " + std::to_string(version) +
                               ", newer than this server's " + std::to_string(newest));
        }
        for (const Migration& m : Migrations()) {
            if (m.version <= version) continue;
            for (const std::string& sql : MigrationStatements(m, SqlDialect::Postgres)) {
                c.Exec(sql.c_str());
            }
            if (m.version == kCopyIndexVersion) IndexOlderRuns(c);
            c.Exec("INSERT INTO schema_version (version) VALUES ($1)", {m.version});
        }
        tx.Commit();
    }

    Pool pool_;
    std::mutex keyMutex_;
    std::string serverKey_;
};

}  // namespace

std::unique_ptr<Storage> OpenPostgresStorage(const std::string& url) {
    return std::make_unique<PostgresStorage>(url);
}

bool AddressHoldsPassword(const std::string& url) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(url.c_str(), &error);
    if (error) PQfreemem(error);
    if (!options) return false;
    bool found = false;
    for (const PQconninfoOption* o = options; o->keyword; ++o) {
        if (std::string(o->keyword) == "password" && o->val && *o->val) found = true;
    }
    PQconninfoFree(options);
    return found;
}

}  // namespace board

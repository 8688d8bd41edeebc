// PostgreSQL storage: several board servers share one database and its work.
// A small pool of libpq connections serves the threads; every query is
// parameterised. Workers claim pending runs with FOR UPDATE SKIP LOCKED and a
// lease timed by the database's clock, so two servers never verify one run at
// once and a killed server's runs are taken over once its leases run out. A
// connection the database dropped is replaced; a database that is gone
// surfaces as StorageError.
#include <libpq-fe.h>
#include <poll.h>

#include <charconv>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

#include "board/limits.h"
#include "board/storage_core.h"

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

// A statement's parameters as libpq takes them (pointing into the values).
struct Bound {
    explicit Bound(const SqlValues& params) : count(static_cast<int>(params.size())) {
        numbers.reserve(params.size());  // never moves: values point into it
        for (const SqlValue& p : params) {
            const bool binary = p.kind == SqlValue::Kind::Bytes;
            if (p.kind == SqlValue::Kind::Text && p.text.find('\0') != std::string::npos) {
                throw StorageError("PostgreSQL: a text value holds a NUL byte");
            }
            const std::string* text = &p.text;
            if (p.kind == SqlValue::Kind::Int)
                text = &numbers.emplace_back(std::to_string(p.number));
            values.push_back(p.kind == SqlValue::Kind::Null ? nullptr : text->c_str());
            lengths.push_back(static_cast<int>(text->size()));
            formats.push_back(binary ? 1 : 0);
        }
    }

    int count;
    std::vector<std::string> numbers;  // the integers' texts
    std::vector<const char*> values;
    std::vector<int> lengths;
    std::vector<int> formats;
};

// Owns a query's result; reads rows from 0 and columns from 0.
class Rows {
  public:
    explicit Rows(PGresult* res) : res_(res, &PQclear) {}

    int Count() const { return PQntuples(res_.get()); }
    const PGresult* Result() const { return res_.get(); }
    // Returns the number of rows the command changed.
    int64_t Changed() const {
        const char* count = PQcmdTuples(res_.get());
        return count && *count ? ParseInt(count, "row count") : 0;
    }
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
    Rows Exec(const char* sql, const SqlValues& params = {}, bool binaryResult = false) {
        ++statements_;
        const Bound b(params);
        const std::string* name = b.count > 0 ? Prepared(sql, b.count) : nullptr;
        PGresult* res =
            name ? PQexecPrepared(conn_, name->c_str(), b.count, b.values.data(), b.lengths.data(),
                                  b.formats.data(), binaryResult ? 1 : 0)
                 : PQexecParams(conn_, sql, b.count, nullptr, b.values.data(), b.lengths.data(),
                                b.formats.data(), binaryResult ? 1 : 0);
        return Checked(res);
    }

    // Runs one query and hands its rows to each as they arrive, one at a time,
    // so that a large result is never held whole (the ranking's first load).
    // Throws like Exec; rows already handed over stay handed over.
    void ExecEach(const char* sql, const SqlValues& params,
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
    // Returns the name of sql prepared on this connection (now, on its first use).
    const std::string& Prepare(const char* sql, int count) {
        const std::string* name = Prepared(sql, count);
        if (!name) throw StorageError("PostgreSQL: too many statements prepared");
        return *name;
    }
    PGconn* Raw() const { return conn_; }
    // Starts counting statements anew for a new borrower.
    void Lend() { statements_ = 0; }

  private:
    // Distinct statements one connection prepares: the storage's are a few dozen.
    static constexpr size_t kMaxPrepared = 64;

    // Returns a result that succeeded; throws like Exec.
    Rows Checked(PGresult* res) {
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

    // Returns the name of sql prepared on this connection (prepared now on
    // its first use), or nullptr once kMaxPrepared are: a statement parsed
    // and planned once answers in about half the time of one sent whole.
    const std::string* Prepared(const char* sql, int count) {
        if (const auto found = prepared_.find(sql); found != prepared_.end()) {
            return &found->second;
        }
        if (prepared_.size() >= kMaxPrepared) return nullptr;
        std::string name = "zq" + std::to_string(prepared_.size() + 1);
        Checked(PQprepare(conn_, name.c_str(), sql, count, nullptr));
        return &prepared_.emplace(sql, std::move(name)).first->second;
    }

    PGconn* conn_ = nullptr;
    int statements_ = 0;
    std::unordered_map<std::string, std::string> prepared_;  // statement text to name
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

// Claims the oldest pending run nobody holds, or whose claim expired: holder,
// lease. SKIP LOCKED passes over a run another server is claiming this very
// moment instead of waiting for it.
constexpr const char* kClaim =
    "UPDATE runs SET claimed_by = ?, claim_expires = " ZQ_DATABASE_NOW
    " + ?, "
    "attempts = attempts + 1 WHERE id = (SELECT id FROM runs WHERE state = 'pending' AND "
    "(claimed_by IS NULL OR claim_expires < " ZQ_DATABASE_NOW
    ") ORDER BY id LIMIT 1 FOR UPDATE SKIP LOCKED) RETURNING id, attempts";
// Extends a claim: lease, run id, holder.
constexpr const char* kRenew = "UPDATE runs SET claim_expires = " ZQ_DATABASE_NOW
                               " + ? WHERE id = ? AND "
                               "state = 'pending' AND claimed_by = ?";
// Takes an advisory lock until the transaction ends: its key.
constexpr const char* kAdvisoryLock = "SELECT pg_advisory_xact_lock(?)";
// Takes the ranking's lock until the transaction ends.
constexpr const char* kLockRanking = "SELECT version FROM ranking_version FOR UPDATE";

// One row of a result.
class PgRow final : public Row {
  public:
    PgRow(const Rows& rows, int row) : rows_(rows), row_(row) {}
    bool IsNull(int col) const override { return rows_.IsNull(row_, col); }
    int64_t Int(int col) const override { return rows_.Int(row_, col); }
    std::string Text(int col) const override { return rows_.Text(row_, col); }

  private:
    const Rows& rows_;
    int row_;
};

// Statements on one borrowed connection, numbered in PostgreSQL's style.
class PgSession final : public Session {
  public:
    explicit PgSession(Connection& c) : c_(c) {}

    int64_t Run(std::string_view sql, const SqlValues& values, const EachRow& each,
                bool rawBytes) override {
        const Rows rows =
            c_.Exec(StatementFor(sql, SqlDialect::Postgres).c_str(), values, rawBytes);
        for (int i = 0; each && i < rows.Count(); ++i) each(PgRow(rows, i));
        return rows.Changed();
    }

    void Stream(std::string_view sql, const SqlValues& values, const EachRow& each) override {
        c_.ExecEach(StatementFor(sql, SqlDialect::Postgres).c_str(), values,
                    [&each](const Rows& rows) { each(PgRow(rows, 0)); });
    }

  private:
    Connection& c_;
};

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

// Reads on a connection of one event loop's own, without blocking it (libpq's
// asynchronous calls): one statement out at a time, and every read that
// arrives meanwhile waits for the next, which takes as many of them as a
// statement holds. A lost connection fails every read it holds and breaks the channel.
class PgReadChannel final : public ReadChannel {
  public:
    PgReadChannel(const std::string& url, const BatchReads& batches)
        : conn_(url),
          batches_(batches),
          runsSql_(StatementFor(batches.RunsStatement(), SqlDialect::Postgres)),
          playersSql_(StatementFor(batches.PlayersStatement(), SqlDialect::Postgres)) {
        runsName_ = conn_.Prepare(runsSql_.c_str(), static_cast<int>(batches.Keys()));
        playersName_ = conn_.Prepare(playersSql_.c_str(), static_cast<int>(batches.Keys()) + 2);
        if (PQsetnonblocking(conn_.Raw(), 1) != 0) {
            throw StorageError(Describe(PQerrorMessage(conn_.Raw())));
        }
    }

    void FindRun(int64_t id, RunDone done) override {
        if (broken_) return done(false, std::nullopt);
        Read read;
        read.id = id;
        read.runDone = std::move(done);
        queue_.push_back(std::move(read));
    }

    void PlayerRuns(const std::string& nameKey, int limit, int64_t offset, PageDone done) override {
        if (broken_) return done(false, {});
        Read read;
        read.player = true;
        read.nameKey = nameKey;
        read.limit = limit;
        read.offset = offset;
        read.pageDone = std::move(done);
        queue_.push_back(std::move(read));
    }

    Wait Pump() override {
        // An answer handed out may queue another read: the loop below sends it.
        if (pumping_ || broken_) return broken_ ? Wait::Nothing : wait_;
        pumping_ = true;
        const bool lost = !Work();
        pumping_ = false;
        if (lost || PQstatus(conn_.Raw()) != CONNECTION_OK) Break();
        return broken_ ? Wait::Nothing : wait_;
    }

    int Socket() const override { return PQsocket(conn_.Raw()); }
    bool Broken() const override { return broken_; }

  private:
    struct Read {
        bool player = false;
        int64_t id = 0;
        std::string nameKey;
        int limit = 0;
        int64_t offset = 0;
        RunDone runDone;
        PageDone pageDone;
    };

    // Takes what has arrived and sends what is queued until the statement out
    // waits for bytes not yet here: an event loop told of new bytes only when
    // more arrive (edge-triggered, as Boost.Asio's is) must not wait while
    // some are still unread in the socket. False when the connection failed.
    bool Work() {
        PGconn* conn = conn_.Raw();
        // Each round reads bytes; a statement's answer takes a few. Past
        // this many the loop lets the thread serve others and is called again.
        constexpr int kRounds = 64;
        for (int round = 0; round < kRounds; ++round) {
            if (!out_.empty()) {
                if (!PQconsumeInput(conn)) return false;
                while (!PQisBusy(conn)) {
                    PGresult* res = PQgetResult(conn);
                    if (!res) {
                        Answer();
                        break;
                    }
                    Take(Rows(res));
                }
            }
            if (out_.empty() && !queue_.empty() && !Send()) return false;
            wait_ = Wait::Nothing;
            if (out_.empty()) return true;
            const int flushed = PQflush(conn);
            if (flushed < 0) return false;
            wait_ = flushed == 1 ? Wait::Write : Wait::Read;
            if (flushed == 1 || !Readable()) return true;
        }
        wait_ = Wait::Again;
        return true;
    }

    // Returns true when the socket holds bytes not yet read (or an end).
    bool Readable() const {
        pollfd p{PQsocket(conn_.Raw()), POLLIN, 0};
        return ::poll(&p, 1, 0) > 0;
    }

    // Sends the oldest read with the ones like it queued after it: runs with
    // runs, pages with pages asked the same way. False when the connection failed.
    bool Send() {
        const Read& first = queue_.front();
        const bool player = first.player;
        const int limit = first.limit;
        const int64_t offset = first.offset;
        for (auto it = queue_.begin(); it != queue_.end() && out_.size() < batches_.Keys();) {
            if (it->player != player || (player && (it->limit != limit || it->offset != offset))) {
                ++it;
                continue;
            }
            out_.push_back(std::move(*it));
            it = queue_.erase(it);
        }
        failed_ = false;
        runs_.assign(out_.size(), std::nullopt);
        pages_.assign(out_.size(), {});
        ids_.clear();
        keys_.clear();
        SqlValues values;
        if (player) {
            for (const Read& r : out_) keys_.push_back(r.nameKey);
            values = batches_.PlayersValues(keys_, limit, offset);
        } else {
            for (const Read& r : out_) ids_.push_back(r.id);
            values = batches_.RunsValues(ids_);
        }
        const Bound b(values);
        const std::string& name = player ? playersName_ : runsName_;
        return PQsendQueryPrepared(conn_.Raw(), name.c_str(), b.count, b.values.data(),
                                   b.lengths.data(), b.formats.data(), 0) == 1;
    }

    // Takes one result of the statement out.
    void Take(const Rows& rows) {
        if (PQresultStatus(rows.Result()) != PGRES_TUPLES_OK) {
            failed_ = true;
            return;
        }
        try {
            for (int i = 0; i < rows.Count(); ++i) {
                const PgRow row(rows, i);
                if (out_.front().player) {
                    BatchReads::TakePlayerRun(row, keys_, pages_);
                } else {
                    BatchReads::TakeRun(row, ids_, runs_);
                }
            }
        } catch (const StorageError&) {
            failed_ = true;
        }
    }

    // Answers the reads of the statement that ended.
    void Answer() {
        std::vector<Read> done;
        done.swap(out_);
        for (size_t i = 0; i < done.size(); ++i) {
            if (done[i].player) {
                done[i].pageDone(!failed_, failed_ ? std::vector<Run>{} : std::move(pages_[i]));
            } else {
                done[i].runDone(!failed_, failed_ ? std::nullopt : std::move(runs_[i]));
            }
        }
    }

    // Fails every read held: the connection is gone.
    void Break() {
        broken_ = true;
        failed_ = true;
        for (Read& r : queue_) out_.push_back(std::move(r));
        queue_.clear();
        Answer();
    }

    Connection conn_;
    const BatchReads batches_;
    const std::string runsSql_;
    const std::string playersSql_;
    std::string runsName_;
    std::string playersName_;
    std::deque<Read> queue_;
    std::vector<Read> out_;                 // the statement out
    std::vector<int64_t> ids_;              // its runs' ids
    std::vector<std::string> keys_;         // or its pages' name keys
    std::vector<std::optional<Run>> runs_;  // and their answers so far
    std::vector<std::vector<Run>> pages_;
    bool failed_ = false;
    bool broken_ = false;
    bool pumping_ = false;
    Wait wait_ = Wait::Nothing;
};

class PostgresStorage final : public SqlStorage {
  public:
    explicit PostgresStorage(const std::string& url) : url_(url), pool_(url) {
        Migrate();
        CoalesceReads(kCoalescedReads, kCoalescingStatements);
    }

    std::unique_ptr<ReadChannel> OpenReadChannel() override {
        try {
            return std::make_unique<PgReadChannel>(url_, *Batches());
        } catch (const ConnectionLost& e) {
            throw StorageError(e.what());
        }
    }

    std::optional<ClaimedRun> ClaimPending(const std::string& holder, int64_t /*now*/,
                                           int64_t leaseMs) override {
        std::optional<ClaimedRun> claimed;
        Transact([&](Session& s) {
            claimed = Claim(s, kClaim, {holder, leaseMs});
            return claimed.has_value();
        });
        return claimed;
    }

    bool Renew(int64_t id, const std::string& holder, int64_t /*now*/, int64_t leaseMs) override {
        bool held = false;
        Use([&](Session& s) { held = s.Run(kRenew, {leaseMs, id, holder}) == 1; });
        return held;
    }

  protected:
    void Use(const std::function<void(Session&)>& work) override {
        WithConnection([&work](Connection& c) {
            PgSession s(c);
            work(s);
        });
    }

    void Transact(const std::function<bool(Session&)>& work) override {
        WithConnection([&work](Connection& c) {
            Transaction tx(c);
            PgSession s(c);
            if (work(s)) tx.Commit();
        });
    }

    // Takes the ranking's lock until the transaction ends: changes to the
    // ranking (here and on other servers) then happen one after the other,
    // each reading the runs the one before committed, and take their
    // versions in the order they commit.
    void LockRanking(Session& s) override { s.Run(kLockRanking, {}); }

    void LockCopies(Session& s, int64_t key) override { s.Run(kAdvisoryLock, {key}); }

  private:
    // Runs work on a pooled connection. A connection that had died while idle
    // fails on its first statement, which then never ran: the work is retried
    // once on a new connection. Any other lost connection is reported.
    void WithConnection(const std::function<void(Connection&)>& work) {
        for (int attempt = 0;; ++attempt) {
            auto [conn, reused] = pool_.Borrow();
            try {
                work(*conn);
                pool_.Return(std::move(conn));
                return;
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

    // Applies every migration newer than the database's version in one
    // transaction, under an advisory lock so that servers starting together
    // migrate one after the other (the later ones find the work done).
    void Migrate() {
        Transact([](Session& s) {
            s.Run(kAdvisoryLock, {kMigrationLockKey});
            const int64_t version = SchemaVersion(s);
            for (const Migration& m : Migrations()) {
                if (m.version > version) ApplyMigration(s, m, SqlDialect::Postgres);
            }
            return true;
        });
    }

    const std::string url_;
    Pool pool_;
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

// The storage both backends share: every statement, the row reader and the
// steps of submitting, verifying, ranking and moderating, run through a
// Session that a backend supplies. A backend keeps only what differs: its
// connections and transactions, how a value is bound and a column read, how
// a worker claims a run and which locks order servers sharing one database.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "board/coalesce.h"
#include "board/schema.h"
#include "board/storage.h"

namespace board {

// One value bound to a statement: NULL, an integer, text, or bytes kept as they are.
struct SqlValue {
    enum class Kind { Null, Int, Text, Bytes };

    SqlValue(std::nullopt_t) {}
    SqlValue(int v) : kind(Kind::Int), number(v) {}
    SqlValue(int64_t v) : kind(Kind::Int), number(v) {}
    SqlValue(std::optional<int64_t> v) : kind(v ? Kind::Int : Kind::Null), number(v.value_or(0)) {}
    SqlValue(std::string v) : kind(Kind::Text), text(std::move(v)) {}
    SqlValue(const char* v) : kind(Kind::Text), text(v) {}
    // Returns a value that carries bytes as they are (a BLOB or bytea).
    static SqlValue Bytes(std::string v);

    Kind kind = Kind::Null;
    int64_t number = 0;
    std::string text;  // text or bytes
};
using SqlValues = std::vector<SqlValue>;

// One row of a statement's result; columns count from 0.
class Row {
  public:
    virtual bool IsNull(int col) const = 0;
    virtual int64_t Int(int col) const = 0;
    // Returns a text or bytes column ("" for NULL).
    virtual std::string Text(int col) const = 0;
    // Returns an integer column, or nullopt for NULL.
    std::optional<int64_t> MaybeInt(int col) const;

  protected:
    ~Row() = default;
};
using EachRow = std::function<void(const Row&)>;

// One connection's statements, inside or outside a transaction.
class Session {
  public:
    // Runs one statement written with "?" placeholders and hands each row it
    // returns to each (bytes columns raw when rawBytes is set); returns the
    // rows it changed when it is an INSERT, UPDATE or DELETE.
    virtual int64_t Run(std::string_view sql, const SqlValues& values,
                        const EachRow& each = nullptr, bool rawBytes = false) = 0;
    // Runs a query whose rows may be many, holding only one at a time.
    virtual void Stream(std::string_view sql, const SqlValues& values, const EachRow& each) {
        Run(sql, values, each);
    }

  protected:
    ~Session() = default;
};

// Returns the state a stored text names.
RunState StateFromText(const std::string& text);
// Returns the run a row holds in the columns of ZQ_RUN_COLUMNS.
Run ReadRun(const Row& row);

// Reads of several runs, or of several players' pages asked the same way, in
// one statement each: a database a round trip away (PostgreSQL) spends far
// more on each statement than on each row. The lists always hold Keys() keys,
// filled up with the first key again, so that each kind is always the same
// statement, prepared once.
class BatchReads {
  public:
    explicit BatchReads(size_t keys);
    size_t Keys() const { return keys_; }

    // The runs of ids (one to Keys() of them).
    const std::string& RunsStatement() const { return runs_; }
    SqlValues RunsValues(const std::vector<int64_t>& ids) const;
    // Puts a row of the runs' statement where it belongs in out (one entry per id).
    static void TakeRun(const Row& row, const std::vector<int64_t>& ids,
                        std::vector<std::optional<Run>>& out);

    // The pages of the names of nameKeys (one to Keys() of them), each of at
    // most limit runs from place offset on.
    const std::string& PlayersStatement() const { return players_; }
    SqlValues PlayersValues(const std::vector<std::string>& nameKeys, int limit,
                            int64_t offset) const;
    // Puts a row of the players' statement on its pages in out (one entry per name key).
    static void TakePlayerRun(const Row& row, const std::vector<std::string>& nameKeys,
                              std::vector<std::vector<Run>>& out);

  private:
    size_t keys_;
    std::string runs_;
    std::string players_;
};

// Storage over SQL; a backend supplies sessions, claims and locks.
class SqlStorage : public Storage {
  public:
    std::string ServerKey() override;
    SubmitResult Submit(const NewRun& run) override;
    std::optional<Run> FindRun(int64_t id) override;
    std::optional<std::string> ReplayBytes(int64_t id) override;
    RankingChanges RankingSince(int64_t since) override;
    std::vector<Run> PlayerRuns(const std::string& nameKey, int limit, int64_t offset) override;
    std::optional<EarlierCopy> FindEarlierCopy(
        int64_t id, const std::vector<OtherRulesChecks>& games,
        const std::optional<ScoringOpening>& opening = std::nullopt) override;
    std::optional<ClaimedRun> UnscoredRun(int64_t after) override;
    void KeepScoring(int64_t id, int64_t scoredFrom) override;
    bool Finish(int64_t id, const std::string& holder, const Verdict& verdict,
                int64_t now) override;
    void Release(int64_t id, const std::string& holder) override;
    bool Hide(int64_t id, const std::string& reason, int64_t now) override;
    bool Show(int64_t id, int64_t now) override;
    std::vector<Run> HiddenRuns() override;
    bool FreeName(const std::string& nameKey, int64_t now) override;
    int64_t CountPending() override;
    bool Healthy() override;

  protected:
    // Runs work on one session outside any transaction.
    virtual void Use(const std::function<void(Session&)>& work) = 0;
    // Runs work that only reads, outside any transaction; it sees what was
    // committed before it began (the default runs it as Use does).
    virtual void Read(const std::function<void(Session&)>& work) { Use(work); }
    // Runs work as one transaction: committed when work returns true, rolled
    // back when it returns false or throws.
    virtual void Transact(const std::function<bool(Session&)>& work) = 0;
    // Orders the transactions that change the ranking until this one ends
    // (SQLite's write transactions are ordered already).
    virtual void LockRanking(Session&) {}
    // Takes, until the transaction ends, the lock that submissions which
    // could copy one another share (see CopyLockKey).
    virtual void LockCopies(Session&, int64_t /*key*/) {}

    // Returns the schema's version, making its table when missing; throws when
    // the database is newer than this server.
    static int64_t SchemaVersion(Session& s);
    // Applies one migration and records its version. Inside a transaction.
    static void ApplyMigration(Session& s, const Migration& migration, SqlDialect dialect);
    // Runs a backend's claim statement (its row: id and attempts) and reads
    // the claimed run's replay. Inside a transaction.
    static std::optional<ClaimedRun> Claim(Session& s, std::string_view sql,
                                           const SqlValues& values);

    // Answers reads of runs and of players' pages that arrive together with
    // one statement each, at most maxStatements of each kind at once (for a
    // database a round trip away).
    void CoalesceReads(size_t maxKeys, size_t maxStatements);
    // Returns the statements of coalesced reads (null before CoalesceReads).
    const BatchReads* Batches() const { return batches_ ? &*batches_ : nullptr; }

  private:
    // One page of one player's runs.
    struct PlayerPage {
        std::string nameKey;
        int limit = 0;
        int64_t offset = 0;
    };
    // Reads the runs of ids (at most the batches' keys), in their order.
    std::vector<std::optional<Run>> RunsByIds(const std::vector<int64_t>& ids);
    // Reads players' pages (at most the batches' keys), in their order.
    std::vector<std::optional<std::vector<Run>>> PlayersPages(const std::vector<PlayerPage>& pages);
    // Reads one player's page.
    std::vector<Run> ReadPlayerRuns(Session& s, const std::string& nameKey, int limit,
                                    int64_t offset);

    std::optional<BatchReads> batches_;
    std::unique_ptr<Coalescer<int64_t, Run>> runReads_;
    std::unique_ptr<Coalescer<PlayerPage, std::vector<Run>>> playerReads_;
    std::mutex keyMutex_;
    std::string serverKey_;  // "" until read
};

}  // namespace board

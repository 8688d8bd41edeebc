// The schema history of the board's database.
#include "board/schema.h"

#include "board/ranking_sql.h"

namespace board {

namespace {

// Version 1: keys, replays by content hash, name owners and runs.
// Times are milliseconds since the epoch; claim_expires and claimed_by form
// the lease of the worker verifying a pending run.
const char* const kVersion1 = R"sql(
CREATE TABLE server_keys (
  name TEXT PRIMARY KEY,
  value TEXT NOT NULL
);
CREATE TABLE replays (
  hash TEXT PRIMARY KEY,
  bytes @BYTES@ NOT NULL
);
CREATE TABLE names (
  name_key TEXT PRIMARY KEY,
  token_hash TEXT NOT NULL
);
CREATE TABLE runs (
  id @ID@,
  replay_hash TEXT NOT NULL UNIQUE REFERENCES replays (hash),
  name TEXT NOT NULL,
  name_key TEXT NOT NULL REFERENCES names (name_key),
  difficulty INTEGER NOT NULL,
  claimed_score BIGINT NOT NULL,
  score BIGINT,
  frames BIGINT NOT NULL,
  run_timestamp BIGINT NOT NULL,
  state TEXT NOT NULL,
  reason TEXT,
  first_bad_step BIGINT,
  received_at BIGINT NOT NULL,
  verified_at BIGINT,
  claimed_by TEXT,
  claim_expires BIGINT,
  attempts INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX runs_by_state ON runs (state, id);
CREATE INDEX runs_by_board ON runs (difficulty, state, score DESC, verified_at, id);
CREATE INDEX runs_by_name ON runs (name_key, state)
)sql";

// Version 2: the check values of every run, and an index of hashes of their
// first 1, 2, 4, 8... values by difficulty, to find the run a new one copies.
const char* const kVersion2 = R"sql(
CREATE TABLE run_checks (
  run_id BIGINT PRIMARY KEY REFERENCES runs (id),
  checks @BYTES@ NOT NULL
);
CREATE TABLE run_prints (
  difficulty INTEGER NOT NULL,
  level INTEGER NOT NULL,
  print BIGINT NOT NULL,
  run_id BIGINT NOT NULL REFERENCES runs (id),
  PRIMARY KEY (difficulty, level, print, run_id)
)
)sql";

// Version 3: the stored ranking (each name's best shown verified run per
// difficulty, see board/ranking_sql.h) with its version counter, runs an
// operator hid (hidden_at in milliseconds since the epoch), and the log of
// operators' actions. Boards are read from bests, so runs no longer need
// their own board index. A name whose token_hash is '' is free: the next
// token that sends a run under it takes it.
const char* const kVersion3 = R"sql(
ALTER TABLE runs ADD COLUMN hidden_reason TEXT;
ALTER TABLE runs ADD COLUMN hidden_at BIGINT;
DROP INDEX runs_by_board;
CREATE TABLE ranking_version (
  id INTEGER PRIMARY KEY,
  version BIGINT NOT NULL
);
INSERT INTO ranking_version (id, version) VALUES (1, 1);
CREATE TABLE bests (
  difficulty INTEGER NOT NULL,
  name_key TEXT NOT NULL,
  run_id BIGINT REFERENCES runs (id),
  score BIGINT,
  verified_at BIGINT,
  changed_in BIGINT NOT NULL,
  PRIMARY KEY (difficulty, name_key)
);
CREATE INDEX bests_by_rank ON bests (difficulty, score DESC, verified_at, run_id);
CREATE INDEX bests_by_change ON bests (changed_in);
CREATE TABLE actions (
  id @ID@,
  at BIGINT NOT NULL,
  action TEXT NOT NULL,
  run_id BIGINT,
  name_key TEXT,
  reason TEXT
);
)sql" ZQ_SQL_FILL_BESTS;

// Version 4: where each run first scored, for the rule that no run gains
// rank from another player's scoring play (see copies.h): scoring_len is the
// number of first check values up to the first taken with points (0 when the
// run never scored at one or its verdict did not tell; NULL for the runs
// finished before this version, until an idle worker re-simulates them), scoring_print
// their hash (see PrefixPrints), indexed to find a run's scoring opening.
const char* const kVersion4 = R"sql(
ALTER TABLE run_checks ADD COLUMN scoring_len BIGINT;
ALTER TABLE run_checks ADD COLUMN scoring_print BIGINT;
CREATE INDEX run_checks_by_scoring ON run_checks (scoring_print);
CREATE INDEX run_checks_unscored ON run_checks (run_id) WHERE scoring_len IS NULL
)sql";

// Version 5: reads at a million runs. A player's page reads one index in
// its order (partial: only what the page shows, and covering: every column
// the query names, its condition's too, or SQLite reads the table as well),
// not a row from each of the table's pages; the operator's list
// of hidden runs reads an index of the few hidden ones.
const char* const kVersion5 = R"sql(
CREATE INDEX runs_by_player ON runs (name_key, score DESC, verified_at, id, name, difficulty,
  claimed_score, frames, run_timestamp, state, hidden_at)
  WHERE state = 'verified' AND hidden_at IS NULL;
CREATE INDEX runs_by_hiding ON runs (hidden_at) WHERE hidden_at IS NOT NULL
)sql";

const std::vector<Migration> kMigrations = {
    {1, kVersion1},
    {2, kVersion2},
    {3, kVersion3},
    {4, kVersion4},
    {5, kVersion5},
};

// Replaces every occurrence of a placeholder.
void ReplaceAll(std::string& text, const std::string& what, const std::string& with) {
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at)) {
        text.replace(at, what.size(), with);
        at += with.size();
    }
}

}  // namespace

const std::vector<Migration>& Migrations() {
    return kMigrations;
}

std::vector<std::string> MigrationStatements(const Migration& migration, SqlDialect dialect) {
    std::string sql = migration.sql;
    const bool lite = dialect == SqlDialect::Sqlite;
    ReplaceAll(
        sql, "@ID@",
        lite ? "INTEGER PRIMARY KEY" : "BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY");
    ReplaceAll(sql, "@BYTES@", lite ? "BLOB" : "BYTEA");
    std::vector<std::string> out;
    size_t start = 0;
    while (start < sql.size()) {
        size_t end = sql.find(';', start);
        if (end == std::string::npos) end = sql.size();
        const std::string stmt = sql.substr(start, end - start);
        if (stmt.find_first_not_of(" \n\t") != std::string::npos) out.push_back(stmt);
        start = end + 1;
    }
    return out;
}

std::string StatementFor(std::string_view sql, SqlDialect dialect) {
    if (dialect == SqlDialect::Sqlite) return std::string(sql);
    std::string numbered;
    int n = 0;
    for (char c : sql) {
        if (c == '?') {
            numbered += '$' + std::to_string(++n);
        } else {
            numbered += c;
        }
    }
    return numbered;
}

}  // namespace board

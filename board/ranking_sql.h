// The statements of the stored ranking and of moderation, written once for
// both backends with "?" placeholders; PostgreSQL takes them through
// StatementFor (board/schema.h), which writes "$1", "$2"… instead. The
// ranking is the table bests: each name's best shown verified run per
// difficulty. Every change to it
// takes the next number of ranking_version and stamps the changed row with
// it (a row whose name has no such run left keeps a NULL run), so a server
// reads only the rows changed since the version it holds.
#pragma once

#include <string>

#include "board/storage_sql.h"

namespace board::sql {

// Fills bests from the runs (schema migration and the benchmark's seed).
#define ZQ_SQL_FILL_BESTS                                                                    \
    "INSERT INTO bests (difficulty, name_key, run_id, score, verified_at, changed_in) "     \
    "SELECT difficulty, name_key, id, score, verified_at, 1 FROM (SELECT difficulty, "      \
    "name_key, id, score, verified_at, ROW_NUMBER() OVER (PARTITION BY difficulty, "        \
    "name_key ORDER BY score DESC, verified_at, id) AS place FROM runs "                    \
    "WHERE state = 'verified' AND hidden_at IS NULL) AS t WHERE place = 1"

// A name's best shown verified run on a board: id, score, verified_at.
inline constexpr const char* kBestOf =
    "SELECT id, score, verified_at FROM runs WHERE difficulty = ? AND name_key = ? AND "
    "state = 'verified' AND hidden_at IS NULL ORDER BY score DESC, verified_at, id LIMIT 1";
// The run the ranking holds for a name on a board (no row: never had one).
inline constexpr const char* kCurrentBest =
    "SELECT run_id FROM bests WHERE difficulty = ? AND name_key = ?";
// Stores a name's best on a board (run, score, verified_at NULL: none left) with its version.
inline constexpr const char* kPutBest =
    "INSERT INTO bests (difficulty, name_key, run_id, score, verified_at, changed_in) "
    "VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT (difficulty, name_key) DO UPDATE SET "
    "run_id = excluded.run_id, score = excluded.score, verified_at = excluded.verified_at, "
    "changed_in = excluded.changed_in";
// Takes the next ranking version (read it back with kRankingVersion).
inline constexpr const char* kBumpRanking = "UPDATE ranking_version SET version = version + 1";
inline constexpr const char* kRankingVersion = "SELECT version FROM ranking_version";
// The ranking's rows changed after a version, with what a board shows of their runs.
#define ZQ_RANKING_ROWS                                                                     \
    "SELECT b.difficulty, b.name_key, b.changed_in, r.id, r.score, r.verified_at, r.name, " \
    "r.frames, r.run_timestamp FROM bests b LEFT JOIN runs r ON r.id = b.run_id "
inline constexpr const char* kRankingSince = ZQ_RANKING_ROWS "WHERE b.changed_in > ?";
// The whole ranking (the first load) in board order, as its index keeps it.
inline constexpr const char* kRankingAll =
    ZQ_RANKING_ROWS "ORDER BY b.difficulty, b.score DESC, b.verified_at, b.run_id";
// The board and name of a run, and its state.
inline constexpr const char* kRunPlace = "SELECT difficulty, name_key, state FROM runs WHERE id = ?";
// Hides a run (reason, time, id), or shows it again (id).
inline constexpr const char* kHideRun =
    "UPDATE runs SET hidden_reason = ?, hidden_at = ? WHERE id = ?";
inline constexpr const char* kShowRun =
    "UPDATE runs SET hidden_reason = NULL, hidden_at = NULL WHERE id = ?";
// Every hidden run, the latest hidden first (the operator's list).
inline constexpr const char* kHiddenRuns =
    "SELECT " ZQ_RUN_COLUMNS " FROM runs WHERE hidden_at IS NOT NULL ORDER BY hidden_at DESC, id";
// Frees a bound name: an empty token hash marks a name the next sender takes.
inline constexpr const char* kFreeName =
    "UPDATE names SET token_hash = '' WHERE name_key = ? AND token_hash <> ''";
// Binds a name to a token when it is new or free (name key, token hash).
inline constexpr const char* kBindName =
    "INSERT INTO names (name_key, token_hash) VALUES (?, ?) ON CONFLICT (name_key) "
    "DO UPDATE SET token_hash = excluded.token_hash WHERE names.token_hash = ''";
// Records an operator's action: time, action, run, name key, reason.
inline constexpr const char* kRecordAction =
    "INSERT INTO actions (at, action, run_id, name_key, reason) VALUES (?, ?, ?, ?, ?)";

}  // namespace board::sql

// The statements of runs, replays, names, the server key and the schema's
// version, written once for both backends with "?" placeholders (PostgreSQL
// takes them through StatementFor, board/schema.h). The ranking's and
// moderation's statements are in board/ranking_sql.h, the copy index's in
// board/copies.h.
#pragma once

namespace board::sql {

// The columns every run query selects, in the order ReadRun reads them.
#define ZQ_RUN_COLUMNS                                                                   \
    "id, name, difficulty, claimed_score, score, frames, run_timestamp, state, reason, " \
    "first_bad_step, verified_at, replay_hash, hidden_reason, hidden_at"

// Offers the server key (value); the first one stored wins.
inline constexpr const char* kOfferServerKey =
    "INSERT INTO server_keys (name, value) VALUES ('token', ?) ON CONFLICT DO NOTHING";
inline constexpr const char* kServerKey = "SELECT value FROM server_keys WHERE name = 'token'";
// The token hash a name is bound to: name key.
inline constexpr const char* kNameOwner = "SELECT token_hash FROM names WHERE name_key = ?";
// A run by its id, or by its replay's hash.
inline constexpr const char* kRunById = "SELECT " ZQ_RUN_COLUMNS " FROM runs WHERE id = ?";
inline constexpr const char* kRunByReplay =
    "SELECT " ZQ_RUN_COLUMNS " FROM runs WHERE replay_hash = ?";
// Keeps a replay's bytes once: hash, bytes.
inline constexpr const char* kKeepReplay =
    "INSERT INTO replays (hash, bytes) VALUES (?, ?) ON CONFLICT DO NOTHING";
// Adds a pending run unless its replay has one (then no row comes back): replay hash,
// name, name key, difficulty, claimed score, frames, date-time, received at.
inline constexpr const char* kAddRun =
    "INSERT INTO runs (replay_hash, name, name_key, difficulty, claimed_score, frames, "
    "run_timestamp, state, received_at) VALUES (?, ?, ?, ?, ?, ?, ?, 'pending', ?) "
    "ON CONFLICT (replay_hash) DO NOTHING RETURNING " ZQ_RUN_COLUMNS;
// The replay bytes of a run: run id.
inline constexpr const char* kReplayBytes =
    "SELECT p.bytes FROM runs r JOIN replays p ON p.hash = r.replay_hash WHERE r.id = ?";
// A name's shown verified runs, best first, with what a player's page shows
// of them (id, name, difficulty, claimed score, score, frames, date-time,
// verified at: the columns of the index runs_by_player): name key, limit, offset.
inline constexpr const char* kPlayerRuns =
    "SELECT id, name, difficulty, claimed_score, score, frames, run_timestamp, verified_at "
    "FROM runs WHERE name_key = ? AND state = 'verified' AND hidden_at IS NULL "
    "ORDER BY score DESC, verified_at, id LIMIT ? OFFSET ?";
// Pages of several players' runs, each as kPlayerRuns gives it, with the name
// key last: kPlayersRunsStart, the name keys' placeholders, kPlayersRunsEnd;
// then the first place and the place after the last (counted from 0).
inline constexpr const char* kPlayersRunsStart =
    "SELECT id, name, difficulty, claimed_score, score, frames, run_timestamp, verified_at, "
    "name_key FROM (SELECT id, name, difficulty, claimed_score, score, frames, run_timestamp, "
    "verified_at, name_key, row_number() OVER (PARTITION BY name_key ORDER BY score DESC, "
    "verified_at, id) - 1 AS place FROM runs WHERE state = 'verified' AND hidden_at IS NULL "
    "AND name_key IN (";
inline constexpr const char* kPlayersRunsEnd =
    ")) AS pages WHERE place >= ? AND place < ? ORDER BY name_key, place";
// Stores a verdict while the holder still holds the claim: state, score, reason, first bad
// step, verified at, run id, holder.
inline constexpr const char* kFinishRun =
    "UPDATE runs SET state = ?, score = ?, reason = ?, first_bad_step = ?, verified_at = ?, "
    "claimed_by = NULL, claim_expires = NULL WHERE id = ? AND state = 'pending' AND "
    "claimed_by = ?";
// Gives a claim back without counting its attempt: run id, holder.
inline constexpr const char* kReleaseClaim =
    "UPDATE runs SET claimed_by = NULL, claim_expires = NULL, attempts = attempts - 1 "
    "WHERE id = ? AND state = 'pending' AND claimed_by = ?";
inline constexpr const char* kCountPending = "SELECT COUNT(*) FROM runs WHERE state = 'pending'";
inline constexpr const char* kHealthCheck = "SELECT 1";

// The schema's version: its table, the version reached (0 for none) and a new one.
inline constexpr const char* kCreateSchemaVersion =
    "CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)";
inline constexpr const char* kSchemaVersion =
    "SELECT COALESCE(MAX(version), 0) FROM schema_version";
inline constexpr const char* kRecordSchemaVersion =
    "INSERT INTO schema_version (version) VALUES (?)";

}  // namespace board::sql

// The storage steps both backends share, over their sessions.
#include "board/storage_core.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "board/copies.h"
#include "board/hashes.h"
#include "board/limits.h"
#include "board/ranking_sql.h"
#include "board/storage_sql.h"

namespace board {

namespace {

// Returns a run with the columns every run query starts with: id, name,
// difficulty, claimed score, score, frames, timestamp.
Run ReadRunStart(const Row& row) {
    Run r;
    r.id = row.Int(0);
    r.name = row.Text(1);
    r.difficulty = static_cast<int>(row.Int(2));
    r.claimedScore = row.Int(3);
    r.score = row.MaybeInt(4);
    r.frames = row.Int(5);
    r.timestamp = row.Int(6);
    return r;
}

// Returns a shown run of a player's page: the columns every run query starts
// with, then when it was verified.
Run ReadPlayerRun(const Row& row) {
    Run r = ReadRunStart(row);
    r.state = RunState::Verified;
    r.verifiedAt = row.MaybeInt(7);
    return r;
}

// Returns the first row's integer column col of a query, if it returned a row.
std::optional<int64_t> FirstInt(Session& s, std::string_view sql, const SqlValues& values,
                                int col = 0) {
    std::optional<int64_t> out;
    s.Run(sql, values, [&](const Row& row) {
        if (!out) out = row.Int(col);
    });
    return out;
}

// Returns the first run a query of ZQ_RUN_COLUMNS returns.
std::optional<Run> FirstRun(Session& s, std::string_view sql, const SqlValues& values) {
    std::optional<Run> out;
    s.Run(sql, values, [&](const Row& row) {
        if (!out) out = ReadRun(row);
    });
    return out;
}

// Returns the token hash a name is bound to ("" when free), or nullopt when it is new.
std::optional<std::string> NameOwner(Session& s, const std::string& nameKey) {
    std::optional<std::string> out;
    s.Run(sql::kNameOwner, {nameKey}, [&](const Row& row) { out = row.Text(0); });
    return out;
}

std::optional<std::string> ReadReplayBytes(Session& s, int64_t id) {
    std::optional<std::string> out;
    s.Run(
        sql::kReplayBytes, {id}, [&](const Row& row) { out = row.Text(0); }, true);
    return out;
}

// Returns the id of the oldest run of a difficulty before an id that a probe finds.
std::optional<int64_t> FindCopied(Session& s, int difficulty, const CopyProbe& probe,
                                  int64_t before = std::numeric_limits<int64_t>::max()) {
    const int64_t bytes = probe.agreement * 4;
    return FirstInt(s, kSqlFindCopied,
                    {difficulty, probe.level, probe.print, before, kMaxCopyCandidates, bytes, bytes,
                     SqlValue::Bytes(probe.prefix)});
}

// Returns the token hash owning a run's name ("" for a free name or no run).
std::string OwnerOfRun(Session& s, int64_t id) {
    std::string owner;
    s.Run(kSqlOwnerOfRun, {id}, [&](const Row& row) { owner = row.Text(0); });
    return owner;
}

// Stores a run's check values and prints (none for a run without check values).
void IndexChecks(Session& s, int64_t id, int difficulty, const std::vector<uint32_t>& checks) {
    if (checks.empty()) return;
    s.Run(kSqlInsertChecks, {id, SqlValue::Bytes(PackChecks(checks, checks.size()))});
    const std::vector<int64_t> prints = CheckPrints(checks);
    for (size_t level = 0; level < prints.size(); ++level) {
        s.Run(kSqlInsertPrint, {difficulty, static_cast<int64_t>(level), prints[level], id});
    }
}

// Indexes the check values of runs stored before the index existed, read
// from their replays; part of the migration's transaction.
void IndexOlderRuns(Session& s) {
    int64_t after = 0;
    for (bool more = true; more;) {
        std::vector<std::pair<int64_t, int>> batch;  // id and difficulty
        s.Run(kSqlRunsWithoutChecks, {after, kIndexBatchRuns}, [&](const Row& row) {
            batch.emplace_back(row.Int(0), static_cast<int>(row.Int(1)));
        });
        more = static_cast<int64_t>(batch.size()) == kIndexBatchRuns;
        for (const auto& [id, difficulty] : batch) {
            after = id;
            // Every stored replay was read once at upload; one that no longer
            // reads stays out of the index rather than stopping the server.
            if (const auto checks = ReplayChecks(ReadReplayBytes(s, id).value_or(""))) {
                IndexChecks(s, id, difficulty, *checks);
            }
        }
    }
}

// Returns the earlier run that a new one copies, as Existing when the same
// token sent it and as Copy otherwise; nullopt when it copies none.
std::optional<SubmitResult> FindOriginal(Session& s, const NewRun& run) {
    const auto original = FindCopied(s, run.difficulty, ProbeFor(run.checks));
    if (!original) return std::nullopt;
    const bool mine = SameHash(OwnerOfRun(s, *original), run.tokenHash);
    const auto found = FirstRun(s, sql::kRunById, {*original});
    if (!found) throw StorageError("the database lost a run while reading it");
    return SubmitResult{mine ? SubmitOutcome::Existing : SubmitOutcome::Copy, *found};
}

// Returns the oldest run of the new run's difficulty whose stored scoring
// opening the new run starts with; nullopt for none.
std::optional<int64_t> FindOpeningOriginal(Session& s, const NewRun& run) {
    const std::vector<int64_t> prints = PrefixPrints(run.checks);
    std::optional<int64_t> oldest;
    for (size_t from = 0; from < prints.size(); from += kScoringPrintsPerQuery) {
        const size_t count = std::min(kScoringPrintsPerQuery, prints.size() - from);
        // Always the same statement (a short list repeats its last print), so
        // that each connection prepares it once.
        SqlValues values{run.difficulty};
        for (size_t i = 0; i < kScoringPrintsPerQuery; ++i) {
            values.emplace_back(prints[from + std::min(i, count - 1)]);
        }
        values.emplace_back(kMaxCopyCandidates);
        std::vector<std::pair<int64_t, int64_t>> candidates;  // id and opening length
        static const std::string query = ScoringPrintsQuery(kScoringPrintsPerQuery);
        s.Run(query, values,
              [&](const Row& row) { candidates.emplace_back(row.Int(0), row.Int(1)); });
        for (const auto& [id, length] : candidates) {
            if (oldest && *oldest < id) break;
            // A print is a hash: the values themselves must agree too.
            const size_t n = static_cast<size_t>(length);
            if (n > run.checks.size()) continue;
            std::string stored;
            s.Run(
                kSqlOpeningBytes, {length * 4, id}, [&](const Row& row) { stored = row.Text(0); },
                true);
            if (stored == PackChecks(run.checks, n)) {
                oldest = id;
                break;
            }
        }
    }
    return oldest;
}

// Stores where a finished run first scored (-1: never, or not known: it then
// owns no opening), with statement as kSqlSetScoring.
void StoreScoring(Session& s, const char* statement, int64_t id, int64_t scoredFrom) {
    std::optional<ScoringOpening> opening;
    if (scoredFrom >= 0) {
        std::string packed;
        s.Run(
            kSqlStoredChecks, {id}, [&](const Row& row) { packed = row.Text(0); }, true);
        opening = ScoringOpeningOf(UnpackChecks(packed), scoredFrom);
    }
    s.Run(statement, {opening ? opening->length : 0,
                      opening ? SqlValue(opening->print) : SqlValue(std::nullopt), id});
}

// Recomputes the best of a verified run's name on its board and stores it
// with a new ranking version when it changed. Inside a transaction that
// holds the ranking's lock.
void UpdateBestOf(Session& s, int64_t id) {
    std::optional<std::pair<int64_t, std::string>> place;  // difficulty and name key
    s.Run(sql::kRunPlace, {id}, [&](const Row& row) {
        if (row.Text(2) == "verified") place.emplace(row.Int(0), row.Text(1));
    });
    if (!place) return;
    const auto& [difficulty, nameKey] = *place;
    // Run ids start at 1: 0 stands for none.
    int64_t bestId = 0;
    SqlValue score = std::nullopt;
    SqlValue verifiedAt = std::nullopt;
    s.Run(sql::kBestOf, {difficulty, nameKey}, [&](const Row& row) {
        bestId = row.Int(0);
        score = row.Int(1);
        verifiedAt = row.Int(2);
    });
    int64_t heldId = 0;
    s.Run(sql::kCurrentBest, {difficulty, nameKey},
          [&](const Row& row) { heldId = row.MaybeInt(0).value_or(0); });
    if (bestId == heldId) return;
    const auto version = FirstInt(s, std::string(sql::kBumpRanking) + " RETURNING version", {});
    if (!version) throw StorageError("the ranking's version is missing");
    s.Run(sql::kPutBest, {difficulty, nameKey, bestId ? SqlValue(bestId) : SqlValue(std::nullopt),
                          score, verifiedAt, *version});
}

// Records an operator's action. Inside a transaction.
void RecordAction(Session& s, int64_t now, const char* action, SqlValue run,
                  const std::string& reason, SqlValue nameKey = std::nullopt) {
    s.Run(sql::kRecordAction, {now, action, std::move(run), std::move(nameKey), reason});
}

}  // namespace

SqlValue SqlValue::Bytes(std::string v) {
    SqlValue out(std::move(v));
    out.kind = Kind::Bytes;
    return out;
}

std::optional<int64_t> Row::MaybeInt(int col) const {
    if (IsNull(col)) return std::nullopt;
    return Int(col);
}

RunState StateFromText(const std::string& text) {
    if (text == "verified") return RunState::Verified;
    if (text == "rejected") return RunState::Rejected;
    return RunState::Pending;
}

Run ReadRun(const Row& row) {
    Run r = ReadRunStart(row);
    r.state = StateFromText(row.Text(7));
    r.reason = row.Text(8);
    r.firstBadStep = row.MaybeInt(9);
    r.verifiedAt = row.MaybeInt(10);
    r.replayHash = row.Text(11);
    r.hiddenReason = row.Text(12);
    r.hiddenAt = row.MaybeInt(13);
    return r;
}

std::string SqlStorage::ServerKey() {
    std::lock_guard lock(keyMutex_);
    if (!serverKey_.empty()) return serverKey_;
    std::string key;
    Transact([&](Session& s) {
        // Servers starting together each offer a key; the first one stored wins.
        const std::string offer = RandomHex(32);
        if (offer.empty()) throw StorageError("no random bytes for the server key");
        s.Run(sql::kOfferServerKey, {offer});
        s.Run(sql::kServerKey, {}, [&](const Row& row) { key = row.Text(0); });
        if (key.empty()) throw StorageError("the server key is missing");
        return true;
    });
    serverKey_ = key;
    return serverKey_;
}

SubmitResult SqlStorage::Submit(const NewRun& run) {
    SubmitResult result;
    Transact([&](Session& s) {
        // A name sent for the first time by two servers at once: the insert
        // of the second waits for the first and then does nothing, and both
        // read the one owner that was stored. A freed name ('' for its token)
        // is taken the same way.
        std::optional<std::string> owner = NameOwner(s, run.nameKey);
        if (!owner || owner->empty()) {
            s.Run(sql::kBindName, {run.nameKey, run.tokenHash});
            owner = NameOwner(s, run.nameKey);
        }
        if (!owner || !SameHash(*owner, run.tokenHash)) {
            result.outcome = SubmitOutcome::NameTaken;
            return false;
        }
        if (auto same = FirstRun(s, sql::kRunByReplay, {run.replayHash})) {
            result = {SubmitOutcome::Existing, std::move(*same)};
            return false;
        }
        // The same game sent before, under any name: the first sender keeps
        // it. Submissions that could copy one another take one lock until
        // they commit, so two servers never both store one game.
        if (!run.checks.empty()) {
            LockCopies(s, CopyLockKey(run.difficulty, run.checks.front()));
            if (auto original = FindOriginal(s, run)) {
                result = std::move(*original);
                return false;  // nothing stored, the name not bound
            }
            // Another player's scoring play at its start: the rest is not
            // looked at. A token may go on from its own play.
            if (const auto original = FindOpeningOriginal(s, run);
                original && !SameHash(OwnerOfRun(s, *original), run.tokenHash)) {
                const auto found = FirstRun(s, sql::kRunById, {*original});
                if (!found) throw StorageError("the database lost a run while reading it");
                result = {SubmitOutcome::OpeningCopy, *found};
                return false;
            }
        }
        s.Run(sql::kKeepReplay, {run.replayHash, SqlValue::Bytes(run.replayBytes)});
        // The same bytes sent to two servers at once: one insert wins, the
        // other finds its run.
        if (auto added = FirstRun(s, sql::kAddRun,
                                  {run.replayHash, run.name, run.nameKey, run.difficulty,
                                   run.claimedScore, run.frames, run.timestamp, run.receivedAt})) {
            result = {SubmitOutcome::Created, std::move(*added)};
            IndexChecks(s, result.run.id, run.difficulty, run.checks);
        } else if (auto same = FirstRun(s, sql::kRunByReplay, {run.replayHash})) {
            result = {SubmitOutcome::Existing, std::move(*same)};
        } else {
            throw StorageError("the database lost a run while reading it");
        }
        return true;
    });
    return result;
}

BatchReads::BatchReads(size_t keys) : keys_(std::max<size_t>(1, keys)) {
    std::string list;
    for (size_t i = 0; i < keys_; ++i) list += i ? ", ?" : "?";
    runs_ = "SELECT " ZQ_RUN_COLUMNS " FROM runs WHERE id IN (" + list + ")";
    players_ = std::string(sql::kPlayersRunsStart) + list + sql::kPlayersRunsEnd;
}

SqlValues BatchReads::RunsValues(const std::vector<int64_t>& ids) const {
    SqlValues values;
    for (size_t i = 0; i < keys_; ++i) values.emplace_back(ids[i < ids.size() ? i : 0]);
    return values;
}

void BatchReads::TakeRun(const Row& row, const std::vector<int64_t>& ids,
                         std::vector<std::optional<Run>>& out) {
    const Run run = ReadRun(row);
    for (size_t i = 0; i < ids.size(); ++i) {
        if (ids[i] == run.id) out[i] = run;
    }
}

SqlValues BatchReads::PlayersValues(const std::vector<std::string>& nameKeys, int limit,
                                    int64_t offset) const {
    SqlValues values;
    for (size_t i = 0; i < keys_; ++i) values.emplace_back(nameKeys[i < nameKeys.size() ? i : 0]);
    values.emplace_back(offset);
    values.emplace_back(offset + limit);
    return values;
}

void BatchReads::TakePlayerRun(const Row& row, const std::vector<std::string>& nameKeys,
                               std::vector<std::vector<Run>>& out) {
    const std::string key = row.Text(8);
    for (size_t i = 0; i < nameKeys.size(); ++i) {
        if (nameKeys[i] == key) out[i].push_back(ReadPlayerRun(row));
    }
}

void SqlStorage::CoalesceReads(size_t maxKeys, size_t maxStatements) {
    batches_.emplace(maxKeys);
    runReads_ = std::make_unique<Coalescer<int64_t, Run>>(
        [this](const std::vector<int64_t>& ids) { return RunsByIds(ids); }, batches_->Keys(),
        maxStatements);
    playerReads_ = std::make_unique<Coalescer<PlayerPage, std::vector<Run>>>(
        [this](const std::vector<PlayerPage>& pages) { return PlayersPages(pages); },
        batches_->Keys(), maxStatements);
}

std::vector<std::optional<Run>> SqlStorage::RunsByIds(const std::vector<int64_t>& ids) {
    const SqlValues values = batches_->RunsValues(ids);
    std::vector<std::optional<Run>> out(ids.size());
    Read([&](Session& s) {
        for (auto& run : out) run.reset();  // the work may be tried again on a new connection
        s.Run(batches_->RunsStatement(), values,
              [&](const Row& row) { BatchReads::TakeRun(row, ids, out); });
    });
    return out;
}

std::vector<std::optional<std::vector<Run>>> SqlStorage::PlayersPages(
    const std::vector<PlayerPage>& pages) {
    std::vector<std::optional<std::vector<Run>>> out(pages.size());
    Read([&](Session& s) {
        // The first page's size and place, and every other page asked the same way, in one
        // statement; pages asked otherwise (rare: browsing a long list) one by one.
        const PlayerPage& first = pages.front();
        const auto same = [&first](const PlayerPage& p) {
            return p.limit == first.limit && p.offset == first.offset;
        };
        std::vector<std::string> keys;
        for (const PlayerPage& p : pages) keys.push_back(same(p) ? p.nameKey : first.nameKey);
        std::vector<std::vector<Run>> found(pages.size());
        s.Run(batches_->PlayersStatement(),
              batches_->PlayersValues(keys, first.limit, first.offset),
              [&](const Row& row) { BatchReads::TakePlayerRun(row, keys, found); });
        for (size_t i = 0; i < pages.size(); ++i) {
            const PlayerPage& p = pages[i];
            out[i] =
                same(p) ? std::move(found[i]) : ReadPlayerRuns(s, p.nameKey, p.limit, p.offset);
        }
    });
    return out;
}

std::optional<Run> SqlStorage::FindRun(int64_t id) {
    if (runReads_) return runReads_->Get(id);
    std::optional<Run> out;
    Read([&](Session& s) { out = FirstRun(s, sql::kRunById, {id}); });
    return out;
}

std::optional<std::string> SqlStorage::ReplayBytes(int64_t id) {
    std::optional<std::string> out;
    Read([&](Session& s) { out = ReadReplayBytes(s, id); });
    return out;
}

RankingChanges SqlStorage::RankingSince(int64_t since) {
    // Versions are taken under the ranking's lock and so committed in order:
    // once a row of version v is seen, every earlier one is too, and the
    // highest seen is the version reached.
    RankingChanges out;
    out.version = since;
    Read([&](Session& s) {
        const auto each = [&out](const Row& row) {
            RankedRun r;
            r.difficulty = static_cast<int>(row.Int(0));
            r.nameKey = row.Text(1);
            out.version = std::max(out.version, row.Int(2));
            if (!row.IsNull(3)) {
                r.id = row.Int(3);
                r.score = row.Int(4);
                r.verifiedAt = row.Int(5);
                r.name = row.Text(6);
                r.frames = row.Int(7);
                r.timestamp = row.Int(8);
            }
            out.bests.push_back(std::move(r));
        };
        if (since == 0) {
            s.Stream(sql::kRankingAll, {}, each);
        } else {
            s.Stream(sql::kRankingSince, {since}, each);
        }
    });
    return out;
}

std::vector<Run> SqlStorage::PlayerRuns(const std::string& nameKey, int limit, int64_t offset) {
    if (playerReads_) return *playerReads_->Get(PlayerPage{nameKey, limit, offset});
    std::vector<Run> out;
    Read([&](Session& s) { out = ReadPlayerRuns(s, nameKey, limit, offset); });
    return out;
}

std::vector<Run> SqlStorage::ReadPlayerRuns(Session& s, const std::string& nameKey, int limit,
                                            int64_t offset) {
    std::vector<Run> out;
    s.Run(sql::kPlayerRuns, {nameKey, limit, offset},
          [&out](const Row& row) { out.push_back(ReadPlayerRun(row)); });
    return out;
}

std::optional<EarlierCopy> SqlStorage::FindEarlierCopy(
    int64_t id, const std::vector<OtherRulesChecks>& games,
    const std::optional<ScoringOpening>& opening) {
    std::optional<EarlierCopy> out;
    Transact([&](Session& s) {
        out.reset();  // the work may be tried again on a new connection
        const auto run = FirstRun(s, sql::kRunById, {id});
        if (!run) return false;
        const std::string owner = OwnerOfRun(s, id);
        const auto copyOf = [&](int64_t original, bool byOpening) {
            return EarlierCopy{original,
                               !owner.empty() && SameHash(OwnerOfRun(s, original), owner),
                               byOpening};
        };
        for (const OtherRulesChecks& game : games) {
            if (game.first.empty() || game.count < 1 ||
                static_cast<int64_t>(game.first.size()) < CopyAgreement(game.count)) {
                continue;
            }
            // The lock submissions of this game take: one still being stored
            // (its id below this run's) is committed before the lookup reads.
            LockCopies(s, CopyLockKey(run->difficulty, game.first.front()));
            const auto original = FindCopied(
                s, run->difficulty, ProbeFor(game.first, static_cast<size_t>(game.count)), id);
            if (!original) continue;
            out = copyOf(*original, false);
            if (!out->sameOwner) return false;
            break;
        }
        if (opening && opening->length > 0) {
            // Submissions that start like this run take this lock while they
            // are stored; an earlier one still pending is found as it stands.
            LockCopies(s, CopyLockKey(run->difficulty, opening->first));
            const int64_t bytes = opening->length * 4;
            const SqlValue prefix = SqlValue::Bytes(opening->prefix);
            std::optional<int64_t> original;
            s.Run(kSqlFindOpeningOriginal,
                  {opening->print, opening->length, run->difficulty, id, bytes, prefix, id,
                   run->difficulty, bytes, prefix},
                  [&](const Row& row) { original = row.MaybeInt(0); });
            // Another player's opening outweighs a copy of the run's own.
            if (original && (!out || !copyOf(*original, true).sameOwner)) {
                out = copyOf(*original, true);
            }
        }
        return false;  // nothing written
    });
    return out;
}

bool SqlStorage::Finish(int64_t id, const std::string& holder, const Verdict& verdict,
                        int64_t now) {
    bool done = false;
    Transact([&](Session& s) {
        if (verdict.verified) LockRanking(s);
        done = s.Run(sql::kFinishRun, {verdict.verified ? "verified" : "rejected", verdict.score,
                                       verdict.reason, verdict.firstBadStep, now, id, holder}) == 1;
        if (done) StoreScoring(s, kSqlSetScoring, id, verdict.scoredFrom.value_or(-1));
        if (done && verdict.verified) UpdateBestOf(s, id);
        return done;
    });
    return done;
}

std::optional<ClaimedRun> SqlStorage::UnscoredRun(int64_t after) {
    std::optional<ClaimedRun> out;
    Use([&](Session& s) {
        s.Run(kSqlUnscoredRun, {after}, [&](const Row& row) {
            out = ClaimedRun{row.Int(0), "", 0};
        });
        if (out) out->replayBytes = ReadReplayBytes(s, out->id).value_or("");
    });
    return out;
}

void SqlStorage::KeepScoring(int64_t id, int64_t scoredFrom) {
    Transact([&](Session& s) {
        StoreScoring(s, kSqlSetUnknownScoring, id, scoredFrom);
        return true;
    });
}

void SqlStorage::Release(int64_t id, const std::string& holder) {
    Use([&](Session& s) { s.Run(sql::kReleaseClaim, {id, holder}); });
}

bool SqlStorage::Hide(int64_t id, const std::string& reason, int64_t now) {
    bool done = false;
    Transact([&](Session& s) {
        LockRanking(s);
        done = s.Run(sql::kHideRun, {reason, now, id}) == 1;
        if (!done) return false;
        UpdateBestOf(s, id);
        RecordAction(s, now, "hide", id, reason);
        return true;
    });
    return done;
}

bool SqlStorage::Show(int64_t id, int64_t now) {
    bool done = false;
    Transact([&](Session& s) {
        LockRanking(s);
        done = s.Run(sql::kShowRun, {id}) == 1;
        if (!done) return false;
        UpdateBestOf(s, id);
        RecordAction(s, now, "show", id, "");
        return true;
    });
    return done;
}

std::vector<Run> SqlStorage::HiddenRuns() {
    std::vector<Run> out;
    Read([&](Session& s) {
        s.Run(sql::kHiddenRuns, {}, [&out](const Row& row) { out.push_back(ReadRun(row)); });
    });
    return out;
}

bool SqlStorage::FreeName(const std::string& nameKey, int64_t now) {
    bool done = false;
    Transact([&](Session& s) {
        done = s.Run(sql::kFreeName, {nameKey}) == 1;
        if (done) RecordAction(s, now, "free-name", std::nullopt, "", nameKey);
        return done;
    });
    return done;
}

int64_t SqlStorage::CountPending() {
    int64_t count = 0;
    Read([&](Session& s) { count = FirstInt(s, sql::kCountPending, {}).value_or(0); });
    return count;
}

bool SqlStorage::Healthy() {
    try {
        bool answered = false;
        Read([&](Session& s) { answered = FirstInt(s, sql::kHealthCheck, {}).has_value(); });
        return answered;
    } catch (const StorageError&) {
        return false;
    }
}

int64_t SqlStorage::SchemaVersion(Session& s) {
    s.Run(sql::kCreateSchemaVersion, {});
    const int64_t version = FirstInt(s, sql::kSchemaVersion, {}).value_or(0);
    const int64_t newest = Migrations().back().version;
    if (version > newest) {
        throw StorageError("the database has schema version " + std::to_string(version) +
                           ", newer than this server's " + std::to_string(newest));
    }
    return version;
}

void SqlStorage::ApplyMigration(Session& s, const Migration& migration, SqlDialect dialect) {
    for (const std::string& statement : MigrationStatements(migration, dialect)) {
        s.Run(statement, {});
    }
    if (migration.version == kCopyIndexVersion) IndexOlderRuns(s);
    s.Run(sql::kRecordSchemaVersion, {migration.version});
}

std::optional<ClaimedRun> SqlStorage::Claim(Session& s, std::string_view sql,
                                            const SqlValues& values) {
    std::optional<ClaimedRun> claimed;
    s.Run(sql, values, [&](const Row& row) {
        claimed = ClaimedRun{row.Int(0), "", static_cast<int>(row.Int(1))};
    });
    if (claimed) claimed->replayBytes = ReadReplayBytes(s, claimed->id).value_or("");
    return claimed;
}

}  // namespace board

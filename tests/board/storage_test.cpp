// The storage interface, written once and run against every backend: atomic
// submissions with name ownership, claims with leases (a run is finished
// exactly once), and the ranking of boards. Cases of one backend follow:
// SQLite's single server, and PostgreSQL's several servers on one database.
#include "board/storage.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "board/hashes.h"
#include "board/names.h"
#include "board/ranking.h"
#include "board/schema.h"
#include "board/workers.h"
#include "game/replay_file.h"
#include "tests/support/board_harness.h"
#include "tests/support/postgres_cluster.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace {

using board::NewRun;
using board::RunState;
using board::Storage;
using board::SubmitOutcome;
using board::Verdict;

// A backend under test: opens a fresh, empty storage in a temporary folder
// or a new database of the shared cluster.
struct Backend {
    std::string name;
    bool needsPostgres = false;
    std::function<std::unique_ptr<Storage>(const std::string& dir)> open;
};

// Names the backend in test listings.
void PrintTo(const Backend& backend, std::ostream* out) {
    *out << backend.name;
}

std::vector<Backend> Backends() {
    return {
        {"Sqlite", false,
         [](const std::string& dir) { return board::OpenSqliteStorage(dir + "/b.sqlite"); }},
        {"Postgres", true,
         [](const std::string&) {
             const std::string url = zqtest::SharedPostgres().CreateDatabase();
             EXPECT_FALSE(url.empty()) << zqtest::SharedPostgres().Error();
             return board::OpenPostgresStorage(url);
         }},
    };
}

// Returns a run whose replay bytes, and game, are unique to (name, score, seed).
NewRun MakeRun(const std::string& name, const std::string& token, int difficulty, int64_t score,
               int seed = 0) {
    NewRun r;
    // Replays are binary: NUL and high bytes must come back as they were.
    r.replayBytes = "replay of " + name + " " + std::to_string(score) + " " + std::to_string(seed) +
                    std::string("\0\xff\x80", 3);
    r.replayHash = board::Sha256Hex(r.replayBytes);
    std::string latin1;
    EXPECT_TRUE(board::NameFromUtf8(name, latin1)) << name;
    r.name = name;
    r.nameKey = board::NameKey(latin1);
    r.tokenHash = board::TokenHash("key", token);
    r.difficulty = difficulty;
    r.claimedScore = score;
    r.frames = 600;
    r.timestamp = 12345;
    r.receivedAt = 1000;
    // Every game starts alike, as the game's own do, then goes its own way.
    const uint64_t game = std::hash<std::string>()(r.replayBytes);
    r.checks = {7};
    for (uint32_t i = 1; i < 10; ++i) r.checks.push_back(static_cast<uint32_t>(game >> i) + i);
    return r;
}

// Pumps a read channel until finished(), waiting on its socket as the
// server's event loop does: told of bytes only when more arrive
// (edge-triggered). False when finished() never comes.
bool Drive(board::ReadChannel& channel, const std::function<bool()>& finished) {
    const int events = ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event watch{};
    watch.events = EPOLLIN | EPOLLRDHUP | EPOLLET;
    const bool watching = ::epoll_ctl(events, EPOLL_CTL_ADD, channel.Socket(), &watch) == 0;
    for (int round = 0; watching && round < 1000 && !finished(); ++round) {
        const board::ReadChannel::Wait wait = channel.Pump();
        if (finished() || wait == board::ReadChannel::Wait::Nothing) break;
        if (wait == board::ReadChannel::Wait::Write) {
            pollfd p{channel.Socket(), POLLOUT, 0};
            if (::poll(&p, 1, 10000) <= 0) break;
        } else if (wait == board::ReadChannel::Wait::Read) {
            epoll_event got{};
            if (::epoll_wait(events, &got, 1, 10000) <= 0) break;
        }
    }
    ::close(events);
    return finished();
}

// Fills an empty database as a server from before the copy index left it:
// schema version 1 holding the checked-in easy run, verified, of token.
void FillVersionOne(board::SqlDialect dialect, const std::function<void(const std::string&)>& exec,
                    const std::string& token) {
    const std::string bytes = zqtest::GoldenReplayBytes("easy");
    std::string hex;
    for (unsigned char c : bytes) {
        static const char kDigits[] = "0123456789abcdef";
        hex += kDigits[c >> 4];
        hex += kDigits[c & 15];
    }
    const bool lite = dialect == board::SqlDialect::Sqlite;
    exec("CREATE TABLE schema_version (version INTEGER NOT NULL)");
    for (const std::string& sql : board::MigrationStatements(board::Migrations()[0], dialect)) {
        exec(sql);
    }
    exec("INSERT INTO schema_version VALUES (1)");
    exec("INSERT INTO names VALUES ('scripted', '" + board::TokenHash("key", token) + "')");
    const std::string hash = board::Sha256Hex(bytes);
    exec("INSERT INTO replays VALUES ('" + hash + "', " +
         (lite ? "X'" + hex + "'" : "'\\x" + hex + "'::bytea") + ")");
    exec(
        "INSERT INTO runs (replay_hash, name, name_key, difficulty, claimed_score, score, frames, "
        "run_timestamp, state, received_at, verified_at) VALUES ('" +
        hash + "', 'Scripted', 'scripted', 0, 300, 300, 1500, 1, 'verified', 1, 2)");
}

// Expects a storage opened on FillVersionOne's database to know its run's
// game, and its opening once score (a worker, or by hand) learned where it scored.
void ExpectTheOldRunsGameKnown(Storage& store, const std::string& owner, const std::string& other,
                               const std::function<void(int64_t)>& score) {
    game::Replay replay;
    std::string error;
    ASSERT_TRUE(game::DecodeReplay(zqtest::GoldenReplayBytes("easy"), replay, error)) << error;
    NewRun copy = MakeRun("Thief", other, 0, 300);
    copy.checks = replay.checks;
    const auto refused = store.Submit(copy);
    EXPECT_EQ(refused.outcome, SubmitOutcome::Copy);
    EXPECT_EQ(refused.run.name, "Scripted");
    NewRun resent = MakeRun("Other", owner, 0, 300);
    resent.checks = replay.checks;
    EXPECT_EQ(store.Submit(resent).outcome, SubmitOutcome::Existing);
    EXPECT_EQ(store.Submit(MakeRun("Thief", other, 0, 300)).outcome, SubmitOutcome::Created);

    // Where it first scored is unknown until an idle worker re-simulates it:
    // its opening is nobody's meanwhile, then its player's for good.
    const auto unscored = store.UnscoredRun(0);
    ASSERT_TRUE(unscored.has_value());
    EXPECT_EQ(unscored->replayBytes, zqtest::GoldenReplayBytes("easy"));
    const auto takenOver = [&](const std::string& name, uint32_t fill) {
        NewRun run = MakeRun(name, other, 0, 360);
        run.checks = replay.checks;
        run.checks.resize(31, fill);  // 26 of 31 values agree: not the same game
        return store.Submit(run).outcome;
    };
    EXPECT_EQ(takenOver("Taker", 7), SubmitOutcome::Created);
    score(unscored->id);
    store.KeepScoring(unscored->id, -1);  // known already: kept
    EXPECT_FALSE(store.UnscoredRun(0).has_value());
    EXPECT_EQ(takenOver("Taker2", 8), SubmitOutcome::OpeningCopy);
}

class StorageSuite : public ::testing::TestWithParam<Backend> {
  protected:
    void SetUp() override {
        if (GetParam().needsPostgres) ZQ_REQUIRE_POSTGRES(zqtest::SharedPostgres());
        store = GetParam().open(dir.path());
    }

    // Submits a run and verifies it (with its claimed score) at time `at`.
    int64_t AddVerified(const NewRun& r, int64_t at) {
        const auto sub = store->Submit(r);
        EXPECT_EQ(sub.outcome, SubmitOutcome::Created);
        const auto claim = store->ClaimPending("w", at, 1000);
        EXPECT_TRUE(claim && claim->id == sub.run.id);
        EXPECT_TRUE(store->Finish(sub.run.id, "w", Verdict{true, r.claimedScore, "", {}, {}}, at));
        return sub.run.id;
    }

    // Lets ms pass on the clock the claims expire by: the test's own (the
    // `now` it gives, on SQLite) and the database's (on PostgreSQL); returns the new now.
    int64_t Pass(int64_t ms) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return now += ms;
    }

    zqtest::TempDir dir;
    std::unique_ptr<Storage> store;
    int64_t now = 0;
};

// A lease long enough for the steps a test takes while a claim must hold.
constexpr int64_t kLeaseMs = 900;

const std::string kTokenA(40, 'a');
const std::string kTokenB(40, 'b');

TEST_P(StorageSuite, SubmissionsAreStoredOnceAndNamesBelongToTheirFirstToken) {
    const NewRun first = MakeRun("Ëlan", kTokenA, 2, 500);
    const auto created = store->Submit(first);
    ASSERT_EQ(created.outcome, SubmitOutcome::Created);
    EXPECT_EQ(created.run.state, RunState::Pending);

    // The same bytes again: the same run, whichever name case the client retries with.
    const auto again = store->Submit(first);
    EXPECT_EQ(again.outcome, SubmitOutcome::Existing);
    EXPECT_EQ(again.run.id, created.run.id);

    // Another token under the same name in other letter cases, including Ë/ë: refused.
    for (const char* name : {"Ëlan", "ëLAN", "ËLAN"}) {
        EXPECT_EQ(store->Submit(MakeRun(name, kTokenB, 2, 900, 1)).outcome,
                  SubmitOutcome::NameTaken)
            << name;
    }
    // The owner may send more runs under another spelling of the name.
    EXPECT_EQ(store->Submit(MakeRun("ËLAN", kTokenA, 1, 100, 2)).outcome, SubmitOutcome::Created);
    EXPECT_EQ(store->CountPending(), 2);

    const auto found = store->FindRun(created.run.id);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->name, "Ëlan");
    EXPECT_EQ(found->difficulty, 2);
    EXPECT_EQ(found->claimedScore, 500);
    EXPECT_EQ(found->frames, 600);
    EXPECT_EQ(found->timestamp, 12345);
    EXPECT_FALSE(found->score.has_value());
    EXPECT_EQ(store->ReplayBytes(created.run.id), first.replayBytes);
    EXPECT_FALSE(store->FindRun(created.run.id + 100));
    EXPECT_FALSE(store->ReplayBytes(created.run.id + 100));

    const std::string key = store->ServerKey();
    EXPECT_EQ(key.size(), 64u);
    EXPECT_EQ(store->ServerKey(), key);
}

TEST_P(StorageSuite, TheSameGameBelongsToItsFirstSenderWhateverItsNameOrState) {
    // The original: twenty check values, rejected (a run counts in any state).
    std::vector<uint32_t> game(20);
    for (uint32_t i = 0; i < game.size(); ++i) game[i] = 1000 + i * 7;
    NewRun first = MakeRun("Orig", kTokenA, 1, 500);
    first.checks = game;
    const int64_t original = store->Submit(first).run.id;
    ASSERT_TRUE(store->ClaimPending("w", 0, 100000));
    ASSERT_TRUE(store->Finish(original, "w", Verdict{false, 1, "score differs", {}, {}}, 1));

    // Returns the original's values changed from index `from` on, cut or
    // lengthened to count values.
    const auto played = [&game](size_t from, size_t count) {
        std::vector<uint32_t> v = game;
        v.resize(count, 5);
        for (size_t i = from; i < count; ++i) v[i] ^= 0x5a5a;
        return v;
    };
    const std::string kTokenC(40, 'c');
    struct Case {
        const char* what;
        std::string token;
        std::string name;
        int difficulty;
        std::vector<uint32_t> checks;
        SubmitOutcome outcome;  // Copy and Existing name the original
    };
    const std::vector<Case> cases = {
        {"another name", kTokenB, "Thief", 1, game, SubmitOutcome::Copy},
        // 90% of 20 is 18 values.
        {"the last 2 values differ", kTokenB, "Thief", 1, played(18, 20), SubmitOutcome::Copy},
        {"the last 3 values differ", kTokenB, "Honest", 1, played(17, 20), SubmitOutcome::Created},
        // The earlier and longer of the two that agree wins.
        {"its first half", kTokenC, "Cut", 1, played(10, 10), SubmitOutcome::Copy},
        {"2 values longer", kTokenC, "Long", 1, played(20, 22), SubmitOutcome::Copy},
        {"3 values longer", kTokenC, "Long", 1, played(20, 23), SubmitOutcome::Created},
        {"another difficulty", kTokenC, "Else", 2, game, SubmitOutcome::Created},
        {"its own token under another name", kTokenA, "Orig2", 1, game, SubmitOutcome::Existing},
        // A refused copy bound nothing: the name is free for another token.
        {"a new game under the refused name", kTokenC, "Thief", 1, played(1, 20),
         SubmitOutcome::Created},
        {"a new game of its first sender", kTokenA, "Orig3", 1, played(0, 20),
         SubmitOutcome::Created},
    };
    int seed = 0;
    std::map<std::string, int64_t> created;  // by name
    // Sends the rows in order; those refused must name the original.
    const auto send = [&](const std::vector<Case>& rows, int64_t originalId,
                          const std::string& originalName) {
        for (const Case& c : rows) {
            NewRun run = MakeRun(c.name, c.token, c.difficulty, 500, ++seed);
            run.checks = c.checks;
            const int64_t before = store->CountPending();
            const auto result = store->Submit(run);
            EXPECT_EQ(result.outcome, c.outcome) << c.what;
            if (c.outcome == SubmitOutcome::Created) {
                EXPECT_EQ(store->CountPending(), before + 1) << c.what;
                created[c.name] = result.run.id;
            } else {
                EXPECT_EQ(result.run.id, originalId) << c.what;
                EXPECT_EQ(result.run.name, originalName) << c.what;
                EXPECT_EQ(store->CountPending(), before) << c.what;
            }
        }
    };
    // The original above never told where it scored (a run re-simulated
    // before that was kept): only the same game is its.
    send(cases, original, "Orig");
    EXPECT_EQ(store->FindRun(original)->state, RunState::Rejected);

    // A verified run whose sixth value (index 5) was the first taken with
    // points owns its first six values; runs that start with them are copies
    // however they go on, unless its own token sent them.
    std::vector<uint32_t> scored(20);
    for (uint32_t i = 0; i < scored.size(); ++i) scored[i] = 9000 + i * 13;
    const auto scoredPlayed = [&scored](size_t from, size_t count) {
        std::vector<uint32_t> v = scored;
        v.resize(count, 77);
        for (size_t i = from; i < count; ++i) v[i] ^= 0x3c3c;
        return v;
    };
    NewRun maker = MakeRun("Maker", kTokenA, 0, 300, ++seed);
    maker.checks = scored;
    const int64_t made = store->Submit(maker).run.id;
    // Claims runs (the rows above left some pending) until id is held, and verifies it.
    const auto verifyScored = [&](int64_t id, int64_t scoredFrom) {
        for (int i = 0; i < 50; ++i) {
            const auto claim = store->ClaimPending("w", 0, 100000);
            ASSERT_TRUE(claim.has_value());
            if (claim->id == id) break;
        }
        ASSERT_TRUE(store->Finish(id, "w", Verdict{true, 300, "", {}, scoredFrom}, 2));
    };
    verifyScored(made, 5);
    const std::string kTokenD(40, 'd');
    const std::vector<Case> openings = {
        {"its quit run and 3 seconds more", kTokenB, "Taker", 0, scoredPlayed(20, 23),
         SubmitOutcome::OpeningCopy},
        {"its quit run and more than as long again", kTokenB, "Taker", 0, scoredPlayed(20, 45),
         SubmitOutcome::OpeningCopy},
        {"its first 80% kept, then played on", kTokenC, "Taker2", 0, scoredPlayed(16, 20),
         SubmitOutcome::OpeningCopy},
        {"up to its first scoring value", kTokenC, "Taker2", 0, scoredPlayed(6, 20),
         SubmitOutcome::OpeningCopy},
        {"its idle start only, before it scored", kTokenD, "Idler", 0, scoredPlayed(5, 20),
         SubmitOutcome::Created},
        {"its own token going on from it", kTokenA, "Maker2", 0, scoredPlayed(20, 25),
         SubmitOutcome::Created},
        {"the same opening on another board", kTokenD, "Else2", 1, scoredPlayed(20, 25),
         SubmitOutcome::Created},
    };
    send(openings, made, "Maker");

    // Runs whose verdict is not stored yet are found as they stand when a
    // later run that starts like them is verified. A run that never scored
    // at a check value owns nothing.
    std::vector<uint32_t> pendingGame(20);
    for (uint32_t i = 0; i < pendingGame.size(); ++i) pendingGame[i] = 40000 + i * 3;
    std::vector<uint32_t> extended = pendingGame;
    extended.resize(26, 12);
    std::vector<uint32_t> ownExtension = pendingGame;
    ownExtension.resize(26, 13);
    const std::vector<Case> laterOnes = {
        {"an honest run, still pending", kTokenC, "Early", 2, pendingGame, SubmitOutcome::Created},
        {"another token's run starting with it", kTokenD, "Late", 2, extended,
         SubmitOutcome::Created},
        {"its own token's run starting with it", kTokenC, "Early2", 2, ownExtension,
         SubmitOutcome::Created},
    };
    send(laterOnes, 0, "");
    verifyScored(created["Idler"], -1);
    const auto openingOf = [](const std::vector<uint32_t>& checks, int64_t scoredFrom) {
        return board::ScoringOpeningOf(checks, scoredFrom);
    };
    struct OpeningLookup {
        const char* what;
        std::string run;
        std::optional<board::ScoringOpening> opening;
        std::optional<board::EarlierCopy> found;
    };
    const std::vector<OpeningLookup> openingLookups = {
        {"another player's pending run", "Late", openingOf(extended, 3),
         board::EarlierCopy{created["Early"], false, true}},
        {"its own player's pending run", "Early2", openingOf(ownExtension, 3),
         board::EarlierCopy{created["Early"], true, true}},
        {"no earlier run: the first itself", "Early", openingOf(pendingGame, 3), std::nullopt},
        {"its own player's verified run", "Maker2", openingOf(scoredPlayed(20, 25), 5),
         board::EarlierCopy{made, true, true}},
        {"one value shorter than a stored opening", "Idler", openingOf(scoredPlayed(5, 20), 4),
         std::nullopt},
    };
    for (const OpeningLookup& l : openingLookups) {
        ASSERT_EQ(created.count(l.run), 1u) << l.what;
        const auto found = store->FindEarlierCopy(created[l.run], {}, l.opening);
        ASSERT_EQ(found.has_value(), l.found.has_value()) << l.what;
        if (found) {
            EXPECT_EQ(found->original, l.found->original) << l.what;
            EXPECT_EQ(found->sameOwner, l.found->sameOwner) << l.what;
            EXPECT_TRUE(found->opening) << l.what;
        }
    }

    // A verified run's game under other rules, as the verifier reports it
    // (the first 18 of its 20 values), copies only earlier runs of its
    // difficulty; whether the same token owns both is told.
    created["Orig"] = original;
    const auto first18 = [](std::vector<uint32_t> v) {
        v.resize(18);
        return v;
    };
    struct Lookup {
        const char* what;
        std::string run;
        std::vector<uint32_t> game;
        std::optional<board::EarlierCopy> found;
    };
    const std::vector<Lookup> lookups = {
        {"another player's", "Honest", first18(game), board::EarlierCopy{original, false}},
        {"its own player's", "Orig3", first18(game), board::EarlierCopy{original, true}},
        {"no earlier run: the original itself", "Orig", first18(game), std::nullopt},
        {"another difficulty", "Else", first18(game), std::nullopt},
        {"the last 3 values differ", "Honest", first18(played(17, 20)), std::nullopt},
    };
    for (const Lookup& l : lookups) {
        ASSERT_EQ(created.count(l.run), 1u) << l.what;
        const auto found = store->FindEarlierCopy(created[l.run], {{1, 20, l.game}});
        ASSERT_EQ(found.has_value(), l.found.has_value()) << l.what;
        if (found) {
            EXPECT_EQ(found->original, l.found->original) << l.what;
            EXPECT_EQ(found->sameOwner, l.found->sameOwner) << l.what;
        }
    }
}

TEST_P(StorageSuite, ARunIsFinishedOnceByTheHolderOfItsClaim) {
    const int64_t id = store->Submit(MakeRun("Ann", kTokenA, 0, 300)).run.id;

    const auto a = store->ClaimPending("server-a/1", now, kLeaseMs);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->id, id);
    EXPECT_EQ(a->attempts, 1);
    EXPECT_EQ(a->replayBytes, MakeRun("Ann", kTokenA, 0, 300).replayBytes);
    // Held and not expired: nobody else gets it.
    EXPECT_FALSE(store->ClaimPending("server-b/1", now + 50, kLeaseMs));
    // The lease ran out: another server takes it over, and the first may no longer finish it.
    const auto b = store->ClaimPending("server-b/1", Pass(kLeaseMs + 50), kLeaseMs);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->attempts, 2);
    EXPECT_FALSE(store->Finish(id, "server-a/1", Verdict{true, 300, "", {}, {}}, now + 10));
    EXPECT_TRUE(
        store->Finish(id, "server-b/1", Verdict{false, 250, "desync at step 60", 60, {}}, now + 20));
    EXPECT_FALSE(store->Finish(id, "server-b/1", Verdict{true, 300, "", {}, {}}, now + 30));
    EXPECT_FALSE(store->ClaimPending("server-c/1", now + 10 * kLeaseMs, kLeaseMs));

    const auto run = store->FindRun(id);
    ASSERT_TRUE(run);
    EXPECT_EQ(run->state, RunState::Rejected);
    EXPECT_EQ(run->score, 250);
    EXPECT_EQ(run->reason, "desync at step 60");
    EXPECT_EQ(run->firstBadStep, 60);
    EXPECT_EQ(run->verifiedAt, kLeaseMs + 50 + 20);
    EXPECT_EQ(store->CountPending(), 0);
}

TEST_P(StorageSuite, OnlyTheHolderRenewsAClaimWhichThenOutlivesItsFirstLease) {
    const int64_t id = store->Submit(MakeRun("Ann", kTokenA, 0, 300)).run.id;
    ASSERT_TRUE(store->ClaimPending("a/1", now, kLeaseMs));
    // Renewed a third into the lease, checked a sixth past its first end (and
    // a sixth before its new one), taken over a sixth after that.
    const int64_t sixth = kLeaseMs / 6;
    EXPECT_FALSE(store->Renew(id, "b/1", Pass(2 * sixth), kLeaseMs));
    EXPECT_FALSE(store->Renew(id + 1, "a/1", now, kLeaseMs));
    EXPECT_TRUE(store->Renew(id, "a/1", now, kLeaseMs));
    EXPECT_FALSE(store->ClaimPending("b/1", Pass(5 * sixth), kLeaseMs));
    const auto b = store->ClaimPending("b/1", Pass(2 * sixth), kLeaseMs);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->attempts, 2);
    // A renewal after the claim was taken over says so, and takes nothing back.
    EXPECT_FALSE(store->Renew(id, "a/1", now, kLeaseMs));
    EXPECT_FALSE(store->ClaimPending("a/2", now + 10, kLeaseMs));
    EXPECT_TRUE(store->Finish(id, "b/1", Verdict{true, 300, "", {}, {}}, now + 20));
    EXPECT_FALSE(store->Renew(id, "b/1", now + 30, kLeaseMs));
    EXPECT_EQ(store->FindRun(id)->state, RunState::Verified);
}

TEST_P(StorageSuite, WorkersClaimingAtOnceFinishEveryRunExactlyOnce) {
    constexpr int kRuns = 40;
    constexpr int kWorkers = 4;
    for (int i = 0; i < kRuns; ++i) store->Submit(MakeRun("Ann", kTokenA, 0, 100, i));
    std::atomic<int> finished{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([&, w] {
            const std::string holder = "worker-" + std::to_string(w);
            while (auto run = store->ClaimPending(holder, 0, 100000)) {
                if (store->Finish(run->id, holder, Verdict{true, 100, "", {}, {}}, 1)) ++finished;
            }
        });
    }
    for (auto& t : workers) t.join();
    EXPECT_EQ(finished, kRuns);
    EXPECT_EQ(store->CountPending(), 0);
}

TEST_P(StorageSuite, AReleasedClaimIsPendingForAnyoneAtOnce) {
    const int64_t first = store->Submit(MakeRun("Ann", kTokenA, 0, 1)).run.id;
    const int64_t second = store->Submit(MakeRun("Ann", kTokenA, 0, 2)).run.id;
    // Oldest first; a held run is skipped.
    EXPECT_EQ(store->ClaimPending("a", 0, 1000)->id, first);
    EXPECT_EQ(store->ClaimPending("b", 0, 1000)->id, second);
    EXPECT_FALSE(store->ClaimPending("c", 0, 1000));
    store->Release(first, "someone-else");  // not the holder: no effect
    EXPECT_FALSE(store->ClaimPending("c", 0, 1000));
    store->Release(first, "a");
    // Given back, the attempt does not count against the run.
    const auto again = store->ClaimPending("c", 0, 1000);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->id, first);
    EXPECT_EQ(again->attempts, 1);
    EXPECT_EQ(store->CountPending(), 2);
}

// Returns a board of a ranking as "name score" lines, best first.
std::vector<std::string> Lines(const board::RankingSnapshot& ranking, int difficulty) {
    std::vector<std::string> out;
    for (const board::RankedRun& r : ranking.Page(difficulty, 0, 1000)) {
        out.push_back(r.name + " " + std::to_string(r.score));
    }
    return out;
}

// Returns the key of a name as typed.
std::string KeyOf(const std::string& name) {
    std::string latin1;
    EXPECT_TRUE(board::NameFromUtf8(name, latin1)) << name;
    return board::NameKey(latin1);
}

TEST_P(StorageSuite, TheRankingKeepsEachNamesBestShownRunThroughVerdictsAndModeration) {
    const std::string kTokenD(40, 'd');
    std::map<std::string, int64_t> ids;  // runs by label
    const auto verify = [&](const std::string& label, const NewRun& r, int64_t at) {
        return [&, label, r, at] { ids[label] = AddVerified(r, at); };
    };
    // Each step acts, then the Hard board and Cleo's page must read so; the
    // mirror follows by reading changes only, and must match one loaded whole.
    struct Step {
        const char* what;
        std::function<void()> act;
        std::vector<std::string> hard;
        std::vector<int64_t> cleoPage;  // scores on Cleo's page
    };
    const std::vector<Step> steps = {
        {"a first run", verify("cleo700", MakeRun("Cleo", kTokenA, 2, 700), 30), {"Cleo 700"},
         {700}},
        {"a better run of the name, spelt otherwise",
         verify("cleo900", MakeRun("cleo", kTokenA, 2, 900), 40), {"cleo 900"}, {900, 700}},
        {"a tie verified earlier ranks first", verify("bo", MakeRun("Bo", kTokenB, 2, 900), 20),
         {"Bo 900", "cleo 900"}, {900, 700}},
        {"a run below the name's best", verify("cleo800", MakeRun("Cleo", kTokenA, 2, 800), 45),
         {"Bo 900", "cleo 900"}, {900, 800, 700}},
        {"another board and a low score",
         [&] {
             AddVerified(MakeRun("Eve", std::string(40, 'e'), 1, 5000), 10);
             ids["dee"] = AddVerified(MakeRun("Dee", kTokenD, 2, 100), 10);
         },
         {"Bo 900", "cleo 900", "Dee 100"}, {900, 800, 700}},
        {"rejected and pending runs never rank",
         [&] {
             const int64_t id = store->Submit(MakeRun("Fay", std::string(40, 'f'), 2, 9999)).run.id;
             ASSERT_TRUE(store->ClaimPending("w", 50, 10));
             ASSERT_TRUE(store->Finish(id, "w", Verdict{false, 10, "score differs", {}, {}}, 50));
             store->Submit(MakeRun("Gus", std::string(40, 'g'), 2, 88888));
             ASSERT_TRUE(store->ClaimPending("elsewhere", 50, 1000000));  // stays pending
         },
         {"Bo 900", "cleo 900", "Dee 100"}, {900, 800, 700}},
        {"hiding a best falls back to the name's next run",
         [&] { ASSERT_TRUE(store->Hide(ids["cleo900"], "cheated", 60)); },
         {"Bo 900", "Cleo 800", "Dee 100"}, {800, 700}},
        {"hiding a name's only run takes the name off",
         [&] { ASSERT_TRUE(store->Hide(ids["bo"], "offensive name", 61)); },
         {"Cleo 800", "Dee 100"}, {800, 700}},
        {"hiding a hidden run again changes nothing",
         [&] { ASSERT_TRUE(store->Hide(ids["bo"], "still offensive", 62)); },
         {"Cleo 800", "Dee 100"}, {800, 700}},
        {"showing a best brings it back",
         [&] { ASSERT_TRUE(store->Show(ids["cleo900"], 63)); }, {"cleo 900", "Dee 100"},
         {900, 800, 700}},
        {"a freed name goes to the next token; its runs stay",
         [&] {
             ASSERT_TRUE(store->FreeName(KeyOf("BO"), 64));
             EXPECT_FALSE(store->FreeName(KeyOf("BO"), 65));  // free already
             ids["bo2"] = AddVerified(MakeRun("Bo", kTokenD, 2, 50), 66);
             EXPECT_EQ(store->Submit(MakeRun("Bo", kTokenB, 2, 1)).outcome,
                       SubmitOutcome::NameTaken);
         },
         {"cleo 900", "Dee 100", "Bo 50"}, {900, 800, 700}},
        {"a shown run counts again for its name",
         [&] { ASSERT_TRUE(store->Show(ids["bo"], 67)); }, {"Bo 900", "cleo 900", "Dee 100"},
         {900, 800, 700}},
        {"a crowd of names at once rebuilds the board",
         [&] {
             for (int i = 1; i <= 5; ++i) {
                 AddVerified(MakeRun("Crowd" + std::to_string(i),
                                     std::string(40, static_cast<char>('m' + i)), 2, 10 * i),
                             80);
                 // The medium board too: a first load rebuilds both, one after the other.
                 AddVerified(MakeRun("Crowd" + std::to_string(i),
                                     std::string(40, static_cast<char>('m' + i)), 1, 5 * i),
                             80);
             }
             ids["dee150"] = AddVerified(MakeRun("Dee", kTokenD, 2, 150), 81);
         },
         {"Bo 900", "cleo 900", "Dee 150", "Crowd5 50", "Crowd4 40", "Crowd3 30", "Crowd2 20",
          "Crowd1 10"},
         {900, 800, 700}},
    };
    // Boards in blocks of one or two entries, so that every step moves names
    // between blocks, splits and empties them, and the crowd (more changes
    // than four blocks hold) rebuilds the board whole, as a first load does.
    constexpr size_t kTinyBlocks = 1;
    board::Ranking mirror(*store, kTinyBlocks);
    for (const Step& step : steps) {
        step.act();
        mirror.Refresh();
        EXPECT_EQ(Lines(*mirror.Current(), 2), step.hard) << step.what;
        board::Ranking whole(*store, kTinyBlocks);
        whole.Refresh();
        EXPECT_EQ(Lines(*whole.Current(), 2), step.hard) << step.what;
        EXPECT_EQ(whole.Current()->Version(), mirror.Current()->Version()) << step.what;
        for (int d = 0; d < 2; ++d) {
            EXPECT_EQ(Lines(*whole.Current(), d), Lines(*mirror.Current(), d)) << step.what;
        }
        std::vector<int64_t> page;
        for (const auto& run : store->PlayerRuns(KeyOf("CLEO"), 10, 0)) page.push_back(*run.score);
        EXPECT_EQ(page, step.cleoPage) << step.what;
    }
    EXPECT_FALSE(store->Hide(9999, "no such run", 70));
    EXPECT_FALSE(store->Show(9999, 70));
    EXPECT_FALSE(store->FreeName(KeyOf("Nobody"), 70));

    // Ranks: a name's best has its place, its other runs and hidden ones none.
    const auto ranking = mirror.Current();
    const std::vector<std::pair<std::string, std::optional<int64_t>>> ranks = {
        {"bo", 1},       {"cleo900", 2},           {"dee150", 3},
        {"dee", std::nullopt}, {"cleo800", std::nullopt}, {"bo2", std::nullopt}};
    for (const auto& [label, rank] : ranks) {
        EXPECT_EQ(ranking->RankOf(*store->FindRun(ids[label])), rank) << label;
    }
    EXPECT_TRUE(store->HiddenRuns().empty());  // every run hidden above was shown again
    ASSERT_TRUE(store->Hide(ids["dee"], "test", 71));
    ASSERT_TRUE(store->Hide(ids["cleo800"], "offensive name", 72));
    const auto hidden = store->FindRun(ids["dee"]);
    EXPECT_EQ(hidden->hiddenReason, "test");
    EXPECT_EQ(hidden->hiddenAt, 71);
    EXPECT_EQ(ranking->RankOf(*hidden), std::nullopt);
    // The operator's list: the latest hidden first, with names, reasons and times.
    std::vector<std::string> listed;
    for (const board::Run& run : store->HiddenRuns()) {
        listed.push_back(run.name + " " + std::to_string(run.score.value_or(-1)) + " " +
                         run.hiddenReason + " " + std::to_string(run.hiddenAt.value_or(0)));
    }
    EXPECT_EQ(listed, (std::vector<std::string>{"Cleo 800 offensive name 72", "Dee 100 test 71"}));
    EXPECT_EQ(ranking->Size(1), 6);  // Eve and the crowd
    EXPECT_EQ(ranking->Size(0), 0);

    // Pages are slices of the board.
    struct Slice {
        int64_t offset;
        int limit;
        size_t size;
        const char* first;
    };
    for (const Slice& c : std::vector<Slice>{{0, 2, 2, "Bo"},
                                             {1, 1, 1, "cleo"},
                                             {2, 10, 6, "Dee"},
                                             {3, 3, 3, "Crowd5"},
                                             {7, 10, 1, "Crowd1"},
                                             {8, 10, 0, ""},
                                             {1000000, 10, 0, ""}}) {
        const auto page = ranking->Page(2, c.offset, c.limit);
        ASSERT_EQ(page.size(), c.size) << c.offset;
        if (c.size) {
            EXPECT_EQ(page.front().name, c.first) << c.offset;
        }
    }

    // Reads asked at once (answered together, one statement for many, where
    // the database is a round trip away) give what each read alone gives.
    const auto runLine = [](const std::optional<board::Run>& run) {
        return run ? run->name + " " + std::to_string(run->score.value_or(-1)) : "none";
    };
    const auto pageLine = [](const std::vector<board::Run>& runs) {
        std::string text;
        for (const board::Run& run : runs) {
            text += std::to_string(run.id) + "/" + std::to_string(*run.score) + " ";
        }
        return text;
    };
    const auto runText = [&](int64_t id) { return runLine(store->FindRun(id)); };
    const auto pageText = [&](const std::string& name, int limit, int64_t offset) {
        return pageLine(store->PlayerRuns(KeyOf(name), limit, offset));
    };
    const std::vector<std::tuple<std::string, int, int64_t>> pages = {
        {"CLEO", 10, 0}, {"Cleo", 1, 1}, {"Bo", 10, 0}, {"Crowd3", 10, 0}, {"Nobody", 10, 0},
        {"Bo", 2, 5}};
    std::vector<std::string> alone;
    for (const auto& [label, id] : ids) alone.push_back(runText(id));
    alone.push_back(runText(9999));
    for (const auto& [name, limit, offset] : pages) alone.push_back(pageText(name, limit, offset));
    ASSERT_NE(alone[alone.size() - pages.size()], "") << "Cleo's page holds her shown runs";
    constexpr int kReaders = 12;
    std::vector<std::vector<std::string>> together(kReaders);
    std::vector<std::thread> readers;
    for (int t = 0; t < kReaders; ++t) {
        readers.emplace_back([&, t] {
            // Twelve readers asking at once: batches mix runs and pages of all sizes.
            std::vector<std::string>& mine = together[static_cast<size_t>(t)];
            mine = alone;
            for (int round = 0; round < 20; ++round) {
                std::vector<std::string> got;
                for (const auto& [label, id] : ids) got.push_back(runText(id));
                got.push_back(runText(9999));
                for (const auto& [name, limit, offset] : pages) {
                    got.push_back(pageText(name, limit, offset));
                }
                if (got != alone) {  // the first wrong answer is kept
                    mine = got;
                    break;
                }
            }
        });
    }
    for (auto& t : readers) t.join();
    for (int t = 0; t < kReaders; ++t) EXPECT_EQ(together[static_cast<size_t>(t)], alone) << t;

    // A thread's own channel (PostgreSQL's) gives the same answers to the same
    // reads queued all at once, more than one statement holds.
    if (const std::unique_ptr<board::ReadChannel> channel = store->OpenReadChannel()) {
        constexpr size_t kCopies = 4;
        std::vector<std::string> queued(alone.size() * kCopies, "unanswered");
        size_t answered = 0;
        for (size_t copy = 0; copy < kCopies; ++copy) {
            size_t at = copy * alone.size();
            std::vector<int64_t> runIds;
            for (const auto& [label, id] : ids) runIds.push_back(id);
            runIds.push_back(9999);
            for (const int64_t id : runIds) {
                channel->FindRun(id, [&, at](bool ok, std::optional<board::Run> run) {
                    queued[at] = ok ? runLine(run) : "failed";
                    ++answered;
                });
                ++at;
            }
            for (const auto& [name, limit, offset] : pages) {
                channel->PlayerRuns(KeyOf(name), limit, offset,
                                    [&, at](bool ok, std::vector<board::Run> runs) {
                                        queued[at] = ok ? pageLine(runs) : "failed";
                                        ++answered;
                                    });
                ++at;
            }
        }
        ASSERT_TRUE(Drive(*channel, [&] { return answered == queued.size(); })) << answered;
        for (size_t i = 0; i < queued.size(); ++i)
            EXPECT_EQ(queued[i], alone[i % alone.size()]) << i;
        EXPECT_FALSE(channel->Broken());
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, StorageSuite, ::testing::ValuesIn(Backends()),
                         [](const auto& info) { return info.param.name; });

// SQLite: the database file outlives the server, one server holds it at a
// time (an operator's command beside it takes no lock), and a starting server
// releases the claims its killed predecessor held.
TEST(SqliteStorage, ReopensWithItsRunsAndKeyAndReleasesClaimsOfTheLastServer) {
    zqtest::TempDir dir;
    const std::string path = dir / "board.sqlite";
    std::string key;
    int64_t id = 0;
    {
        auto store = board::OpenSqliteStorage(path);
        key = store->ServerKey();
        id = store->Submit(MakeRun("Ann", kTokenA, 0, 300)).run.id;
        ASSERT_TRUE(store->ClaimPending("gone", 0, 1000000));
        EXPECT_THROW(board::OpenSqliteStorage(path), board::StorageError);
        // An operator's command opens beside the server and leaves its claims alone.
        auto tool = board::OpenSqliteStorage(path, board::StorageUse::Tool);
        ASSERT_TRUE(tool->FindRun(id));
        EXPECT_FALSE(tool->ClaimPending("other", 1, 1000));
        EXPECT_THROW(board::OpenSqliteStorage(path), board::StorageError);
    }
    // A command never makes a board where there was none.
    EXPECT_THROW(
        board::OpenStorage("sqlite:" + (dir / "typo.sqlite"), dir.path(), board::StorageUse::Tool),
        board::StorageError);
    EXPECT_FALSE(std::filesystem::exists(dir / "typo.sqlite"));
    auto store = board::OpenSqliteStorage(path);
    EXPECT_EQ(store->ServerKey(), key);
    const auto claim = store->ClaimPending("new", 1, 1000);
    ASSERT_TRUE(claim);
    EXPECT_EQ(claim->id, id);
    EXPECT_EQ(claim->attempts, 1);
    EXPECT_TRUE(store->Healthy());
}

TEST(SqliteStorage, IndexesTheGamesOfRunsAnOlderServerStored) {
    zqtest::TempDir dir;
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir / "old.sqlite").c_str(), &db), SQLITE_OK);
    FillVersionOne(
        board::SqlDialect::Sqlite,
        [db](const std::string& sql) {
            EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
                << sql << ": " << sqlite3_errmsg(db);
        },
        kTokenA);
    sqlite3_close(db);
    auto store = board::OpenSqliteStorage(dir / "old.sqlite");
    // An idle worker re-simulates the old run once the runs pending have their verdicts.
    const auto byWorker = [&](int64_t) {
        board::Metrics metrics;
        board::Workers workers(*store, metrics, zqtest::BoardExecutable(), "t", 1,
                               [] { return int64_t{1000}; });
        workers.Start();
        EXPECT_TRUE(zqtest::WaitFor([&] { return !store->UnscoredRun(0).has_value(); }, 60000));
        workers.Stop();
    };
    ExpectTheOldRunsGameKnown(*store, kTokenA, kTokenB, byWorker);
}

TEST(SqliteStorage, RefusesDatabasesItCannotUse) {
    zqtest::TempDir dir;
    // A newer schema than this server knows is left alone.
    board::OpenSqliteStorage(dir / "newer.sqlite").reset();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir / "newer.sqlite").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(db, "INSERT INTO schema_version VALUES (999)", nullptr, nullptr, nullptr),
        SQLITE_OK);
    sqlite3_close(db);
    EXPECT_THROW(board::OpenSqliteStorage(dir / "newer.sqlite"), board::StorageError);
    ASSERT_TRUE(zqtest::WriteWholeFile(dir / "junk.sqlite", std::string(4096, 'x')));
    EXPECT_THROW(board::OpenSqliteStorage(dir / "junk.sqlite"), board::StorageError);
    EXPECT_THROW(board::OpenSqliteStorage(dir / "missing/folder/b.sqlite"), board::StorageError);
    EXPECT_THROW(board::OpenStorage("mysql://x", dir.path()), board::StorageError);
    EXPECT_NO_THROW(board::OpenStorage("", dir.path()));
}

// PostgreSQL: several servers (here, several Storage objects) share one database.
class PostgresStorage : public ::testing::Test {
  protected:
    void SetUp() override {
        ZQ_REQUIRE_POSTGRES(cluster);
        url = cluster.CreateDatabase();
        ASSERT_FALSE(url.empty()) << cluster.Error();
    }

    // Runs one statement as the cluster's superuser; returns its first value.
    std::string Admin(const std::string& sql) {
        std::string value;
        std::string error;
        EXPECT_TRUE(zqtest::QueryPostgres(url, sql, value, error)) << sql << ": " << error;
        return value;
    }

    zqtest::PostgresCluster& cluster = zqtest::SharedPostgres();
    std::string url;
};

TEST_F(PostgresStorage, ServersStartingTogetherMigrateOnceAndAgreeOnTheKey) {
    constexpr int kServers = 4;
    std::vector<std::unique_ptr<Storage>> stores(kServers);
    std::vector<std::string> keys(kServers);
    std::vector<std::string> errors(kServers);
    std::vector<std::thread> threads;
    for (int i = 0; i < kServers; ++i) {
        threads.emplace_back([&, i] {
            try {
                stores[i] = board::OpenStorage(url, "");
                keys[i] = stores[i]->ServerKey();
            } catch (const board::StorageError& e) {
                errors[i] = e.what();
            }
        });
    }
    for (auto& t : threads) t.join();
    for (int i = 0; i < kServers; ++i) {
        EXPECT_EQ(errors[i], "") << i;
        EXPECT_EQ(keys[i], keys[0]) << i;
    }
    EXPECT_EQ(keys[0].size(), 64u);
    // Each version applied once.
    const std::string n = std::to_string(board::Migrations().size());
    EXPECT_EQ(Admin("SELECT COUNT(*) || ' ' || COUNT(DISTINCT version) FROM schema_version"),
              n + " " + n);

    // A database migrated by a newer server is left alone.
    stores.clear();
    Admin("INSERT INTO schema_version VALUES (999)");
    EXPECT_THROW(board::OpenPostgresStorage(url), board::StorageError);
}

TEST_F(PostgresStorage, TwoServersShareSubmissionsNamesAndWorkExactlyOnce) {
    auto a = board::OpenPostgresStorage(url);
    auto b = board::OpenPostgresStorage(url);
    Storage* servers[] = {a.get(), b.get()};
    constexpr int kRuns = 40;

    // Both servers receive the same runs at once, each of ten new names
    // from its own token, and ten games each under its own name and token:
    // one run per replay, one owner per name, one run per game.
    std::vector<board::SubmitResult> same[2];
    std::vector<board::SubmitResult> rival[2];
    std::vector<board::SubmitResult> copied[2];
    std::vector<std::thread> senders;
    for (int s = 0; s < 2; ++s) {
        senders.emplace_back([&, s] {
            try {
                for (int i = 0; i < kRuns; ++i) {
                    same[s].push_back(
                        servers[s]->Submit(MakeRun("Pat" + std::to_string(i % 5), kTokenA, 1, i)));
                    if (i % 4 == 0) {
                        rival[s].push_back(servers[s]->Submit(
                            MakeRun("Rex" + std::to_string(i), s ? kTokenB : kTokenA, 0, 1, s)));
                        NewRun game =
                            MakeRun("Cop" + std::to_string(s), s ? kTokenB : kTokenA, 2, i, s);
                        game.checks = MakeRun("Game", kTokenA, 2, i).checks;
                        copied[s].push_back(servers[s]->Submit(game));
                    }
                }
            } catch (const board::StorageError& e) {
                ADD_FAILURE() << "server " << s << ": " << e.what();
            }
        });
    }
    for (auto& t : senders) t.join();
    ASSERT_EQ(same[0].size(), same[1].size());
    std::vector<int64_t> ids;
    for (int i = 0; i < kRuns; ++i) {
        EXPECT_EQ(same[0][i].run.id, same[1][i].run.id) << i;
        EXPECT_NE(same[0][i].outcome == SubmitOutcome::Created,
                  same[1][i].outcome == SubmitOutcome::Created)
            << i;
        ids.push_back(same[0][i].run.id);
    }
    for (size_t i = 0; i < rival[0].size(); ++i) {
        const int created = (rival[0][i].outcome == SubmitOutcome::Created) +
                            (rival[1][i].outcome == SubmitOutcome::Created);
        const int taken = (rival[0][i].outcome == SubmitOutcome::NameTaken) +
                          (rival[1][i].outcome == SubmitOutcome::NameTaken);
        EXPECT_EQ(created, 1) << i;
        EXPECT_EQ(taken, 1) << i;
        for (const auto& r : {rival[0][i], rival[1][i]}) {
            if (r.outcome == SubmitOutcome::Created) ids.push_back(r.run.id);
        }
    }
    for (size_t i = 0; i < copied[0].size(); ++i) {
        const auto count = [&](SubmitOutcome o) {
            return (copied[0][i].outcome == o) + (copied[1][i].outcome == o);
        };
        EXPECT_EQ(count(SubmitOutcome::Created), 1) << i;
        EXPECT_EQ(count(SubmitOutcome::Copy), 1) << i;
        EXPECT_EQ(copied[0][i].run.id, copied[1][i].run.id) << i;
        ids.push_back(copied[0][i].run.id);
    }
    EXPECT_EQ(a->CountPending(), static_cast<int64_t>(ids.size()));

    // Ten workers on each server (more than a server's connections, so some
    // wait for one) claim and finish until nothing is left: every run is
    // finished once, by the worker that claimed it.
    std::mutex mutex;
    std::map<int64_t, int> finished;
    std::vector<std::string> faults;
    std::vector<std::thread> workers;
    for (int w = 0; w < 20; ++w) {
        workers.emplace_back([&, w] {
            Storage& store = *servers[w % 2];
            const std::string holder = "server-" + std::to_string(w % 2) + "/" + std::to_string(w);
            try {
                for (size_t n = 0; n <= ids.size(); ++n) {
                    const auto claim = store.ClaimPending(holder, 1000, 60000);
                    if (!claim) return;
                    const bool done =
                        store.Finish(claim->id, holder, Verdict{true, 0, "", {}, {}}, 2000 + w);
                    std::lock_guard lock(mutex);
                    if (!done || claim->attempts != 1 || claim->replayBytes.empty()) {
                        faults.push_back(holder + " on run " + std::to_string(claim->id));
                    }
                    ++finished[claim->id];
                }
            } catch (const board::StorageError& e) {
                std::lock_guard lock(mutex);
                faults.push_back(holder + ": " + e.what());
            }
        });
    }
    for (auto& t : workers) t.join();
    EXPECT_TRUE(faults.empty()) << faults.front();
    EXPECT_EQ(finished.size(), ids.size());
    for (int64_t id : ids) EXPECT_EQ(finished[id], 1) << id;
    EXPECT_EQ(b->CountPending(), 0);
    EXPECT_EQ(b->FindRun(ids.front())->state, RunState::Verified);
}

TEST_F(PostgresStorage, AClaimOfAServerThatStoppedIsTakenOverWhenItsLeaseEndsByTheDatabasesClock) {
    auto a = board::OpenPostgresStorage(url);
    auto b = board::OpenPostgresStorage(url);
    const int64_t id = a->Submit(MakeRun("Ann", kTokenA, 0, 300)).run.id;

    // The servers' clocks (the `now` each gives) are a minute apart; leases
    // run by the database's clock, so neither cuts the other's short.
    constexpr int64_t kMinute = 60 * 1000;
    ASSERT_TRUE(a->ClaimPending("a/1", 0, kLeaseMs));
    EXPECT_FALSE(b->ClaimPending("b/1", kMinute, kLeaseMs));
    EXPECT_TRUE(a->Renew(id, "a/1", -kMinute, kLeaseMs));
    EXPECT_FALSE(b->ClaimPending("b/1", kMinute, kLeaseMs));
    std::this_thread::sleep_for(std::chrono::milliseconds(kLeaseMs + 50));
    // A clock a minute behind still sees the lease ended.
    const auto taken = b->ClaimPending("b/1", -kMinute, kLeaseMs);
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->id, id);
    EXPECT_EQ(taken->attempts, 2);
    // The first server wakes up late: its verdict is refused, the new holder's kept.
    EXPECT_FALSE(a->Finish(id, "a/1", Verdict{false, 1, "score differs", {}, {}}, 150));
    a->Release(id, "a/1");
    EXPECT_FALSE(a->ClaimPending("a/1", 150, 100));
    EXPECT_TRUE(b->Finish(id, "b/1", Verdict{true, 300, "", {}, {}}, 160));
    EXPECT_EQ(a->FindRun(id)->state, RunState::Verified);
    EXPECT_EQ(a->FindRun(id)->score, 300);
}

TEST_F(PostgresStorage, AnotherServerSeesRankingChangesThroughItsVersion) {
    auto a = board::OpenPostgresStorage(url);
    auto b = board::OpenPostgresStorage(url);
    board::Ranking seenByB(*b);
    seenByB.Refresh();
    const int64_t before = seenByB.Current()->Version();

    // Both servers store verdicts of one name at once: the best is the highest.
    constexpr int kRuns = 12;
    std::vector<int64_t> ids;
    for (int i = 0; i < kRuns; ++i) ids.push_back(a->Submit(MakeRun("Ann", kTokenA, 2, i)).run.id);
    std::vector<std::thread> servers;
    for (Storage* s : {a.get(), b.get()}) {
        servers.emplace_back([s, &ids, &a] {
            const std::string holder = s == a.get() ? "server-a" : "server-b";
            while (auto claim = s->ClaimPending(holder, 0, 60000)) {
                const int64_t score = claim->id - ids.front();
                EXPECT_TRUE(s->Finish(claim->id, holder, Verdict{true, score, "", {}, {}}, claim->id));
            }
        });
    }
    for (auto& t : servers) t.join();
    seenByB.Refresh();
    EXPECT_EQ(Lines(*seenByB.Current(), 2), std::vector<std::string>{"Ann 11"});
    const int64_t afterVerdicts = seenByB.Current()->Version();
    EXPECT_GT(afterVerdicts, before);

    // An operator's action on one server reaches the other's boards.
    ASSERT_TRUE(a->Hide(ids.back(), "test", 100));
    seenByB.Refresh();
    EXPECT_EQ(Lines(*seenByB.Current(), 2), std::vector<std::string>{"Ann 10"});
    EXPECT_GT(seenByB.Current()->Version(), afterVerdicts);
    ASSERT_TRUE(a->FreeName(KeyOf("Ann"), 101));
    EXPECT_EQ(Admin("SELECT string_agg(action || ' ' || COALESCE(run_id::text, name_key) || ' ' || "
                    "reason, ', ' ORDER BY id) FROM actions"),
              "hide " + std::to_string(ids.back()) + " test, free-name ann ");
}

TEST_F(PostgresStorage, IndexesTheGamesOfRunsAnOlderServerStored) {
    FillVersionOne(
        board::SqlDialect::Postgres, [this](const std::string& sql) { Admin(sql); }, kTokenA);
    auto store = board::OpenPostgresStorage(url);
    // The checked-in easy run first scores at its twelfth check value.
    ExpectTheOldRunsGameKnown(*store, kTokenA, kTokenB,
                              [&](int64_t id) { store->KeepScoring(id, 11); });
}

// A thread's own channel reads answers larger than one read of its socket
// (32 players' pages of 100 runs in one statement) without waiting on bytes
// that have arrived already.
TEST_F(PostgresStorage, AThreadsChannelReadsAnswersOfManyReadsOfItsSocket) {
    auto store = board::OpenPostgresStorage(url);
    constexpr int kPlayers = 32;
    constexpr int kRuns = 100;
    Admin("INSERT INTO names SELECT 'big' || n, 'x' FROM generate_series(0, " +
          std::to_string(kPlayers - 1) + ") n");
    Admin("INSERT INTO replays SELECT 'r' || n, '\\x00'::bytea FROM generate_series(1, " +
          std::to_string(kPlayers * kRuns) + ") n");
    Admin(
        "INSERT INTO runs (replay_hash, name, name_key, difficulty, claimed_score, score, "
        "frames, run_timestamp, state, received_at, verified_at) SELECT 'r' || n, "
        "'A long player name ' || (n % " +
        std::to_string(kPlayers) + "), 'big' || (n % " + std::to_string(kPlayers) +
        "), 2, n, n, 600, 12345, 'verified', 1000, 2000 "
        "FROM generate_series(1, " +
        std::to_string(kPlayers * kRuns) + ") n");
    const std::unique_ptr<board::ReadChannel> channel = store->OpenReadChannel();
    ASSERT_TRUE(channel);
    std::vector<std::vector<board::Run>> pages(kPlayers);
    int answered = 0;
    for (int p = 0; p < kPlayers; ++p) {
        channel->PlayerRuns("big" + std::to_string(p), kRuns, 0,
                            [&, p](bool ok, std::vector<board::Run> runs) {
                                EXPECT_TRUE(ok);
                                pages[static_cast<size_t>(p)] = std::move(runs);
                                ++answered;
                            });
    }
    ASSERT_TRUE(Drive(*channel, [&] { return answered == kPlayers; })) << answered;
    for (int p = 0; p < kPlayers; ++p) {
        const auto alone = store->PlayerRuns("big" + std::to_string(p), kRuns, 0);
        ASSERT_EQ(alone.size(), static_cast<size_t>(kRuns));
        ASSERT_EQ(pages[static_cast<size_t>(p)].size(), alone.size()) << p;
        for (size_t i = 0; i < alone.size(); ++i) {
            EXPECT_EQ(pages[static_cast<size_t>(p)][i].id, alone[i].id) << p;
        }
    }
}

TEST_F(PostgresStorage, LostConnectionsAreReplacedAndADatabaseThatIsGoneIsAStorageError) {
    auto store = board::OpenPostgresStorage(url);
    const int64_t id = store->Submit(MakeRun("Ann", kTokenA, 0, 300)).run.id;
    const std::unique_ptr<board::ReadChannel> channel = store->OpenReadChannel();
    ASSERT_TRUE(channel);

    // The database ends every connection (a restart or an operator would).
    Admin(
        "SELECT COUNT(pg_terminate_backend(pid)) FROM pg_stat_activity "
        "WHERE application_name = 'zarquill-board'");
    EXPECT_EQ(store->CountPending(), 1);
    // A thread's own channel fails its reads and breaks; the thread reads
    // through the storage meanwhile (as the HTTP layer does).
    std::vector<std::string> reads;
    const auto note = [&reads](bool ok, std::optional<board::Run> run) {
        reads.push_back(!ok ? "failed" : run ? run->name : "none");
    };
    channel->FindRun(id, note);
    EXPECT_TRUE(Drive(*channel, [&] { return !reads.empty(); }));
    EXPECT_TRUE(channel->Broken());
    channel->FindRun(id, note);  // answered at once
    EXPECT_EQ(reads, (std::vector<std::string>{"failed", "failed"}));
    EXPECT_EQ(store->FindRun(id)->name, "Ann");

    cluster.Stop();
    EXPECT_THROW(store->CountPending(), board::StorageError);
    EXPECT_THROW(store->Submit(MakeRun("Bo", kTokenB, 0, 1)), board::StorageError);
    EXPECT_FALSE(store->Healthy());
    EXPECT_THROW(board::OpenPostgresStorage(url), board::StorageError);
    ASSERT_TRUE(cluster.Start()) << cluster.Error();
    EXPECT_TRUE(store->Healthy());
    EXPECT_EQ(store->FindRun(id)->name, "Ann");

    // A wrong password and an unknown host scheme are refused with a reason.
    std::string wrong = url;
    wrong.replace(wrong.find(':', 13) + 1, 4, "nope");
    EXPECT_THROW(board::OpenStorage(wrong, ""), board::StorageError);
}

}  // namespace

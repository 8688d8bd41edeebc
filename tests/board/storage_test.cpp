// The storage interface, written once and run against every backend: atomic
// submissions with name ownership, claims with leases (a run is finished
// exactly once), and the ranking of boards. Cases of one backend follow:
// SQLite's single server, and PostgreSQL's several servers on one database.
#include "board/storage.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "board/names.h"
#include "board/schema.h"
#include "tests/support/postgres_cluster.h"
#include "tests/support/temp_dir.h"

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

// Returns a run whose replay bytes are unique to (name, seed).
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
    return r;
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
        EXPECT_TRUE(store->Finish(sub.run.id, "w", Verdict{true, r.claimedScore, "", {}}, at));
        return sub.run.id;
    }

    zqtest::TempDir dir;
    std::unique_ptr<Storage> store;
};

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

TEST_P(StorageSuite, ARunIsFinishedOnceByTheHolderOfItsClaim) {
    const int64_t id = store->Submit(MakeRun("Ann", kTokenA, 0, 300)).run.id;

    const auto a = store->ClaimPending("server-a/1", 0, 100);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->id, id);
    EXPECT_EQ(a->attempts, 1);
    EXPECT_EQ(a->replayBytes, MakeRun("Ann", kTokenA, 0, 300).replayBytes);
    // Held and not expired: nobody else gets it.
    EXPECT_FALSE(store->ClaimPending("server-b/1", 50, 100));
    // The lease ran out: another server takes it over, and the first may no longer finish it.
    const auto b = store->ClaimPending("server-b/1", 200, 100);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->attempts, 2);
    EXPECT_FALSE(store->Finish(id, "server-a/1", Verdict{true, 300, "", {}}, 210));
    EXPECT_TRUE(store->Finish(id, "server-b/1", Verdict{false, 250, "desync at step 60", 60}, 220));
    EXPECT_FALSE(store->Finish(id, "server-b/1", Verdict{true, 300, "", {}}, 230));
    EXPECT_FALSE(store->ClaimPending("server-c/1", 10000, 100));

    const auto run = store->FindRun(id);
    ASSERT_TRUE(run);
    EXPECT_EQ(run->state, RunState::Rejected);
    EXPECT_EQ(run->score, 250);
    EXPECT_EQ(run->reason, "desync at step 60");
    EXPECT_EQ(run->firstBadStep, 60);
    EXPECT_EQ(run->verifiedAt, 220);
    EXPECT_EQ(store->CountPending(), 0);
}

TEST_P(StorageSuite, OnlyTheHolderRenewsAClaimWhichThenOutlivesItsFirstLease) {
    const int64_t id = store->Submit(MakeRun("Ann", kTokenA, 0, 300)).run.id;
    ASSERT_TRUE(store->ClaimPending("a/1", 0, 100));
    EXPECT_FALSE(store->Renew(id, "b/1", 90, 100));
    EXPECT_FALSE(store->Renew(id + 1, "a/1", 90, 100));
    EXPECT_TRUE(store->Renew(id, "a/1", 90, 100));
    // Held until 190 now, not 100.
    EXPECT_FALSE(store->ClaimPending("b/1", 150, 100));
    const auto b = store->ClaimPending("b/1", 191, 100);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->attempts, 2);
    // A renewal after the claim was taken over says so, and takes nothing back.
    EXPECT_FALSE(store->Renew(id, "a/1", 195, 100));
    EXPECT_FALSE(store->ClaimPending("a/2", 250, 100));
    EXPECT_TRUE(store->Finish(id, "b/1", Verdict{true, 300, "", {}}, 260));
    EXPECT_FALSE(store->Renew(id, "b/1", 270, 100));
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
                if (store->Finish(run->id, holder, Verdict{true, 100, "", {}}, 1)) ++finished;
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

TEST_P(StorageSuite, BoardsRankEachNamesBestVerifiedRunWithTiesToTheEarlierVerification) {
    // Verification times are given; ranks follow score, then verification.
    AddVerified(MakeRun("Cleo", kTokenA, 2, 700), 30);
    AddVerified(MakeRun("cleo", kTokenA, 2, 900), 40);  // Cleo's best, same name
    AddVerified(MakeRun("Bo", kTokenB, 2, 900), 20);    // ties Cleo's best, verified earlier
    AddVerified(MakeRun("Dee", std::string(40, 'd'), 2, 100), 10);
    AddVerified(MakeRun("Eve", std::string(40, 'e'), 1, 5000), 10);  // another board
    // A rejected and a pending run never rank.
    const int64_t rejected = store->Submit(MakeRun("Fay", std::string(40, 'f'), 2, 99999)).run.id;
    ASSERT_TRUE(store->ClaimPending("w", 50, 10));
    ASSERT_TRUE(store->Finish(rejected, "w", Verdict{false, 10, "score differs", {}}, 50));
    store->Submit(MakeRun("Gus", std::string(40, 'g'), 2, 88888));

    struct Case {
        int limit;
        int64_t offset;
        std::vector<std::pair<std::string, int64_t>> expected;  // name and score, in rank order
    };
    const std::vector<Case> cases = {
        {10, 0, {{"Bo", 900}, {"cleo", 900}, {"Dee", 100}}},
        {1, 1, {{"cleo", 900}}},
        {10, 2, {{"Dee", 100}}},
        {10, 3, {}},
    };
    for (const Case& c : cases) {
        const auto board = store->Board(2, c.limit, c.offset);
        ASSERT_EQ(board.size(), c.expected.size()) << c.offset;
        for (size_t i = 0; i < board.size(); ++i) {
            EXPECT_EQ(board[i].rank, c.offset + static_cast<int64_t>(i) + 1);
            EXPECT_EQ(board[i].run.name, c.expected[i].first);
            EXPECT_EQ(board[i].run.score, c.expected[i].second);
        }
    }
    ASSERT_EQ(store->Board(1, 10, 0).size(), 1u);
    EXPECT_TRUE(store->Board(0, 10, 0).empty());

    // A player's page lists every verified run of the name, best first.
    std::string latin1;
    ASSERT_TRUE(board::NameFromUtf8("CLEO", latin1));
    const auto runs = store->PlayerRuns(board::NameKey(latin1), 10, 0);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].score, 900);
    EXPECT_EQ(runs[1].score, 700);
    EXPECT_EQ(store->PlayerRuns(board::NameKey(latin1), 1, 1).size(), 1u);
    EXPECT_TRUE(store->PlayerRuns("fay", 10, 0).empty());
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

    // Both servers receive the same runs at once, and each of ten new names
    // from its own token: one run per replay, one owner per name.
    std::vector<board::SubmitResult> same[2];
    std::vector<board::SubmitResult> rival[2];
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
                        store.Finish(claim->id, holder, Verdict{true, 0, "", {}}, 2000 + w);
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

TEST_F(PostgresStorage, AClaimOfAServerThatStoppedIsTakenOverWhenItsLeaseEnds) {
    auto a = board::OpenPostgresStorage(url);
    auto b = board::OpenPostgresStorage(url);
    const int64_t id = a->Submit(MakeRun("Ann", kTokenA, 0, 300)).run.id;

    ASSERT_TRUE(a->ClaimPending("a/1", 0, 100));
    EXPECT_FALSE(b->ClaimPending("b/1", 99, 100));
    const auto taken = b->ClaimPending("b/1", 101, 100);
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->id, id);
    EXPECT_EQ(taken->attempts, 2);
    // The first server wakes up late: its verdict is refused, the new holder's kept.
    EXPECT_FALSE(a->Finish(id, "a/1", Verdict{false, 1, "score differs", {}}, 150));
    a->Release(id, "a/1");
    EXPECT_FALSE(a->ClaimPending("a/1", 150, 100));
    EXPECT_TRUE(b->Finish(id, "b/1", Verdict{true, 300, "", {}}, 160));
    EXPECT_EQ(a->FindRun(id)->state, RunState::Verified);
    EXPECT_EQ(a->FindRun(id)->score, 300);
}

TEST_F(PostgresStorage, LostConnectionsAreReplacedAndADatabaseThatIsGoneIsAStorageError) {
    auto store = board::OpenPostgresStorage(url);
    const int64_t id = store->Submit(MakeRun("Ann", kTokenA, 0, 300)).run.id;

    // The database ends every connection (a restart or an operator would).
    Admin(
        "SELECT COUNT(pg_terminate_backend(pid)) FROM pg_stat_activity "
        "WHERE application_name = 'zarquill-board'");
    EXPECT_EQ(store->CountPending(), 1);

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

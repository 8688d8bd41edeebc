// The storage interface, written once and run against every backend: atomic
// submissions with name ownership, claims with leases (a run is finished
// exactly once), and the ranking of boards. SQLite-only cases follow.
#include "board/storage.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "board/names.h"
#include "tests/support/temp_dir.h"

namespace {

using board::NewRun;
using board::RunState;
using board::Storage;
using board::SubmitOutcome;
using board::Verdict;

// A backend under test: opens a fresh, empty storage in a temporary folder.
struct Backend {
    std::string name;
    std::function<std::unique_ptr<Storage>(const std::string& dir)> open;
};

std::vector<Backend> Backends() {
    return {
        {"Sqlite",
         [](const std::string& dir) { return board::OpenSqliteStorage(dir + "/b.sqlite"); }},
    };
}

// Returns a run whose replay bytes are unique to (name, seed).
NewRun MakeRun(const std::string& name, const std::string& token, int difficulty, int64_t score,
               int seed = 0) {
    NewRun r;
    r.replayBytes = "replay of " + name + " " + std::to_string(score) + " " + std::to_string(seed);
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
    void SetUp() override { store = GetParam().open(dir.path()); }

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
// time, and a starting server releases the claims its killed predecessor held.
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
    }
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

}  // namespace

// Two real servers on one PostgreSQL database, as behind a load balancer: a
// run sent to one is served by both, and a server killed with SIGKILL in the
// middle of a verification leaves its run to the other, which verifies it
// once the claim it no longer renews has expired. Each run is judged exactly once.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "tests/board/board_fixture.h"
#include "tests/support/postgres_cluster.h"

namespace zqtest {
namespace {

// Returns how often a log says a run was judged.
int Verdicts(const std::string& log, long long id) {
    int count = 0;
    for (const char* verdict : {" verified: ", " rejected: "}) {
        const std::string line = "run " + std::to_string(id) + verdict;
        for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) {
            ++count;
        }
    }
    return count;
}

TEST(SharedDatabase, AKilledServersRunIsVerifiedOnceByTheOther) {
    PostgresCluster& cluster = SharedPostgres();
    ZQ_REQUIRE_POSTGRES(cluster);
    const std::string url = cluster.CreateDatabase();
    ASSERT_FALSE(url.empty()) << cluster.Error();
    // Runs one statement on the shared database; returns its first value.
    auto query = [&url](const std::string& sql) {
        std::string value;
        std::string error;
        EXPECT_TRUE(QueryPostgres(url, sql, value, error)) << sql << ": " << error;
        return value;
    };

    TempDir dir;
    ASSERT_EQ(::mkdir((dir / "a").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((dir / "b").c_str(), 0700), 0);
    BoardServer a(dir / "a/data");
    BoardServer b(dir / "b/data");
    a.UseDatabase(url);
    b.UseDatabase(url);
    // Both start at once on the empty database: one migrates, the other waits for it.
    bool bUp = false;
    std::thread startB([&] { bUp = b.Start(); });
    const bool aUp = a.Start();
    startB.join();
    ASSERT_TRUE(aUp) << a.Log();
    ASSERT_TRUE(bUp) << b.Log();

    // B is frozen, so A's worker takes the run; A is frozen as soon as the
    // database shows its claim, before it can store a verdict, then killed.
    ASSERT_EQ(::kill(b.Pid(), SIGSTOP), 0);
    long long id = 0;
    for (int tries = 0; tries < 5 && id == 0; ++tries) {
        // A name and a game of its own each time, so that the board shows the run under test.
        const std::string bytes = CraftReplay("hard", [tries](game::Replay& r) {
            r.header.name = "Killed" + std::to_string(tries);
            PlayOtherwise(r, tries + 1);
        });
        const auto sent = JsonOf(a.Submit(bytes, TokenOf('p')));
        ASSERT_TRUE(sent.is_object() && sent.contains("id")) << sent.dump();
        const long long candidate = sent["id"].get<long long>();
        const std::string where = " FROM runs WHERE id = " + std::to_string(candidate);
        // Claimed, or already judged (a quick verification may end between two looks).
        ASSERT_TRUE(WaitFor(
            [&] {
                return query("SELECT claimed_by IS NOT NULL OR state <> 'pending'" + where) == "t";
            },
            30000))
            << "server A never claimed the run\n"
            << a.Log();
        ASSERT_EQ(::kill(a.Pid(), SIGSTOP), 0);
        // A verdict that was on its way when A stopped has landed by now.
        if (query("SELECT claimed_by IS NOT NULL AND state = 'pending'" + where) == "t") {
            id = candidate;
        } else {
            ASSERT_EQ(::kill(a.Pid(), SIGCONT), 0);  // too quick this time: once more
        }
    }
    ASSERT_NE(id, 0) << "server A always finished before it could be stopped\n" << a.Log();
    a.Kill();

    // B takes the run over once A's short lease runs out (A no longer renews it).
    ASSERT_EQ(::kill(b.Pid(), SIGCONT), 0);
    const auto verdict = JsonOf(b.WaitForVerdict(id, 120000));
    ASSERT_TRUE(verdict.is_object()) << b.Log();
    EXPECT_EQ(verdict["state"], "verified") << verdict.dump();
    EXPECT_EQ(query("SELECT attempts FROM runs WHERE id = " + std::to_string(id)), "2");
    EXPECT_EQ(Verdicts(a.FullLog(), id), 0) << a.FullLog();
    EXPECT_EQ(Verdicts(b.FullLog(), id), 1) << b.FullLog();

    // The board B serves holds what A received.
    const auto board = JsonOf(SendHttp(b.Port(), "GET", "/api/v1/boards/hard"));
    ASSERT_TRUE(board.is_object() && board["runs"].is_array()) << board.dump();
    bool listed = false;
    for (const auto& run : board["runs"]) listed = listed || run["id"] == id;
    EXPECT_TRUE(listed) << board.dump();
    EXPECT_EQ(b.Stop(), 0) << b.Log();
}

}  // namespace
}  // namespace zqtest

// No accepted run is lost: the server is killed with SIGKILL while runs are
// being submitted and verified, then stopped with SIGTERM with runs still
// waiting; after each restart every run answered with 202 or 200 is there,
// and all of them end verified exactly once. A backup of a running board,
// restored under a new server, serves the same runs and boards.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>

#include <sys/stat.h>

#include "tests/board/board_fixture.h"

namespace zqtest {
namespace {

// Returns the checked-in hard run played otherwise: a game of its own for each n.
std::string Variant(int n) {
    return AnotherGame("hard", n + 1);
}

TEST_P(BoardBackendTest, KeepsEveryAcceptedRunThroughSigkillAndSigterm) {
    const int port = server->Port();
    std::mutex mutex;
    std::set<long long> accepted;
    std::atomic<bool> stop{false};
    std::atomic<int> next{0};
    // Submits new runs until told to stop or the server stops answering.
    auto submitter = [&] {
        int failures = 0;
        while (!stop && failures < 3 && next < 24) {
            const HttpReply reply =
                SendHttp(port, "POST", "/api/v1/runs", {"Authorization: Bearer " + TokenOf('k')},
                         Variant(next++));
            const auto j = JsonOf(reply);
            if ((reply.status == 202 || reply.status == 200) && j.is_object()) {
                std::lock_guard lock(mutex);
                accepted.insert(j["id"].get<long long>());
            } else {
                ++failures;
            }
        }
    };
    std::thread sender(submitter);
    // Kill once some runs are in and the sender is still at it.
    WaitFor([&] { return next >= 8; }, 30000);
    server->Kill();
    sender.join();
    ASSERT_GE(accepted.size(), 7u);

    ASSERT_TRUE(server->Start()) << server->Log();
    // A clean stop with runs still waiting: they stay pending for the next start.
    for (int i = 0; i < 6; ++i) {
        const long long id = SubmitOk(Variant(100 + i), TokenOf('k'));
        if (id > 0) accepted.insert(id);
    }
    EXPECT_EQ(server->Stop(), 0);
    EXPECT_NE(server->Log().find("stopped"), std::string::npos) << server->Log();

    ASSERT_TRUE(server->Start(2)) << server->Log();
    for (long long id : accepted) {
        const auto j = JsonOf(server->WaitForVerdict(id));
        ASSERT_TRUE(j.is_object()) << id;
        EXPECT_EQ(j["state"], "verified") << j.dump();
    }
    // Each run was judged once across the three servers' lives.
    const std::string log = server->FullLog();
    std::multiset<long long> judged;
    for (size_t at = log.find("zarquill-board: run "); at != std::string::npos;
         at = log.find("zarquill-board: run ", at + 1)) {
        char* end = nullptr;
        const long long id = std::strtoll(log.c_str() + at + 20, &end, 10);
        const std::string verdict(end, std::min<size_t>(9, log.c_str() + log.size() - end));
        if (verdict == " verified" || verdict == " rejected") judged.insert(id);
    }
    for (long long id : judged) EXPECT_EQ(judged.count(id), 1u) << "run " << id << "\n" << log;
    EXPECT_GE(judged.size(), accepted.size() - 1);  // one verdict may land as the log dies
}

TEST_F(BoardTest, ABackupOfARunningBoardIsRestoredWithTheSameRunsAndBoards) {
    std::vector<long long> ids;
    for (const char* golden : {"easy", "medium", "hard"}) {
        ids.push_back(SubmitOk(GoldenReplayBytes(golden), TokenOf('a')));
        server->WaitForVerdict(ids.back());
    }
    // One more run, still pending when copied: it comes back pending and is verified there.
    ids.push_back(SubmitOk(Variant(1), TokenOf('a')));

    const std::string copy = dir / "backups/board.sqlite";
    ASSERT_TRUE(std::filesystem::create_directories(dir / "backups"));
    std::string log;
    ASSERT_EQ(server->RunCommand({"backup", copy}, &log), 0) << log;
    EXPECT_NE(log.find("backup: copied "), std::string::npos) << log;
    EXPECT_NE(log.find("(4 runs) to " + copy), std::string::npos) << log;
    struct stat st {};
    ASSERT_EQ(::stat(copy.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);  // it holds token hashes and the server key
    // Refusals: an existing file is never replaced, only a board is copied,
    // and nothing is left behind.
    const auto before = ReadWholeFile(copy);
    ASSERT_TRUE(WriteWholeFile(dir / "junk.sqlite", std::string(4096, 'x')));
    const std::string other = dir / "backups/other.sqlite";
    const struct {
        std::vector<std::string> args;
        std::string log;
    } refusals[] = {
        {{"backup", copy}, "already exists"},
        {{"backup", dir / "no/such/folder/b.sqlite"}, "cannot write beside"},
        {{"backup", other, "--database", "sqlite:" + (dir / "junk.sqlite")}, "not a board"},
        {{"backup", other, "--database", "sqlite:" + (dir / "none.sqlite")}, "no board database"},
    };
    for (const auto& r : refusals) {
        EXPECT_EQ(server->RunCommand(r.args, &log), 2) << r.log;
        EXPECT_NE(log.find(r.log), std::string::npos) << log;
    }
    EXPECT_EQ(ReadWholeFile(copy), before);
    size_t files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir / "backups")) {
        ++files;
    }
    EXPECT_EQ(files, 1u);
    // The running server went on undisturbed.
    EXPECT_EQ(SendHttp(server->Port(), "GET", "/healthz").status, 200);

    // Restored: a new server on the copy answers as the first one does.
    EXPECT_EQ(JsonOf(server->WaitForVerdict(ids.back()))["state"], "verified");
    BoardServer restored(dir / "restored");
    restored.UseDatabase("sqlite:" + copy);
    ASSERT_TRUE(restored.Start()) << restored.Log();
    EXPECT_EQ(JsonOf(restored.WaitForVerdict(ids.back()))["state"], "verified");
    for (long long id : ids) {
        const std::string target = "/api/v1/runs/" + std::to_string(id);
        const HttpReply a = SendHttp(server->Port(), "GET", target);
        EXPECT_EQ(a.status, 200) << target;
        EXPECT_EQ(JsonOf(a), JsonOf(SendHttp(restored.Port(), "GET", target))) << target;
    }
    for (const char* board : {"easy", "medium", "hard"}) {
        const std::string target = std::string("/api/v1/boards/") + board;
        EXPECT_EQ(SendHttp(server->Port(), "GET", target).body,
                  SendHttp(restored.Port(), "GET", target).body)
            << target;
    }
    EXPECT_EQ(restored.Stop(), 0) << restored.Log();
}

}  // namespace
}  // namespace zqtest

// No accepted run is lost: the server is killed with SIGKILL while runs are
// being submitted and verified, then stopped with SIGTERM with runs still
// waiting; after each restart every run answered with 202 or 200 is there,
// and all of them end verified exactly once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>

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
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (next < 8 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
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

}  // namespace
}  // namespace zqtest

// Sharing end to end, the real game against a real board on loopback: a game
// played and named with "Board.ini" set reaches the board and its rank comes
// back to the panel's queue entry; with the board stopped the run is queued
// and reaches the board once it is back and the game starts again; closing
// the window while a send hangs leaves at once and keeps the run queued.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <nlohmann/json.hpp>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "tests/e2e/e2e_fixture.h"
#include "tests/support/board_harness.h"
#include "tests/support/program_harness.h"
#include "tests/support/temp_dir.h"

namespace {

using zqtest::Difficulty;
using zqtest::ProgramRun;

// How long the board may take to verify a short game and answer.
constexpr int kVerdictMs = 60000;

class ShareE2E : public zqtest::ProgramTest {
  protected:
    static void NameBoard(ProgramRun& run, int port) {
        ASSERT_TRUE(
            zqtest::WriteWholeFile(run.Path("Files/Board.ini"),
                                   "Server = http://127.0.0.1:" + std::to_string(port) + "\r\n"));
    }
    static std::string Queue(const ProgramRun& run) {
        return zqtest::ReadWholeFile(run.Path("Files/274/board.queue"));
    }
    static std::string LogText(const ProgramRun& run) {
        std::string out;
        for (const std::string& line : run.LogLines()) out += line + "\n";
        return out;
    }
    // Waits (bounded) until the log holds text in some line.
    static Result LogHolds(ProgramRun& run, const std::string& text, int timeoutMs) {
        if (run.WaitFor([&] { return LogText(run).find(text) != std::string::npos; }, timeoutMs)) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure() << "no log line with '" << text << "':\n"
                                             << LogText(run);
    }
    // Waits (bounded) until the queue file holds text.
    static Result QueueHolds(ProgramRun& run, const std::string& text, int timeoutMs) {
        if (run.WaitFor([&] { return Queue(run).find(text) != std::string::npos; }, timeoutMs)) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure() << "the queue never held '" << text << "':\n"
                                             << Queue(run);
    }
};

TEST_F(ShareE2E, ANamedRunReachesTheBoardAndItsRankComesBack) {
    zqtest::TempDir dir;
    zqtest::BoardServer board(dir / "data");
    ASSERT_TRUE(board.Start()) << board.Log();
    ProgramRun run;
    NameBoard(run, board.Port());
    ASSERT_TRUE(StartToTitle(run));
    ASSERT_TRUE(PlayAndEnter(run, Difficulty::kMedium, "zoe"));
    ASSERT_TRUE(LogHolds(run, "Board: rank 1 on Medium", kVerdictMs));
    EXPECT_TRUE(QueueHolds(run, "\"state\":\"verified\"", zqtest::kScreenMs));
    const zqtest::HttpReply page = zqtest::SendHttp(board.Port(), "GET", "/api/v1/boards/medium");
    auto runs = nlohmann::json::parse(page.body, nullptr, false)["runs"];
    ASSERT_TRUE(runs.is_array() && runs.size() == 1u) << page.body;
    EXPECT_EQ(runs[0]["id"], 1) << page.body;
    EXPECT_EQ(runs[0]["name"], "zoe") << page.body;
    EXPECT_EQ(runs[0]["rank"], 1) << page.body;
    const std::string token = zqtest::ReadWholeFile(run.Path("Files/274/board.token"));
    ASSERT_GE(token.size(), 32u);
    EXPECT_EQ(LogText(run).find(token.substr(0, 32)), std::string::npos);
    EXPECT_TRUE(QuitFromTitle(run));
}

TEST_F(ShareE2E, ARunMadeWhileTheBoardIsDownIsSentAtTheNextStart) {
    zqtest::TempDir dir;
    zqtest::BoardServer board(dir / "data");
    ASSERT_TRUE(board.Start()) << board.Log();
    ASSERT_EQ(board.Stop(), 0);
    ProgramRun run;
    NameBoard(run, board.Port());
    ASSERT_TRUE(StartToTitle(run));
    ASSERT_TRUE(PlayAndEnter(run, Difficulty::kMedium, "offline"));
    ASSERT_TRUE(LogHolds(run, "the board cannot be reached", zqtest::kScreenMs));
    EXPECT_TRUE(QueueHolds(run, "\"state\":\"queued\"", zqtest::kScreenMs));
    ASSERT_TRUE(QuitFromTitle(run));

    ASSERT_TRUE(board.Start()) << board.Log();  // back, on another port
    NameBoard(run, board.Port());
    // The second start's log alone: the first one's lines must not count as its loading.
    ASSERT_TRUE(::unlink(run.Path("Files/Debug.txt").c_str()) == 0);
    ASSERT_TRUE(StartToTitle(run));
    ASSERT_TRUE(LogHolds(run, "Board: rank 1 on Medium", kVerdictMs));
    EXPECT_TRUE(QueueHolds(run, "\"state\":\"verified\"", zqtest::kScreenMs));
    EXPECT_TRUE(QuitFromTitle(run));
}

TEST_F(ShareE2E, ClosingTheWindowDuringASendLeavesAtOnceAndKeepsTheRunQueued) {
    // A board that takes connections and never answers.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(fd, 8), 0);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);

    ProgramRun run;
    NameBoard(run, ntohs(addr.sin_port));
    ASSERT_TRUE(StartToTitle(run));
    ASSERT_TRUE(PlayAndEnter(run, Difficulty::kMedium, "closer"));
    // The run is queued before it is sent; then the game connects and waits for an answer.
    ASSERT_TRUE(QueueHolds(run, "\"state\":\"queued\"", zqtest::kScreenMs));
    ASSERT_TRUE(run.WaitFor(
        [&] {
            pollfd p{fd, POLLIN, 0};
            return ::poll(&p, 1, 0) > 0;
        },
        zqtest::kScreenMs))
        << "the game never connected";
    const size_t from = run.LogLines().size();
    const auto t0 = std::chrono::steady_clock::now();
    run.RequestClose();
    ASSERT_TRUE(run.WaitForLogLine("Play again, soon!!", zqtest::kScreenMs, from)) << LogText(run);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
            .count();
    std::printf("closing screen reached %lld ms after the close request\n",
                static_cast<long long>(ms));
    // Far below the 20 s a hanging request may last: the send did not hold the exit up.
    EXPECT_LT(ms, 10000);
    EXPECT_TRUE(LeaveClosingScreen(run, from));
    EXPECT_NE(Queue(run).find("\"state\":\"queued\""), std::string::npos) << Queue(run);
    EXPECT_NE(LogText(run).find(": cancelled"), std::string::npos) << LogText(run);
    ::close(fd);
}

}  // namespace

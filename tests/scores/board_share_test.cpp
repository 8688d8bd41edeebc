// Tests of sharing runs with a board: "Board.ini" and queue lines read back
// as written or refused, the token's file and characters, one table of send
// outcomes against a small fake board on loopback (statuses, timeouts, a
// refused connection, a cancel), and the game's background sharing keeping a
// run queued until the board has answered.
#include "share/board_share.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

#include "engine/http/http_client.h"
#include "engine/media/binary_files.h"
#include "engine/media/files.h"
#include "engine/media/folders.h"
#include "engine/media/paths.h"
#include "scores/replay_store.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace scores {
namespace {

using Clock = std::chrono::steady_clock;

// What the fake board answers to one request; hang keeps the connection open unanswered.
struct Reply {
    Reply(int s = 200, std::string b = "", std::string h = "", bool hung = false)
        : status(s), body(std::move(b)), extraHeaders(std::move(h)), hang(hung) {}
    int status;
    std::string body;
    std::string extraHeaders;
    bool hang;
};

// A one-thread HTTP server on a free loopback port that answers from a
// function of method and target and records every request line.
class FakeBoard {
  public:
    explicit FakeBoard(std::function<Reply(const std::string&, const std::string&)> answer)
        : answer_(std::move(answer)) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(fd_, 16);
        socklen_t len = sizeof addr;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~FakeBoard() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::vector<std::string> Requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }

  private:
    void Serve() {
        std::vector<int> hung;
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) continue;
            std::string raw;
            size_t need = std::string::npos;
            const auto deadline = Clock::now() + std::chrono::seconds(5);
            while ((need == std::string::npos || raw.size() < need) && Clock::now() < deadline) {
                pollfd q{c, POLLIN, 0};
                if (::poll(&q, 1, 20) <= 0) continue;
                char buf[65536];
                const ssize_t n = ::recv(c, buf, sizeof buf, 0);
                if (n <= 0) break;
                raw.append(buf, static_cast<size_t>(n));
                const size_t end = raw.find("\r\n\r\n");
                if (end != std::string::npos && need == std::string::npos) {
                    size_t length = 0;
                    const size_t at = raw.find("Content-Length: ");
                    if (at != std::string::npos && at < end) {
                        length = std::stoul(raw.substr(at + 16));
                    }
                    need = end + 4 + length;
                }
            }
            const std::string line = raw.substr(0, raw.find(" HTTP/"));
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(line);
            }
            const size_t space = line.find(' ');
            const Reply r = answer_(line.substr(0, space), line.substr(space + 1));
            if (r.hang) {
                hung.push_back(c);
                continue;
            }
            const std::string out = "HTTP/1.1 " + std::to_string(r.status) +
                                    " X\r\nContent-Type: application/json\r\nContent-Length: " +
                                    std::to_string(r.body.size()) + "\r\n" + r.extraHeaders +
                                    "Connection: close\r\n\r\n" + r.body;
            ::send(c, out.data(), out.size(), MSG_NOSIGNAL);
            ::close(c);
        }
        for (int c : hung) ::close(c);
    }

    std::function<Reply(const std::string&, const std::string&)> answer_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

// Returns a port nothing listens on (bound, then closed).
int ClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

// Short limits so that the timeouts of the table take a fraction of a second.
ShareLimits FastLimits() {
    ShareLimits l;
    l.connectMs = 1000;
    l.requestMs = 600;
    l.verdictWaitMs = 3000;
    l.verdictPollMs = 20;
    return l;
}

const std::string kToken(43, 'T');
const std::atomic<bool> kGo{false};

// --- Board.ini, queue lines, token ----------------------------------------------

TEST(BoardShareFiles, BoardIniNamesAServerOnlyWithAnHttpAddress) {
    struct Case {
        const char* text;
        const char* server;
        bool problem;
    } cases[] = {
        {"", "", false},
        {"Server =\r\n", "", false},
        {"Server = http://board.example:8274/\r\n", "http://board.example:8274", false},
        {"; my board\n[Board]\n  server=HTTPS://b.example/zq//  \n", "HTTPS://b.example/zq", false},
        {"Other = 1\nServer = http://a.example\nServer = http://b.example\n", "http://a.example",
         false},
        {"Server = ftp://board.example\n", "", true},
        {"Server = http://\n", "", true},
        {"Server = http:///path\n", "", true},
        {"Server = http://board example\n", "", true},
        {"Server = http://board\x01.example\n", "", true},
        {"Server = board.example\n", "", true},
    };
    for (const Case& c : cases) {
        std::string problem;
        EXPECT_EQ(ParseBoardIni(c.text, problem), c.server) << c.text;
        EXPECT_EQ(!problem.empty(), c.problem) << c.text;
    }
}

TEST(BoardShareFiles, QueueLinesReadBackAsWrittenAndJunkIsRefused) {
    BoardRun run;
    run.replay = "/home/p/replays/2026-12-08_07-35-59_100_1a2b3c4d.zqr";
    run.server = "http://b.example";
    run.state = BoardState::kVerified;
    run.id = 12;
    run.rank = 3;
    run.difficulty = "hard";
    run.name = "Zo\xC3\xAB";
    run.noticed = true;
    BoardRun back;
    ASSERT_TRUE(ParseBoardRun(FormatBoardRun(run), back));
    EXPECT_EQ(back, run);
    run.state = BoardState::kRefused;
    run.id = 0;
    run.reason = "the name 'Zo\xC3\xAB' belongs to another token";
    ASSERT_TRUE(ParseBoardRun(FormatBoardRun(run), back));
    EXPECT_EQ(back, run);

    for (const char* junk : {"", "{", "[]", "{\"replay\":\"/a\",\"state\":\"lost\"}",
                             "{\"replay\":\"relative.zqr\",\"state\":\"queued\"}",
                             "{\"replay\":\"/a\",\"state\":\"verified\",\"id\":0}",
                             "{\"replay\":\"/a\",\"state\":\"pending\",\"id\":-4}",
                             "{\"replay\":\"/a\",\"state\":\"queued\",\"difficulty\":\"../x\"}"}) {
        EXPECT_FALSE(ParseBoardRun(junk, back)) << junk;
    }
}

TEST(BoardShareFiles, NamesFromTheBoardAreShownInIso88591) {
    EXPECT_EQ(Utf8ToLatin1("Zo\xC3\xAB"), "Zo\xEB");
    EXPECT_EQ(Utf8ToLatin1("a\xE2\x80\xA6z"), "a?z");  // above 255
    EXPECT_EQ(Utf8ToLatin1("\xC3"), "?");              // cut short
    EXPECT_EQ(Utf8ToLatin1("\xFF\x41"), "?A");
    BoardRun run;
    run.state = BoardState::kRejected;
    run.reason = "score differs";
    EXPECT_EQ(BoardStateText(run), "Board: refused (score differs)");
    run.state = BoardState::kVerified;
    run.difficulty = "hard";
    run.rank = 3;
    EXPECT_EQ(BoardStateText(run), "Board: rank 3 on Hard");
}

class BoardShareFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        media::TProgramPaths paths;
        paths.setupFile = dir_ / "Setup.ini";
        paths.scoreFile = dir_ / "nuscores.dat";
        media::SetProgramPaths(paths);
        ResetBoardSharing();
    }
    void TearDown() override {
        ResetBoardSharing();
        media::SetProgramPaths({});
    }
    zqtest::TempDir dir_;
};

TEST_F(BoardShareFolder, TokenIsMadeOncePrivateAndADamagedOneIsNeverReplaced) {
    const std::string a = MakeBoardToken(), b = MakeBoardToken();
    EXPECT_TRUE(IsBoardToken(a));
    EXPECT_EQ(a.size(), 43u);
    EXPECT_NE(a, b);

    std::string problem;
    const std::string token = BoardToken(problem);
    ASSERT_TRUE(IsBoardToken(token)) << problem;
    struct stat st {};
    ASSERT_EQ(::stat(BoardTokenPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(BoardToken(problem), token);

    ASSERT_TRUE(zqtest::WriteWholeFile(BoardTokenPath(), "short\n"));
    EXPECT_EQ(BoardToken(problem), "");
    EXPECT_NE(problem.find("damaged"), std::string::npos);
    EXPECT_EQ(zqtest::ReadWholeFile(BoardTokenPath()), "short\n");
}

// --- One exchange against a fake board ------------------------------------------

TEST(BoardShareExchange, SendOutcomes) {
    struct Case {
        const char* what;
        Reply post;
        BoardState state;
        int64_t id;
        int64_t rank;
        const char* reason;
        bool problem;
        int retryAfter;
        const char* boardRank = "2";  // the "rank" in the board's answer about run 7
    } cases[] = {
        // clang-format off
        {"202 then verified", {202, R"({"id":7,"state":"pending"})"}, BoardState::kVerified, 7, 2, "",
         false, 0},
        {"200 already verified", {200, R"({"id":7,"state":"verified"})"}, BoardState::kVerified, 7,
         2, "", false, 0},
        {"400", {400, R"({"error":"not a readable replay: bad magic"})"}, BoardState::kRefused, 0, 0,
         "not a readable replay: bad magic", false, 0},
        {"403", {403, R"({"error":"the name 'Zo\u00eb' belongs to another token"})"},
         BoardState::kRefused, 0, 0, "the name 'Zo\xC3\xAB' belongs to another token", false, 0},
        {"413", {413, R"({"error":"the replay is larger than 1 MiB"})"}, BoardState::kRefused, 0, 0,
         "the replay is larger than 1 MiB", false, 0},
        {"409 a copy of another token's run", {409, R"({"error":"a copy of run 3","original":3})"},
         BoardState::kRefused, 0, 0, "a copy of another player's run", false, 0},
        {"verified but not the name's best", {202, R"({"id":7,"state":"pending"})"},
         BoardState::kVerified, 7, 0, "", false, 0, "null"},
        {"429", {429, R"({"error":"too many"})", "Retry-After: 17\r\n"}, BoardState::kQueued, 0, 0,
         "", true, 17},
        {"503", {503, R"({"error":"busy"})"}, BoardState::kQueued, 0, 0, "", true, 0},
        {"202 without an id", {202, R"({"state":"pending"})"}, BoardState::kQueued, 0, 0, "", true,
         0},
        {"no answer in time", {0, "", "", true}, BoardState::kQueued, 0, 0, "", true, 0},
        {"an answer over the cap", {202, R"({"id":7})" + std::string(2 << 20, ' ')}, BoardState::kQueued, 0, 0, "",
         true, 0},
        // clang-format on
    };
    for (const Case& c : cases) {
        FakeBoard fake([&](const std::string& method, const std::string& target) {
            if (method == "POST") return c.post;
            if (target == "/api/v1/runs/7") {
                return Reply{200, R"({"id":7,"name":"Zo\u00eb","difficulty":"hard",)"
                                  R"("state":"verified","rank":)" +
                                      std::string(c.boardRank) + "}"};
            }
            return Reply{404, R"({"error":"no such page"})"};
        });
        BoardRun run;
        run.replay = "/r.zqr";
        const ShareResult r = ExchangeRun(fake.Url(), kToken, run, "bytes", FastLimits(), kGo);
        EXPECT_EQ(r.run.state, c.state) << c.what;
        EXPECT_EQ(r.run.id, c.id) << c.what;
        EXPECT_EQ(r.run.rank, c.rank) << c.what;
        EXPECT_EQ(r.run.reason, c.reason) << c.what;
        EXPECT_EQ(!r.problem.empty(), c.problem) << c.what << ": " << r.problem;
        EXPECT_EQ(r.retryAfterSeconds, c.retryAfter) << c.what;
        EXPECT_EQ(r.run.server, fake.Url()) << c.what;
        if (c.state == BoardState::kVerified) {
            EXPECT_EQ(r.run.name, "Zo\xC3\xAB");
        }
        // The rank comes from the run's own answer: no board page is read.
        for (const std::string& line : fake.Requests()) {
            EXPECT_EQ(line.find("/boards/"), std::string::npos) << c.what << ": " << line;
        }
    }

    // A refused connection leaves the run queued with a reason.
    BoardRun run;
    run.replay = "/r.zqr";
    const ShareResult r = ExchangeRun("http://127.0.0.1:" + std::to_string(ClosedPort()), kToken,
                                      run, "bytes", FastLimits(), kGo);
    EXPECT_EQ(r.run.state, BoardState::kQueued);
    EXPECT_NE(r.problem.find("cannot be reached"), std::string::npos) << r.problem;
}

TEST(BoardShareExchange, RunWithAnIdIsAskedAboutNeverPostedAgain) {
    int gets = 0;
    FakeBoard fake([&](const std::string& method, const std::string& target) {
        if (method == "GET" && target == "/api/v1/runs/9") {
            ++gets;
            if (gets < 3) return Reply{200, R"({"id":9,"state":"pending"})"};
            return Reply{200, R"({"id":9,"state":"rejected","reason":"score differs"})"};
        }
        return Reply{404, R"({"error":"no such run"})"};
    });
    BoardRun run;
    run.replay = "/r.zqr";
    run.server = fake.Url();
    run.state = BoardState::kPending;
    run.id = 9;
    const ShareResult r = ExchangeRun(fake.Url(), kToken, run, "", FastLimits(), kGo);
    EXPECT_EQ(r.run.state, BoardState::kRejected);
    EXPECT_EQ(r.run.reason, "score differs");
    for (const std::string& line : fake.Requests()) EXPECT_EQ(line.rfind("GET ", 0), 0u) << line;

    // A refused run is not sent at all; a run the board forgot goes back to the queue.
    run.state = BoardState::kRefused;
    EXPECT_EQ(ExchangeRun(fake.Url(), kToken, run, "", FastLimits(), kGo).run, run);
    run.state = BoardState::kPending;
    run.id = 404;
    const ShareResult lost = ExchangeRun(fake.Url(), kToken, run, "", FastLimits(), kGo);
    EXPECT_EQ(lost.run.state, BoardState::kQueued);
    EXPECT_EQ(lost.run.id, 0);
}

TEST(BoardShareExchange, CancelEndsAHangingSendAtOnceAndTheRunStaysQueued) {
    FakeBoard fake([](const std::string&, const std::string&) { return Reply{0, "", "", true}; });
    ShareLimits limits;  // the game's own limits: 20 s for a request
    std::atomic<bool> stop{false};
    BoardRun run;
    run.replay = "/r.zqr";
    std::thread cancel([&] {
        zqtest::WaitFor([&] { return !fake.Requests().empty(); }, 20000);
        stop = true;
    });
    const auto t0 = Clock::now();
    const ShareResult r = ExchangeRun(fake.Url(), kToken, run, "bytes", limits, stop);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
    cancel.join();
    EXPECT_EQ(r.run.state, BoardState::kQueued);
    EXPECT_EQ(r.problem, "cancelled");
    EXPECT_LT(ms, 10000) << "the cancel was not seen";
    std::printf("cancelled send returned after %lld ms\n", static_cast<long long>(ms));
}

TEST(BoardShareExchange, FetcherHandsAnswersOverInOrderOnPollAndCancelsWhatIsOut) {
    FakeBoard fake([](const std::string&, const std::string& target) {
        if (target == "/hang") return Reply{0, "", "", true};
        return Reply{200, target};
    });
    media::TFetcher fetcher;
    std::vector<std::string> got;
    const auto request = [&](const std::string& path) {
        media::THttpRequest r;
        r.url = fake.Url() + path;
        return r;
    };
    const auto keep = [&](const media::THttpResponse& a) {
        got.push_back(a.status ? a.body : "error " + std::to_string(int(a.error)) + " " + a.errorText);
    };
    fetcher.Start(request("/a"), [&](const media::THttpResponse& a) {
        keep(a);
        // A callback may start the next request.
        fetcher.Start(request("/c"), keep);
    });
    fetcher.Start(request("/b"), keep);
    EXPECT_TRUE(got.empty());  // never inside Start
    EXPECT_TRUE(fetcher.Busy());
    zqtest::WaitFor([&] {
        fetcher.Poll();
        return !fetcher.Busy();
    }, 20000);
    EXPECT_EQ(got, (std::vector<std::string>{"/a", "/b", "/c"}));

    // A hanging request and one behind it both end "cancelled" at the next poll.
    got.clear();
    fetcher.Start(request("/hang"), keep);
    fetcher.Start(request("/d"), keep);
    zqtest::WaitFor([&] { return fake.Requests().size() == 4; }, 20000);
    const auto t0 = Clock::now();
    fetcher.Cancel();
    EXPECT_EQ(fetcher.Poll(), 2);
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(2));
    EXPECT_EQ(got, (std::vector<std::string>{"error 3 cancelled", "error 3 cancelled"}));
    EXPECT_FALSE(fetcher.Busy());
    // And it takes new requests afterwards.
    fetcher.Start(request("/e"), keep);
    zqtest::WaitFor([&] {
        fetcher.Poll();
        return !fetcher.Busy();
    }, 20000);
    EXPECT_EQ(got.back(), "/e");
}

// --- The game's background sharing -------------------------------------------

TEST_F(BoardShareFolder, StoredRunIsQueuedBeforeSendingAndNothingGoesOutWithoutBoardIni) {
    std::atomic<bool> release{false};
    FakeBoard fake([&](const std::string& method, const std::string& target) {
        if (method == "POST") {
            if (!release) return Reply{503, R"({"error":"busy"})"};
            return Reply{202, R"({"id":5,"state":"pending"})"};
        }
        if (target == "/api/v1/runs/5") {
            return Reply{200, R"({"id":5,"name":"Zo\u00eb","difficulty":"easy",)"
                              R"("state":"verified","rank":4})"};
        }
        return Reply{404, R"({"error":"no such page"})"};
    });
    Scores record;
    record.Name = "Zo\xEB";
    record.Score = 100;
    record.Timestamp = 2026 * 100000;
    ASSERT_TRUE(media::MakeFolders(ReplayFolder()));
    ASSERT_TRUE(zqtest::WriteWholeFile(ReplayPath(record), "replay bytes"));

    // No Board.ini: nothing is queued, nothing is sent, no token is made.
    StartBoardSharing(FastLimits());
    ShareStoredRun(record);
    StopBoardSharing();
    EXPECT_TRUE(fake.Requests().empty());
    EXPECT_EQ(media::FileType(BoardQueuePath()), 0);
    EXPECT_EQ(media::FileType(BoardTokenPath()), 0);
    EXPECT_EQ(BoardLineFor(record), "");
    EXPECT_FALSE(CanShareRun(record));

    const auto settle = [] {
        zqtest::WaitFor(
            [] {
                PollBoardSharing();
                return !BoardSharingBusy();
            },
            20000);
    };
    ASSERT_TRUE(zqtest::WriteWholeFile(dir_ / "Board.ini", "Server = " + fake.Url() + "\n"));
    ResetBoardSharing();
    StartBoardSharing(FastLimits());
    EXPECT_TRUE(CanShareRun(record));
    ShareStoredRun(record);
    EXPECT_NE(zqtest::ReadWholeFile(BoardQueuePath()).find("\"queued\""), std::string::npos);
    settle();
    // The board was busy: still queued, and the panel says so.
    EXPECT_EQ(BoardLineFor(record), "Board: not sent yet");
    EXPECT_FALSE(CanShareRun(record));

    // The next start sends it again and shows the outcome.
    release = true;
    ResetBoardSharing();
    StartBoardSharing(FastLimits());
    settle();
    EXPECT_EQ(BoardLineFor(record), "Board: rank 4 on Easy");
    std::vector<BoardRun> queue = LoadBoardQueue();
    ASSERT_EQ(queue.size(), 1u);
    EXPECT_EQ(queue[0].state, BoardState::kVerified);
    EXPECT_TRUE(queue[0].noticed);
    int posts = 0;
    for (const std::string& line : fake.Requests()) posts += line.rfind("POST ", 0) == 0;
    EXPECT_EQ(posts, 2);  // once refused with 503, once taken

    // Nothing more goes out at the next start for a run the board has judged.
    const size_t before = fake.Requests().size();
    ResetBoardSharing();
    StartBoardSharing(FastLimits());
    settle();
    EXPECT_EQ(fake.Requests().size(), before);
}

TEST_F(BoardShareFolder, AFileThatIsNotAReplayNeverLeavesTheMachine) {
    FakeBoard fake([](const std::string&, const std::string&) { return Reply{500, "{}"}; });
    ASSERT_TRUE(zqtest::WriteWholeFile(dir_ / "Board.ini", "Server = " + fake.Url() + "\n"));
    ASSERT_TRUE(zqtest::WriteWholeFile(dir_ / "secret.txt", "not a replay"));
    BoardRun planted;  // a queue file naming some other file
    planted.replay = dir_ / "secret.txt";
    ASSERT_TRUE(SaveBoardQueue({planted}));
    SetReplayCheck([](std::string_view bytes, std::string& why) {
        why = "bad magic";
        return bytes.rfind("ZQR", 0) == 0;
    });
    StartBoardSharing(FastLimits());
    StopBoardSharing();
    SetReplayCheck(nullptr);
    EXPECT_TRUE(fake.Requests().empty());
    const std::vector<BoardRun> queue = LoadBoardQueue();
    ASSERT_EQ(queue.size(), 1u);
    EXPECT_EQ(queue[0].state, BoardState::kRefused);
    EXPECT_EQ(queue[0].reason, "not a replay: bad magic");
}

}  // namespace
}  // namespace scores

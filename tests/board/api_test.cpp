// The board's API against a real server, in focused tables of requests with
// the status and error line each must get: hostile routes and parameters,
// submissions and their verdicts (copies among them), names as text, crafted
// uploads, downloads, metrics, the per-address rate limit, and the operator's
// commands run beside the server. Each test has a server of its own (its
// submissions share one address's rate limit of 30 a burst).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "board/limits.h"
#include "scores/fields/date_time.h"
#include "tests/board/board_fixture.h"

namespace zqtest {
namespace {

struct Case {
    std::string what;
    std::string method;
    std::string target;
    std::vector<std::string> headers;
    std::string body;
    int status;
    std::string error;    // a part of the error line ("" for none expected)
    std::string verdict;  // for accepted runs: "verified" or a part of the rejection reason
};

// Returns the checked-in easy run renamed and re-dated (so its bytes are
// new), played otherwise (shift) to make it a game of its own.
std::string Renamed(const std::string& name, int64_t secondsLater, int shift = 0) {
    return CraftReplay("easy", [&](game::Replay& r) {
        r.header.name = name;
        r.header.timestamp += secondsLater;
        if (shift != 0) PlayOtherwise(r, shift);
    });
}

// Returns a checked-in run's inputs re-recorded under another rules version
// and name: a file that verifies, though its check values are new.
std::string ReRecorded(const std::string& golden, uint32_t rules, const std::string& name) {
    return CraftReplay(golden, [&](game::Replay& r) {
        r.header.rules = rules;
        r.header.name = name;
        r = Replayed(std::move(r));
    });
}

// Returns the checked-in easy run under another name, cut after `keep` steps
// and played on for `more` steps of other input: another player's opening
// taken over (each `pattern` its own input).
std::string PlayedOn(const std::string& name, size_t keep, size_t more, int pattern = 7) {
    return CraftReplay("easy", [&](game::Replay& r) {
        r.header.name = name;
        r.steps.resize(keep);
        for (size_t i = 0; i < more; ++i) {
            game::ReplayStep step = r.steps.back();
            step.pointerX = 200 + static_cast<int32_t>((i * pattern) % 400);
            step.pointerY = 300 + static_cast<int32_t>((i * 3) % 200);
            step.right = true;
            r.steps.push_back(step);
        }
        r.header.frames = static_cast<uint32_t>(r.steps.size());
        r.checks.resize(game::ReplayCheckCount(r.header.frames));
        r = Replayed(std::move(r));
    });
}

// The reason a run that starts with the k-th accepted run's scoring play gets.
std::string TakenOver(int k) {
    return "starts with the scoring play of run {" + std::to_string(k) +
           "}, sent first by another player";
}

// The reason a run re-recorded from the k-th accepted run of a table gets.
std::string CopiedUnderOtherRules(int k) {
    return "plays the same game as run {" + std::to_string(k) +
           "} under other rules, sent first by another player";
}

// Returns a row's expected reason with "{k}" made the id of the k-th accepted run.
std::string ExpectedReason(std::string reason,
                           const std::vector<std::pair<long long, const Case*>>& accepted) {
    const size_t at = reason.find('{');
    const size_t end = reason.find('}', at);
    if (at == std::string::npos || end == std::string::npos) return reason;
    const size_t k = std::stoul(reason.substr(at + 1, end - at - 1));
    if (k < accepted.size()) reason.replace(at, end - at + 1, std::to_string(accepted[k].first));
    return reason;
}

// Returns a row that sends method on target with no body.
Case Ask(std::string what, std::string method, std::string target, int status, std::string error) {
    return {std::move(what),
            std::move(method),
            std::move(target),
            {},
            "",
            status,
            std::move(error),
            ""};
}

// Returns a row that posts a replay with an Authorization line ("" for none).
Case Post(std::string what, const std::string& auth, std::string bytes, int status,
          std::string error, std::string verdict = "") {
    std::vector<std::string> headers;
    if (!auth.empty()) headers.push_back(auth);
    return {std::move(what),  "POST", "/api/v1/runs",   std::move(headers),
            std::move(bytes), status, std::move(error), std::move(verdict)};
}

// Returns the Authorization line of a well-formed token of one repeated character.
std::string Bearer(char c) {
    return "Authorization: Bearer " + TokenOf(c);
}

// Waits for the verdict of every accepted run and checks it against the row
// that sent it: verified ones are ranked and score what they claim, rejected
// ones name the reason. A row listed in unranked may be
// verified without a place (a name's runs below its best).
void CheckVerdicts(const BoardServer& server,
                   const std::vector<std::pair<long long, const Case*>>& accepted,
                   const std::string& unranked = "") {
    for (const auto& [id, k] : accepted) {
        const auto j = JsonOf(server.WaitForVerdict(id));
        ASSERT_TRUE(j.is_object()) << k->what;
        if (k->what != unranked) {
            EXPECT_EQ(j["rank"].is_number(), k->verdict == "verified") << k->what;
        }
        if (k->verdict == "verified") {
            EXPECT_EQ(j["state"], "verified") << k->what << ": " << j.dump();
            EXPECT_EQ(j["score"], j["claimed_score"]) << k->what;
        } else {
            EXPECT_EQ(j["state"], "rejected") << k->what;
            EXPECT_EQ(j["reason"], ExpectedReason(k->verdict, accepted)) << k->what;
        }
    }
}

// Sends each case in order and checks its status and error line; keeps the
// ids of the runs accepted for checking (202), and checks that every resent
// run (200) and copy (409) names the first run accepted.
void SendCases(int port, const std::vector<Case>& cases,
               std::vector<std::pair<long long, const Case*>>& accepted) {
    for (const Case& k : cases) {
        const HttpReply reply = SendHttp(port, k.method, k.target, k.headers, k.body);
        // A refusal that needs an earlier run's verdict (a row of 409 with a
        // verdict): accepted while that is pending, the run is rejected later.
        const bool refusedLater = k.status == 409 && !k.verdict.empty() && reply.status == 202;
        if (!refusedLater) {
            EXPECT_EQ(reply.status, k.status) << k.what << ": " << reply.body;
        }
        const auto j = JsonOf(reply);
        ASSERT_TRUE(j.is_object()) << k.what << ": " << reply.body;
        if (k.status >= 400 && !refusedLater) {
            ASSERT_TRUE(j.contains("error") && j["error"].is_string()) << k.what;
            EXPECT_NE(j["error"].get<std::string>().find(k.error), std::string::npos)
                << k.what << ": " << j["error"];
        }
        if (k.status == 405) {
            EXPECT_EQ(reply.Header("allow"), k.error) << k.what;
        }
        if (k.status == 202 || refusedLater) {
            EXPECT_EQ(j["state"], "pending") << k.what;
            accepted.emplace_back(j["id"].get<long long>(), &k);
        }
        // Every copy and resent run in the table is of the first run.
        if (k.method == "POST" && (k.status == 200 || k.status == 409) && !refusedLater) {
            ASSERT_FALSE(accepted.empty()) << k.what;
            EXPECT_EQ(j[k.status == 200 ? "id" : "original"], accepted.front().first)
                << k.what << ": " << reply.body;
        }
    }
}

// Routes and parameters no client should send: each gets its status and a
// clear error line, and the server serves on.
TEST_P(BoardBackendTest, AnswersHostileRoutesAndParametersWithClearErrors) {
    const std::string a = Bearer('a');
    const std::string easy = GoldenReplayBytes("easy");
    const std::vector<Case> cases = {
        Post("no token", "", easy, 401, "token"),
        Post("a short token", "Authorization: Bearer abc", easy, 401, "token"),
        Post("another scheme", "Authorization: Basic " + TokenOf('a'), easy, 401, "token"),
        Post("a token with a bad character", a + "!", easy, 401, "token"),
        Post("a token over 128 characters", "Authorization: Bearer " + std::string(129, 'a'), easy,
             401, "token"),
        Ask("GET on the submission route", "GET", "/api/v1/runs", 405, "POST"),
        {"PUT on a run", "PUT", "/api/v1/runs/1", {}, "x", 405, "GET", ""},
        Ask("DELETE on a board", "DELETE", "/api/v1/boards/hard", 405, "GET"),
        {"POST on health", "POST", "/healthz", {a}, "", 405, "GET", ""},
        Ask("an unknown route", "GET", "/nope", 404, "no such page"),
        Ask("another API version", "GET", "/api/v2/runs/1", 404, "no such page"),
        Ask("a trailing slash", "GET", "/api/v1/runs/1/", 404, "no such page"),
        Ask("an unknown board", "GET", "/api/v1/boards/extreme", 404, "no such board"),
        Ask("a run that does not exist", "GET", "/api/v1/runs/999999", 404, "no such run"),
        Ask("a run id that is no number", "GET", "/api/v1/runs/abc", 404, "no such run"),
        Ask("a negative run id", "GET", "/api/v1/runs/-1", 404, "no such run"),
        Ask("SQL in a run id", "GET", "/api/v1/runs/1%20OR%201=1", 404, "no such run"),
        Ask("SQL in a board", "GET", "/api/v1/boards/hard'--", 404, "no such board"),
        Ask("SQL in a player", "GET", "/api/v1/players/x'%20OR%20'1'='1", 200, ""),
        Ask("dot segments", "GET", "/api/v1/../healthz", 404, "no such page"),
        Ask("encoded dot segments", "GET", "/%2e%2e/%2e%2e/etc/passwd", 404, "no such page"),
        Ask("dots after a run", "GET", "/api/v1/runs/1/../../boards/hard", 404, "no such page"),
        Ask("an encoded slash in a run id", "GET", "/api/v1/runs/..%2f1", 404, "no such run"),
        Ask("a path as a player's name", "GET", "/api/v1/players/..%2F..%2Fetc%2Fpasswd", 200, ""),
        Ask("a malformed escape", "GET", "/api/v1/players/%zz", 400, "malformed path"),
        Ask("half a UTF-8 character", "GET", "/api/v1/players/%C3", 400, "not a name"),
        Ask("a NUL in a name", "GET", "/api/v1/players/a%00b", 400, "not a name"),
        Ask("SQL in limit", "GET", "/api/v1/boards/hard?limit=1;DROP%20TABLE%20runs", 400, "limit"),
        Ask("limit 0", "GET", "/api/v1/boards/hard?limit=0", 400, "limit"),
        Ask("limit over 100", "GET", "/api/v1/boards/easy?limit=101", 400, "limit"),
        Ask("a negative limit", "GET", "/api/v1/boards/easy?limit=-1", 400, "limit"),
        Ask("an exponent limit", "GET", "/api/v1/boards/easy?limit=1e3", 400, "limit"),
        Ask("an empty limit", "GET", "/api/v1/players/Scripted?limit=", 400, "limit"),
        Ask("a negative offset", "GET", "/api/v1/boards/easy?offset=-5", 400, "offset"),
        Ask("a huge offset", "GET", "/api/v1/boards/easy?offset=99999999999999999999", 400,
            "offset"),
        Ask("the largest page", "GET", "/api/v1/boards/easy?limit=100&offset=0", 200, ""),
        Ask("health", "GET", "/healthz", 200, ""),
        // Framing two parsers could read differently is refused before the routes.
        {"Content-Length headers that disagree", "GET", "/healthz",
         {"Content-Length: 0", "Content-Length: 5"}, "", 400, "Content-Length headers that disagree",
         ""},
        {"a Content-Length sent twice alike", "POST", "/api/v1/runs", {"Content-Length: 5"},
         "hello", 401, "token", ""},
        {"a transfer coding other than chunked", "GET", "/healthz",
         {"Transfer-Encoding: gzip, chunked"}, "", 501, "only transfer coding served is chunked",
         ""},
        {"Transfer-Encoding beside Content-Length", "POST", "/api/v1/runs",
         {a, "Transfer-Encoding: chunked"}, "1\r\nx\r\n0\r\n\r\n", 400,
         "both Transfer-Encoding and Content-Length", ""},
        {"a second Host header", "GET", "/healthz", {"Host: elsewhere"}, "", 400,
         "more than one Host", ""},
    };
    std::vector<std::pair<long long, const Case*>> accepted;
    SendCases(server->Port(), cases, accepted);
    EXPECT_TRUE(accepted.empty());
    // Requests as sent on the wire, each answered with exactly one status line
    // (a second request behind one refused is never read) and its error line.
    std::string chunked = "POST /api/v1/runs HTTP/1.1\r\nHost: 127.0.0.1\r\n" + a +
                          "\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
    for (int i = 0; i < 40; ++i) chunked += "10000\r\n" + std::string(0x10000, 'x') + "\r\n";
    chunked += "0\r\n\r\n";
    const std::string behind = "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    const std::string last = "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    const auto posted = [](const std::string& length) {
        return "POST /api/v1/runs HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + length +
               "\r\nConnection: close\r\n\r\nabc";
    };
    const auto player = [](const std::string& target) {
        return "GET /api/v1/players/" + target +
               " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    };
    const struct {
        const char* what;
        std::string bytes;
        int status;
        std::string error;
        int answers = 1;  // status lines on the connection
    } raw[] = {
        // A chunked body gives no length up front: it is refused once it passes the cap.
        {"a chunked body over the cap", chunked, 413, "1 MiB"},
        {"not even a request line", "GARBAGE\r\n\r\n", 400, "request line"},
        {"HTTP/2 on the request line", "GET /healthz HTTP/2.0\r\nHost: 127.0.0.1\r\n\r\n", 400,
         "request line"},
        {"HTTP/1.1 without Host", "GET /healthz HTTP/1.1\r\nConnection: close\r\n\r\n", 400,
         "needs a Host header"},
        {"HTTP/1.0 without Host", "GET /healthz HTTP/1.0\r\n\r\n", 200, ""},
        {"Transfer-Encoding in HTTP/1.0",
         "POST /api/v1/runs HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
         400, "needs HTTP/1.1"},
        {"a request smuggled behind lengths that disagree",
         "POST /api/v1/runs HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\n"
         "Content-Length: " +
             std::to_string(behind.size()) + "\r\n\r\n" + behind,
         400, "Content-Length headers that disagree"},
        {"a gzip-coded chunked body",
         "POST /api/v1/runs HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: gzip, "
         "chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n" +
             behind,
         501, "chunked"},
        {"a negative length", posted("-1"), 400, "Content-Length is not a plain number"},
        {"a length that is no number", posted("abc"), 400, "Content-Length is not a plain number"},
        {"a length of 23 digits", posted(std::string(23, '9')), 400,
         "Content-Length is not a plain number"},
        {"a length with a sign", posted("+3"), 400, "Content-Length is not a plain number"},
        {"a length given as a list", posted("3, 3"), 400, "Content-Length is not a plain number"},
        // The whole target reaches the routes or none of it: never player "a".
        {"a raw NUL byte in the target", player(std::string("a\0b", 3)), 400, "control byte"},
        {"a raw control byte in the target", player("a\x01b"), 400, "control byte"},
        {"a head over the size cap",
         "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Big: " +
             std::string(board::kMaxHeadBytes, 'x') + "\r\n\r\n",
         431, "request head is over"},
        {"two requests on one connection", behind + last, 200, "", 2},
        // A HEAD answer names its length but carries no body: the next answer follows its head.
        {"HEAD, then GET on one connection",
         "HEAD /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" + last, 200, "", 2},
    };
    for (const auto& k : raw) {
        const HttpReply reply = SendRaw(server->Port(), k.bytes);
        EXPECT_EQ(reply.status, k.status) << k.what << ": " << reply.body;
        // Status lines: the first answer's, and any in what followed it ("HTTP/1.x NNN ").
        int answers = reply.status != 0;
        for (size_t at = reply.body.find("HTTP/1."); at != std::string::npos;
             at = reply.body.find("HTTP/1.", at + 1)) {
            const std::string line = reply.body.substr(at, 13);
            answers += line.size() == 13 && line[8] == ' ' && line[12] == ' ' &&
                       std::all_of(line.begin() + 9, line.begin() + 12,
                                   [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
        }
        EXPECT_EQ(answers, k.answers) << k.what << ": " << reply.body;
        if (k.bytes.compare(0, 5, "HEAD ") == 0) {
            EXPECT_EQ(reply.body.compare(0, 12, "HTTP/1.1 200"), 0) << k.what << ": " << reply.body;
        }
        if (!k.error.empty()) {
            const auto j = JsonOf(reply);  // not JSON if anything followed the answer
            ASSERT_TRUE(j.is_object() && j.contains("error") && j["error"].is_string())
                << k.what << ": " << reply.body;
            EXPECT_NE(j["error"].get<std::string>().find(k.error), std::string::npos)
                << k.what << ": " << j["error"];
        }
    }
    EXPECT_EQ(SendHttp(server->Port(), "GET", "/healthz").status, 200);

    // The test cluster's address holds a password: warned about once, never written.
    const std::string log = server->FullLog();
    const size_t warning = log.find("holds a password");
    EXPECT_EQ(warning != std::string::npos, backend == BoardBackend::Postgres) << log;
    EXPECT_EQ(log.find("holds a password", warning + 1), std::string::npos) << log;
    if (backend == BoardBackend::Postgres) {
        EXPECT_EQ(log.find(SharedPostgres().Password()), std::string::npos) << log;
    }
}

// Returns a socket connected to the server on loopback (-1 when it is not).
int ConnectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
    if (fd >= 0) ::close(fd);
    return -1;
}

// Clients that send their request head a line every 200 ms (the idle timer
// alone would keep them for ever) lose their connections at the head
// deadline from their first byte, 20 of them from one address; a client that
// waits past the deadline before its first byte is served, and so is the next.
TEST_F(BoardTest, CutsRequestHeadsThatTrickleAtTheirDeadline) {
    ASSERT_EQ(server->Stop(), 0);
    ASSERT_TRUE(server->Start(1, {"--head-timeout", "1"})) << server->Log();
    constexpr long long kDeadlineMs = 1000, kLineMs = 200, kQuietMs = 1500, kBoundMs = 6000;
    struct Client {
        int fd;
        long long firstByteMs;
        long long closedMs = 0;
        std::string reply;
    };
    std::vector<Client> clients;
    for (int i = 0; i < 20; ++i) {
        const int fd = ConnectTo(server->Port());
        ASSERT_GE(fd, 0);
        // Timed before it is sent, so that no cut can seem early.
        clients.push_back({fd, NowMs(), 0, ""});
        ASSERT_GT(::send(fd, "GET /healthz HTTP/1.1\r\n", 23, MSG_NOSIGNAL), 0);
    }
    Client quiet{ConnectTo(server->Port()), 0, 0, ""};  // sends its whole head later
    ASSERT_GE(quiet.fd, 0);
    std::vector<Client*> everyone = {&quiet};
    for (Client& c : clients) everyone.push_back(&c);
    const long long start = NowMs();
    long long nextLine = start + kLineMs;
    const auto open = [](const Client& c) { return c.closedMs == 0; };
    while ((std::any_of(clients.begin(), clients.end(), open) || open(quiet)) &&
           NowMs() < start + kBoundMs) {
        if (quiet.firstByteMs == 0 && NowMs() >= start + kQuietMs) {
            const std::string head = "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
            ASSERT_GT(::send(quiet.fd, head.data(), head.size(), MSG_NOSIGNAL), 0);
            quiet.firstByteMs = NowMs();
        }
        for (Client* c : everyone) {
            pollfd p{c->fd, POLLIN, 0};
            if (!open(*c) || ::poll(&p, 1, 0) <= 0) continue;
            char buf[4096];
            const ssize_t n = ::recv(c->fd, buf, sizeof buf, 0);
            if (n > 0) c->reply.append(buf, static_cast<size_t>(n));
            // The quiet client's answer is all it waits for.
            if (n <= 0 || (c == &quiet && c->reply.find("\r\n\r\n") != std::string::npos)) {
                c->closedMs = NowMs();
            }
        }
        if (NowMs() >= nextLine) {
            for (Client& c : clients) {
                if (open(c) && ::send(c.fd, "X-Slow: 1\r\n", 11, MSG_NOSIGNAL) < 0) {
                    c.closedMs = NowMs();
                }
            }
            nextLine += kLineMs;
        }
        PauseForPoll();
    }
    long long latest = 0;
    for (const Client& c : clients) {
        EXPECT_GT(c.closedMs, 0) << "a trickling head was never cut";
        if (c.closedMs > 0) {
            EXPECT_GE(c.closedMs - c.firstByteMs, kDeadlineMs);
            EXPECT_TRUE(c.reply.empty()) << c.reply;
            latest = std::max(latest, c.closedMs - c.firstByteMs);
        }
        ::close(c.fd);
    }
    EXPECT_EQ(quiet.reply.compare(0, 15, "HTTP/1.1 200 OK"), 0) << quiet.reply;
    ::close(quiet.fd);
    std::printf("20 trickling heads cut at most %lld ms after their first byte (deadline %lld ms)\n",
                latest, kDeadlineMs);
    EXPECT_EQ(SendHttp(server->Port(), "GET", "/healthz").status, 200);
    EXPECT_NE(server->Log().find("its request head took over 1 s"), std::string::npos)
        << server->Log();
}

// Runs accepted and judged by re-simulation, resent runs named as the first,
// and copies of another player's run refused however they were disguised.
TEST_P(BoardBackendTest, JudgesEveryAcceptedRunAndRefusesCopies) {
    const std::string a = Bearer('a');
    const std::string e = Bearer('e');
    const std::string easy = GoldenReplayBytes("easy");
    const std::string boasted = CraftReplay("easy", [](game::Replay& r) {
        PlayOtherwise(r, 2);
        r.header.score += 1000;
    });
    const std::string desync = CraftReplay("easy", [](game::Replay& r) {
        r.checks[1] ^= 1;
        r.header.timestamp += 3;
    });
    const std::string oldVersion = CraftReplay("easy", [](game::Replay& r) {
        PlayOtherwise(r, 4);
        r.header.programVersion = "0.9.9";
    });
    // Copies of the first run: the header told apart, or the game changed
    // where the game ignores it, or its last seconds played otherwise (the
    // first 24 of its 26 check values agree: 90% rounded up).
    const std::string redated = CraftReplay("easy", [](game::Replay& r) {
        r.header.name = "Thief";
        r.header.timestamp += 86400;
    });
    const game::Replay golden = GoldenReplay("easy");
    game::Replay ignored = golden;
    for (size_t k = ignored.steps.size(); k-- > 0 && ignored == golden;) {
        game::Replay tried = golden;
        tried.steps[k].pointerX += 25;
        tried.steps[k].pointerY += 25;
        if (Replayed(tried) == tried) ignored = tried;  // every check value and the score stay
    }
    ASSERT_NE(ignored, golden) << "no step whose input the game ignores";
    ignored.header.name = "Thief";
    game::Replay lastSeconds = golden;
    PlayOtherwise(lastSeconds, 40, 23 * game::kReplayCheckInterval);
    ASSERT_EQ(lastSeconds.checks.size(), 26u);
    ASSERT_NE(lastSeconds.checks.back(), golden.checks.back());
    ASSERT_NE(lastSeconds.checks[24], golden.checks[24]);
    lastSeconds.header.name = "Thief";
    // An honest run sharing the first ten seconds, then played otherwise.
    const std::string sharedStart = CraftReplay("easy", [](game::Replay& r) {
        r.header.name = "Sharer";
        PlayOtherwise(r, 40, 10 * game::kReplayCheckInterval);
    });
    const std::vector<Case> cases = {
        Post("a real run", a, easy, 202, "", "verified"),
        Post("a real run played under rules 1", a, GoldenReplayBytes("rules1/hard"), 202, "",
             "verified"),
        Post("the same bytes again", a, easy, 200, "", ""),
        Post("a boasted score", a, boasted, 202, "", "score differs"),
        Post("a changed check value", a, desync, 202, "", "desync at step 60"),
        Post("another version", a, oldVersion, 202, "", "made with version 0.9.9"),
        Post("a copy under another name", e, Renamed("Thief", 0), 409,
             "sent first by another player", ""),
        Post("a copy with another date", e, redated, 409, "plays the same game as run", ""),
        Post("a copy with an input the game ignores", e, game::EncodeReplay(ignored), 409,
             "sent first by another player", ""),
        Post("a copy with its last seconds played otherwise", e, game::EncodeReplay(lastSeconds),
             409, "sent first by another player", ""),
        Post("the first run from its own token under another name", a, Renamed("Other", 12), 200,
             "", ""),
        Post("a run sharing the first run's first seconds", "Authorization: Bearer " + TokenOf('f'),
             sharedStart, 202, "", "verified"),
        // Re-recorded under the other rules its check values differ: the
        // verifier plays it under the original's rules too.
        Post("a rules-1 run re-recorded under rules 2 by another player", e,
             ReRecorded("rules1/hard", 2, "Thief"), 202, "", CopiedUnderOtherRules(1)),
        Post("a rules-2 run re-recorded under rules 1 by its own player", a,
             ReRecorded("easy", 1, "Redone"), 202, "", "verified"),
        Post("a real run on another board", a, GoldenReplayBytes("medium"), 202, "", "verified"),
        Post("a rules-2 run re-recorded under rules 1 by another player", e,
             ReRecorded("medium", 1, "Thief"), 202, "", CopiedUnderOtherRules(8)),
        // Another player's scoring play at the start, however it goes on: 409
        // when the first run's verdict is in, else rejected when verified.
        Post("the first run and 4 seconds more", e, PlayedOn("Taker", 1500, 240), 409,
             "starts with the scoring play of run", TakenOver(0)),
        Post("the first run and more than as long again", e, PlayedOn("Taker", 1500, 1560), 409,
             "starts with the scoring play of run", TakenOver(0)),
        Post("the first run's first 80%, played on", e, PlayedOn("Taker", 1200, 300), 409,
             "starts with the scoring play of run", TakenOver(0)),
        Post("the first run's own token going on from it", a, PlayedOn("Onward", 1500, 600, 11), 202,
             "", "verified"),
    };
    std::vector<std::pair<long long, const Case*>> accepted;
    SendCases(server->Port(), cases, accepted);
    CheckVerdicts(*server, accepted);
    EXPECT_NE(server->Log().find("rejected: score differs"), std::string::npos);
}

// Names are the players' own text: claimed by the first token that sends one
// (in any letter case, Latin-1 included), and markup and SQL come back
// exactly, as JSON strings.
TEST_P(BoardBackendTest, KeepsNamesAsTextAndTheirOwnersTokens) {
    const std::string a = Bearer('a');
    const std::string b = Bearer('b');
    const std::string markup = "<script>alert(1)</script>";
    const std::string sql = "Robert'); DROP TABLE runs;--";
    // In order: the first rows own names that later rows try to take.
    const std::vector<Case> cases = {
        Post("a real run", a, GoldenReplayBytes("easy"), 202, "", "verified"),
        Post("another token under a claimed name", b, GoldenReplayBytes("medium"), 403,
             "belongs to another token"),
        Post("the claimed name in other letter case", b, Renamed("sCRIPTED", 1), 403,
             "belongs to another token"),
        Post("a Latin-1 name", a, Renamed("\xCBlan", 5, 1), 202, "", "verified"),
        Post("its other case (\xC3\xAB for \xC3\x8B)", b, Renamed("\xEBLAN", 6), 403,
             "belongs to another token"),
        Post("another game under the name", a, Renamed("Scripted", 12, 6), 202, "", "verified"),
        Post("a name with markup", Bearer('c'), Renamed(markup, 7, 3), 202, "", "verified"),
        Post("SQL in a name", Bearer('d'), Renamed(sql, 8, 5), 202, "", "verified"),
    };
    std::vector<std::pair<long long, const Case*>> accepted;
    SendCases(server->Port(), cases, accepted);
    // Only a name's best verified run has a place (the player's page below
    // shows which of the two runs of one name has it).
    CheckVerdicts(*server, accepted, "another game under the name");

    const auto board = JsonOf(SendHttp(server->Port(), "GET", "/api/v1/boards/easy"));
    ASSERT_TRUE(board.is_object());
    EXPECT_EQ(board["difficulty"], "easy");
    std::vector<std::string> names;
    for (const auto& run : board["runs"]) names.push_back(run["name"]);
    EXPECT_EQ(names.size(), 4u) << board.dump();
    for (const std::string& n :
         {std::string("Scripted"), std::string("\xC3\x8Blan"), markup, sql}) {
        EXPECT_NE(std::find(names.begin(), names.end(), n), names.end()) << n;
    }
    const auto player = JsonOf(SendHttp(server->Port(), "GET", "/api/v1/players/%C3%8BLAN"));
    ASSERT_EQ(player["runs"].size(), 1u) << player.dump();
    EXPECT_EQ(player["runs"][0]["name"], "\xC3\x8Blan");
    EXPECT_TRUE(player["runs"][0]["rank"].is_number()) << player.dump();
    EXPECT_EQ(player["runs"][0]["date"], "2026-12-08T07:36:04");
    // A name's runs below its best are listed without a place.
    const auto scripted = JsonOf(SendHttp(server->Port(), "GET", "/api/v1/players/scripted"));
    ASSERT_EQ(scripted["runs"].size(), 2u) << scripted.dump();
    EXPECT_TRUE(scripted["runs"][0]["rank"].is_number()) << scripted.dump();
    EXPECT_TRUE(scripted["runs"][1]["rank"].is_null()) << scripted.dump();
}

// The stored replay comes back byte for byte, named as the game names replays.
TEST_P(BoardBackendTest, ServesTheStoredReplayByteForByte) {
    const std::string easy = GoldenReplayBytes("easy");
    const long long id = SubmitOk(easy, TokenOf('a'));
    ASSERT_GT(id, 0);
    const HttpReply file =
        SendHttp(server->Port(), "GET", "/api/v1/runs/" + std::to_string(id) + "/replay");
    EXPECT_EQ(file.status, 200);
    EXPECT_EQ(file.body, easy);
    EXPECT_EQ(file.Header("content-disposition"),
              "attachment; filename=\"2026-12-08_07-35-59_300_1db17b86.zqr\"");
}

// A restart of the database ends every connection the server holds: while
// it is down reads answer 503 at once, and after it they answer again, the
// threads' own channels (PostgreSQL's) connected anew.
TEST_P(BoardBackendTest, ReadsAnswerThroughARestartOfTheDatabase) {
    if (backend == BoardBackend::Sqlite) GTEST_SKIP() << "SQLite has no connection to lose";
    const long long id = SubmitOk(GoldenReplayBytes("easy"), TokenOf('a'));
    ASSERT_GT(id, 0);
    ASSERT_EQ(JsonOf(server->WaitForVerdict(id))["state"], "verified");
    const std::string run = "/api/v1/runs/" + std::to_string(id);
    const auto reads = [&] {
        std::vector<int> statuses;
        for (const std::string& target : {run, std::string("/api/v1/players/scripted")}) {
            for (int i = 0; i < 8; ++i)
                statuses.push_back(SendHttp(server->Port(), "GET", target).status);
        }
        std::sort(statuses.begin(), statuses.end());
        statuses.erase(std::unique(statuses.begin(), statuses.end()), statuses.end());
        return statuses;
    };
    EXPECT_EQ(reads(), std::vector<int>{200});
    SharedPostgres().Stop();
    EXPECT_EQ(reads(), std::vector<int>{503});
    ASSERT_TRUE(SharedPostgres().Start()) << SharedPostgres().Error();
    EXPECT_TRUE(WaitFor([&] { return reads() == std::vector<int>{200}; }, 20000));
    EXPECT_TRUE(WaitFor(
        [&] {
            return server->Log().find("database channel is connected again") != std::string::npos;
        },
        20000))
        << server->Log();
    EXPECT_NE(server->Log().find("database channel broke"), std::string::npos) << server->Log();
    const auto page = JsonOf(SendHttp(server->Port(), "GET", "/api/v1/players/scripted"));
    ASSERT_EQ(page["runs"].size(), 1u) << page.dump();
    EXPECT_EQ(page["runs"][0]["id"], id);
}

// The metrics count what came in and how it was judged; honest runs on a
// sound server leave every failure count at zero.
TEST_P(BoardBackendTest, CountsRunsAndVerdictsInItsMetrics) {
    const long long verified = SubmitOk(GoldenReplayBytes("easy"), TokenOf('a'));
    const long long rejected = SubmitOk(CraftReplay("easy",
                                                    [](game::Replay& r) {
                                                        PlayOtherwise(r, 2);
                                                        r.header.score += 1000;
                                                    }),
                                        TokenOf('a'));
    EXPECT_EQ(server->Submit("junk", TokenOf('a')).status, 400);  // refused: not received
    for (const long long id : {verified, rejected}) {
        ASSERT_GT(id, 0);
        server->WaitForVerdict(id);
    }
    // A worker counts a verdict just after storing it, so the last one may be
    // visible in the API a moment before it is counted: poll, bounded.
    const std::vector<std::string> lines = {"zarquill_board_runs_received_total 2\n",
                                            "zarquill_board_runs_verified_total 1\n",
                                            "zarquill_board_runs_rejected_total 1\n",
                                            "zarquill_board_queue_length 0\n",
                                            "zarquill_board_verification_seconds_count 2\n",
                                            "zarquill_board_verification_failures_total 0\n",
                                            "zarquill_board_claims_lost_total 0\n",
                                            "zarquill_board_child_start_failures_total 0\n",
                                            "zarquill_board_verdict_write_failures_total 0\n"};
    std::string metrics;
    WaitFor(
        [&] {
            metrics = SendHttp(server->Port(), "GET", "/metrics").body;
            return std::all_of(lines.begin(), lines.end(), [&](const std::string& l) {
                return metrics.find(l) != std::string::npos;
            });
        },
        10000);
    for (const std::string& line : lines) {
        EXPECT_NE(metrics.find(line), std::string::npos) << line << metrics;
    }
}

// Uploads refused from what they claim, each with the reason; none is stored
// (a table of its own: the submissions share one address's rate limit).
TEST_P(BoardBackendTest, RefusesCraftedUploadsSayingWhy) {
    const std::string a = Bearer('a');
    const std::string hard = GoldenReplayBytes("hard");
    std::string flipped = hard;
    flipped[flipped.size() / 2] = static_cast<char>(flipped[flipped.size() / 2] ^ 0x10);
    const std::string tooLong = CraftReplay("easy", [](game::Replay& r) {
        r.header.frames = 2 * 60 * 60 * 60 + 1;
        r.steps.resize(r.header.frames, r.steps.back());
        r.checks.resize(game::ReplayCheckCount(r.header.frames), 0);
    });
    // Returns the easy run with another program version.
    const auto versioned = [](const std::string& version) {
        return CraftReplay("easy", [&](game::Replay& r) { r.header.programVersion = version; });
    };
    // Returns the easy run dated on another day.
    const auto dated = [](int64_t year, int64_t month, int64_t day) {
        return CraftReplay("easy", [&](game::Replay& r) {
            r.header.timestamp = scores::DateTimeNumber(year, month, day, 12, 0, 0);
        });
    };
    const std::vector<Case> cases = {
        Post("a run over 2 hours", a, tooLong, 400, "2 hours"),
        // Refused from the header, before the steps are unpacked (they do not match it).
        Post("a header claiming over 2 hours", a, WithHeaderFrames("easy", 2 * 60 * 60 * 60 + 1),
             400, "2 hours"),
        Post("a version with byte 0xFF", a, versioned("1.0.0\xFF"), 400, "printable ASCII"),
        Post("a version with a NUL", a, versioned(std::string("1.0\0", 4)), 400, "printable ASCII"),
        Post("a version that forges a log line", a,
             versioned("1.0.0\nrun 99 verified: score 999999"), 400, "printable ASCII"),
        Post("an overlong version", a, versioned(std::string(33, '1')), 400, "1 to 32 printable"),
        Post("a run dated in year 52", a, dated(52, 6, 1), 400,
             "before the game existed (2026-12-01)"),
        Post("a run dated the day before the game", a, dated(2026, 11, 30), 400,
             "before the game existed"),
        Post("a run dated far ahead", a, dated(2999, 1, 1), 400, "ahead of the server's clock"),
        Post("a truncated replay", a, hard.substr(0, hard.size() / 2), 400,
             "not a readable replay"),
        Post("a bit-flipped replay", a, flipped, 400, "not a readable replay"),
        Post("not a replay", a, "hello", 400, "not a readable replay"),
        Post("no body", a, "", 400, "no replay"),
        Post("a 2 MiB body", a, std::string(2 << 20, 'x'), 413, "1 MiB"),
        Post("a control character in the name", a, Renamed(std::string("\x07") + "bell", 9), 400,
             "cannot type"),
        Post("a bar the game stores as a broken bar", a, Renamed("a|b", 10), 400, "cannot type"),
        Post("an empty name", a, Renamed("", 11), 400, "no name"),
    };
    std::vector<std::pair<long long, const Case*>> accepted;
    SendCases(server->Port(), cases, accepted);
    EXPECT_TRUE(accepted.empty());
    EXPECT_EQ(server->Log().find("run 99 verified"), std::string::npos) << server->Log();
}

TEST_P(BoardBackendTest, LimitsSubmissionsPerAddressWithRetryAfter) {
    int answered = 0;
    HttpReply last;
    for (int i = 0; i < 60 && last.status != 429; ++i) {
        last = server->Submit("junk", TokenOf('a'));
        if (last.status == 400) ++answered;
    }
    ASSERT_EQ(last.status, 429) << "no submission was refused";
    EXPECT_GE(answered, 30);  // the burst
    EXPECT_GE(std::atoi(last.Header("retry-after").c_str()), 1);
    EXPECT_NE(JsonOf(last)["error"].get<std::string>().find("too many"), std::string::npos);
    // Reading is never limited.
    EXPECT_EQ(SendHttp(server->Port(), "GET", "/api/v1/boards/hard").status, 200);
}

TEST_P(BoardBackendTest, OperatorsHideShowAndFreeNamesBesideTheRunningServer) {
    const long long id = SubmitOk(Renamed("Zoe", 10), TokenOf('a'));
    ASSERT_GT(id, 0);
    const auto verdict = JsonOf(server->WaitForVerdict(id));
    ASSERT_EQ(verdict["state"], "verified");
    const std::string score = verdict["score"].dump();
    const std::string run = "/api/v1/runs/" + std::to_string(id);
    const std::string medium =
        CraftReplay("medium", [](game::Replay& r) { r.header.name = "zoe"; });
    // The name is Zoe's token's until it is freed.
    EXPECT_EQ(server->Submit(medium, TokenOf('b')).status, 403);
    // Whether a page lists the run.
    const auto listed = [&](const std::string& page) {
        return SendHttp(server->Port(), "GET", page)
                   .body.find("\"id\":" + std::to_string(id) + ",") != std::string::npos;
    };
    ASSERT_TRUE(listed("/api/v1/boards/easy"));
    ASSERT_TRUE(listed("/api/v1/players/zoe"));

    struct Step {
        std::vector<std::string> args;
        int status;
        std::string log;          // a part of the command's log line
        bool hidden;              // the run is hidden after the step
        std::string output = "";  // a part of what the command prints
    };
    const std::string ids = std::to_string(id), why = "score from a modified build";
    const std::string header = "id\tname\tdifficulty\tscore\thidden_at\treason\n";
    const Step steps[] = {
        {{"hidden"}, 0, "hidden: 0 hidden runs listed for uid", false, header},
        {{"hide", ids, why}, 0, "hide: run " + ids + " hidden (" + why + ") by uid", true},
        {{"hide", "999999", "x"}, 1, "hide: there is no run 999999; nothing done", true},
        // The operator alone sees what the public no longer does: the name and the reason.
        {{"hidden"},
         0,
         "hidden: 1 hidden run listed for uid",
         true,
         header + ids + "\tZoe\teasy\t" + score + "\t20"},
        {{"hidden", "extra"}, 2, "usage: zarquill-board hidden", true},
        {{"show", ids}, 0, "show: run " + ids + " shown again by uid", false},
        {{"show", "999999"}, 1, "there is no run 999999", false},
        {{"free-name", "Nobody"}, 1, "the name 'Nobody' belongs to no token; nothing done", false},
        {{"free-name", "ZOE"}, 0, "free-name: the name 'ZOE' is free by uid", false},
        {{"hide", ids}, 2, "usage: zarquill-board hide ID REASON", false},
    };
    for (const Step& step : steps) {
        std::string log, output;
        EXPECT_EQ(server->RunCommand(step.args, &log, &output), step.status)
            << step.args[0] << ": " << log;
        EXPECT_NE(log.find(step.log), std::string::npos) << log;
        EXPECT_EQ(output.rfind(step.output, 0), 0u) << step.args[0] << ": " << output;
        // The server sees another process's change within a few of its checks.
        WaitFor([&] { return listed("/api/v1/boards/easy") != step.hidden; },
                10 * board::kRankingCheckMs);
        EXPECT_EQ(listed("/api/v1/boards/easy"), !step.hidden) << step.args[0];
        EXPECT_EQ(listed("/api/v1/players/zoe"), !step.hidden) << step.args[0];
        const HttpReply page = SendHttp(server->Port(), "GET", run);
        const HttpReply replay = SendHttp(server->Port(), "GET", run + "/replay");
        auto j = JsonOf(page);
        ASSERT_TRUE(j.is_object()) << page.body;
        if (step.hidden) {
            // Hidden for its name as often as for its play: neither is shown.
            EXPECT_EQ(page.status, 410) << page.body;
            EXPECT_EQ(j["error"], "hidden by the board's operator") << page.body;
            EXPECT_EQ(j["reason"], why) << page.body;
            EXPECT_EQ(page.body.find("Zoe"), std::string::npos) << page.body;
            EXPECT_EQ(replay.status, 404);
        } else {
            EXPECT_EQ(page.status, 200) << page.body;
            EXPECT_EQ(j["rank"], 1) << j.dump();
            EXPECT_EQ(replay.status, 200);
        }
    }
    // The freed name goes to the next token that sends a run under it.
    EXPECT_EQ(server->Submit(medium, TokenOf('b')).status, 202);

    // A board in PostgreSQL is backed up with its own tools.
    std::string log;
    const int backup = server->RunCommand({"backup", dir / "copy.sqlite"}, &log);
    if (backend == BoardBackend::Postgres) {
        EXPECT_EQ(backup, 2);
        EXPECT_NE(log.find("back it up with pg_dump"), std::string::npos) << log;
    } else {
        EXPECT_EQ(backup, 0) << log;
    }
}

// Every BoardBackendTest case of this program, on both storage backends.
INSTANTIATE_TEST_SUITE_P(Backends, BoardBackendTest,
                         ::testing::Values(BoardBackend::Sqlite, BoardBackend::Postgres),
                         [](const auto& info) {
                             return info.param == BoardBackend::Sqlite ? "Sqlite" : "Postgres";
                         });

}  // namespace
}  // namespace zqtest

// The --share command of the real program against a real board on loopback:
// nothing sent without a board, verdicts and ranks as JSON lines with the
// exit status of the worst run, a name in ISO 8859-1 reaching the board as
// "Zoë", a run queued while the board is down and sent from the queue after
// it is back (to a board on another port), and a run never posted twice.
#include "app/share_cli.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "game/replay_file.h"
#include "tests/board/board_fixture.h"
#include "tests/support/board_harness.h"
#include "tests/support/temp_dir.h"

namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Golden(const char* name) {
    return std::string(ZQ_SOURCE_DIR) + "/tests/data/replays/" + name;
}

// A portable game folder, a board beside it, and a way to run "zarquill --share" (with no display).
class ShareCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* d : {"/game", "/game/Files", "/game/Files/Common", "/game/Files/274"}) {
            ASSERT_EQ(::mkdir((dir_.path() + d).c_str(), 0755), 0) << d;
        }
    }
    Outcome Share(const std::string& args) {
        const std::string err = dir_ / "err.txt";
        const std::string command = "cd '" + dir_ / "game" +
                                    "' && exec env -u DISPLAY '" ZQ_DIST_DIR "/zarquill' --share " +
                                    args + " 2>'" + err + "'";
        Outcome o;
        std::FILE* p = ::popen(command.c_str(), "r");
        if (!p) return o;
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) o.out.append(buf, n);
        const int raw = ::pclose(p);
        o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        o.err = zqtest::ReadWholeFile(err);
        return o;
    }
    void NameBoard(int port) {
        ASSERT_TRUE(
            zqtest::WriteWholeFile(dir_ / "game/Files/Board.ini",
                                   "Server = http://127.0.0.1:" + std::to_string(port) + "\r\n"));
    }
    std::string Queue() const { return zqtest::ReadWholeFile(dir_ / "game/Files/274/board.queue"); }

    zqtest::TempDir dir_;
};

TEST_F(ShareCommandTest, SendsRunsPrintsVerdictsAndQueuesWhatCannotBeSent) {
    // Runs made for the test, each a game of its own (the board takes a replay
    // of a game it has as that game): a boasted score, and a run under the name "Zoë".
    game::Replay replay;
    std::string error;
    ASSERT_TRUE(game::ReadReplayFile(Golden("easy.zqr"), replay, error)) << error;
    game::Replay named = replay;
    named.header.name = "Zo\xEB";
    zqtest::PlayOtherwise(named, 1);
    ASSERT_TRUE(game::WriteReplayFile(dir_ / "zoe.zqr", named));
    zqtest::PlayOtherwise(replay, 2);
    replay.header.score += 1000;
    replay.header.name = "Boaster";
    ASSERT_TRUE(game::WriteReplayFile(dir_ / "boasted.zqr", replay));

    // Without Board.ini nothing is sent, and no token is made.
    Outcome o = Share("'" + Golden("easy.zqr") + "'");
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find("no board named"), std::string::npos) << o.err;
    EXPECT_EQ(o.out, "");
    struct stat st {};
    EXPECT_NE(::stat((dir_ / "game/Files/274/board.token").c_str(), &st), 0);

    zqtest::BoardServer board(dir_ / "board/data");
    ASSERT_EQ(::mkdir((dir_ / "board").c_str(), 0755), 0);
    ASSERT_TRUE(board.Start()) << board.Log();
    NameBoard(board.Port());

    struct Case {
        std::string args;
        int status;
        std::vector<std::string> lines;  // a text each printed line holds, in order
    } cases[] = {
        {"'" + Golden("easy.zqr") + "' '" + Golden("hard.zqr") + "'",
         0,
         {"\"id\":1,\"state\":\"verified\",\"rank\":1}",
          "\"id\":2,\"state\":\"verified\",\"rank\":1}"}},
        {"'" + dir_ / "boasted.zqr" + "' missing.zqr",
         2,
         {"\"state\":\"rejected\",\"reason\":\"score differs\"}",
          "{\"file\":\"" + dir_ / "game/missing.zqr" +
              "\",\"id\":null,\"state\":\"unreadable\",\"reason\":\"no such file\"}"}},
        {"'" + dir_ / "boasted.zqr" + "'", 1, {"\"state\":\"rejected\""}},
        {"'" + dir_ / "zoe.zqr" + "'", 0, {"\"id\":4,\"state\":\"verified\""}},
        // Sent again: the board already has it; the same id, and no second post.
        {"'" + Golden("hard.zqr") + "' --board http://127.0.0.1:" + std::to_string(board.Port()),
         0,
         {"\"id\":2,\"state\":\"verified\",\"rank\":1}"}},
    };
    for (const Case& c : cases) {
        o = Share(c.args);
        EXPECT_EQ(o.status, c.status) << c.args << "\n" << o.out << o.err;
        size_t at = 0;
        for (const std::string& text : c.lines) {
            const size_t end = o.out.find('\n', at);
            ASSERT_NE(end, std::string::npos) << c.args << "\n" << o.out;
            EXPECT_NE(o.out.substr(at, end - at).find(text), std::string::npos) << text << "\n"
                                                                                << o.out;
            at = end + 1;
        }
        EXPECT_EQ(at, o.out.size()) << o.out;
    }
    ASSERT_EQ(::stat((dir_ / "game/Files/274/board.token").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string token = zqtest::ReadWholeFile(dir_ / "game/Files/274/board.token");
    EXPECT_EQ(o.out.find(token.substr(0, 20)), std::string::npos);
    EXPECT_EQ(board.Log().find(token.substr(0, 20)), std::string::npos);
    // The board took the name from the replay and shows it in UTF-8.
    const zqtest::HttpReply zoe = zqtest::SendHttp(board.Port(), "GET", "/api/v1/runs/4");
    EXPECT_NE(zoe.body.find("\"name\":\"Zo\xC3\xAB\""), std::string::npos) << zoe.body;
    // Four runs reached the board, each once: nothing was posted twice.
    const zqtest::HttpReply metrics = zqtest::SendHttp(board.Port(), "GET", "/metrics");
    EXPECT_NE(metrics.body.find("zarquill_board_runs_received_total 4\n"), std::string::npos)
        << metrics.body;

    // The board is down: the run is queued; back on another port, the queue goes out.
    board.Stop();
    o = Share("'" + Golden("medium.zqr") + "'");
    EXPECT_EQ(o.status, 2) << o.out << o.err;
    EXPECT_NE(o.out.find("\"state\":\"queued\",\"reason\":\"the board cannot be reached"),
              std::string::npos)
        << o.out;
    EXPECT_NE(Queue().find("medium.zqr\",\"server\":\"http://127.0.0.1:" +
                           std::to_string(board.Port()) + "\",\"state\":\"queued\""),
              std::string::npos)
        << Queue();
    ASSERT_TRUE(board.Start()) << board.Log();
    NameBoard(board.Port());
    o = Share("");
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_NE(o.out.find("medium.zqr\",\"id\":5,\"state\":\"verified\",\"rank\":1}"),
              std::string::npos)
        << o.out;
    o = Share("");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "");  // nothing waits any more
}

TEST(ShareArguments, FilesAreMadeAbsoluteAndOptionsChecked) {
    const app::ShareOptions a =
        app::ParseShareArguments({"a.zqr", "/x/b.zqr", "--board", "http://h"}, "/home/p");
    EXPECT_EQ(a.files, (std::vector<std::string>{"/home/p/a.zqr", "/x/b.zqr"}));
    EXPECT_EQ(a.board, "http://h");
    EXPECT_EQ(a.error, "");
    EXPECT_NE(app::ParseShareArguments({"--board"}, "/").error, "");
    EXPECT_NE(app::ParseShareArguments({"--bored", "x"}, "/").error, "");
}

}  // namespace

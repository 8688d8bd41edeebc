// The board's web page against a real server: its files with their headers
// and nothing else reachable, then the page itself in headless Chromium
// (web_page.py drives the browser) over a server seeded with runs.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "board/limits.h"
#include "board/web_files.h"
#include "tests/board/board_fixture.h"

namespace zqtest {
namespace {

using nlohmann::json;

TEST_F(BoardTest, ServesThePageFilesByTheirNamesOnly) {
    struct FileCase {
        std::string target;
        std::string contentType;
        std::string marker;  // a part of the body
    };
    const std::vector<FileCase> files = {
        {"/", "text/html; charset=utf-8", "<script src=\"board.js\" defer></script>"},
        {"/board.css", "text/css; charset=utf-8", "@media"},
        {"/board.js", "text/javascript; charset=utf-8", "textContent"},
        {"/icon.svg", "image/svg+xml", "<svg"},
    };
    for (const FileCase& f : files) {
        const HttpReply r = SendHttp(server->Port(), "GET", f.target);
        EXPECT_EQ(r.status, 200) << f.target;
        EXPECT_EQ(r.Header("content-type"), f.contentType) << f.target;
        EXPECT_EQ(r.Header("x-content-type-options"), "nosniff") << f.target;
        EXPECT_EQ(r.Header("content-security-policy").rfind("default-src 'self';", 0), 0u)
            << f.target;
        EXPECT_NE(r.body.find(f.marker), std::string::npos) << f.target;
    }
    const HttpReply head = SendHttp(server->Port(), "HEAD", "/");
    EXPECT_EQ(head.status, 200);
    EXPECT_TRUE(head.body.empty());
    EXPECT_EQ(SendHttp(server->Port(), "POST", "/").status, 405);

    // Other names, other spellings of the known ones, and ways out of the folder.
    const std::vector<std::string> refused = {
        "/index.html",
        "/web/index.html",
        "/BOARD.JS",
        "/board.js/",
        "//board.js",
        "/./board.js",
        "/%62oard.js",
        "/board.js%00",
        "/board.js/..",
        "/../CMakeLists.txt",
        "/%2e%2e/CMakeLists.txt",
        "/..%2fCMakeLists.txt",
        "/zarquill-board",
        "/web/../board.js",
        "/favicon.ico",
    };
    for (const std::string& target : refused) {
        const HttpReply r = SendHttp(server->Port(), "GET", target);
        EXPECT_EQ(r.status, 404) << target;
        EXPECT_EQ(r.Header("content-type"), "application/json") << target;
    }
}

// Writes a file, making its folder.
void WriteFile(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(WebFiles, FoundBesideTheProgramInTheBuildAndInstalledLayouts) {
    TempDir dir;
    WriteFile(dir / "build/board/web/index.html", "<!DOCTYPE html>");
    WriteFile(dir / "usr/share/zarquill-board/web/index.html", "<!DOCTYPE html>");
    std::filesystem::create_directories(dir / "usr/bin/web");  // a folder without the page
    std::filesystem::create_directories(dir / "elsewhere");
    EXPECT_EQ(board::FindWebFolder(dir / "build/board/zarquill-board"), dir / "build/board/web");
    EXPECT_EQ(board::FindWebFolder(dir / "usr/bin/zarquill-board"),
              dir / "usr/share/zarquill-board/web");
    EXPECT_EQ(board::FindWebFolder(dir / "elsewhere/zarquill-board"), "");
}

TEST(WebFiles, AFolderMissingAFileOrHoldingAnOversizedOneServesNoPage) {
    const std::vector<std::string> names = {"index.html", "board.css", "board.js", "icon.svg"};
    for (const std::string& bad : {std::string("missing"), std::string("oversized")}) {
        TempDir dir;
        for (const std::string& name : names) {
            if (name == "board.js" && bad == "missing") continue;
            WriteFile(dir / name, name == "board.js" ? std::string(board::kMaxWebFileBytes + 1, ' ')
                                                     : std::string("x"));
        }
        board::WebFiles files;
        std::string error;
        EXPECT_FALSE(files.Load(dir.path(), error)) << bad;
        EXPECT_NE(error.find("board.js"), std::string::npos) << bad << ": " << error;
        EXPECT_FALSE(files.Loaded());
        const std::optional<board::Response> root = files.Find("/");
        ASSERT_TRUE(root.has_value());
        EXPECT_EQ(root->status, 404);
        EXPECT_NE(root->body.find("no web page"), std::string::npos) << root->body;
        EXPECT_FALSE(files.Find("/board.js").has_value());
    }
}

// Returns where the browser is missing ("" when chromium, its driver and selenium are here).
std::string MissingBrowser() {
    if (::access("/usr/bin/chromium", X_OK) != 0) return "/usr/bin/chromium";
    if (::access("/usr/bin/chromedriver", X_OK) != 0) return "/usr/bin/chromedriver";
    if (std::system("/usr/bin/python3 -c 'import selenium' >/dev/null 2>&1") != 0) {
        return "python3-selenium";
    }
    return "";
}

TEST_F(BoardTest, PageShowsTheSeededBoardsInARealBrowser) {
    if (const std::string missing = MissingBrowser(); !missing.empty()) {
        const char* ci = std::getenv("CI");
        if (ci && std::string(ci) == "true") {
            FAIL() << missing << " is missing (scripts/setup.sh installs it)";
        }
        GTEST_SKIP() << missing << " is missing (scripts/setup.sh installs it)";
    }
    // A game of its own under a name: played otherwise by shift pixels.
    const auto renamed = [](const std::string& golden, const std::string& name, int shift) {
        return CraftReplay(golden, [&](game::Replay& r) {
            r.header.name = name;
            PlayOtherwise(r, shift);
        });
    };
    const std::string markup = "<b>Bold</b><img src=x>";
    const std::string longName = "Wanderer" + std::string(60, 'W');
    const std::string cheater = "Cheater";
    const std::string boasted = CraftReplay("easy", [&](game::Replay& r) {
        r.header.name = cheater;
        PlayOtherwise(r, 4);
        r.header.score += 1000;
    });

    // One worker and one verdict at a time: equal scores rank in this order.
    struct Seed {
        std::string bytes;
        char token;
        const char* board;  // "" for a run that must not be ranked
        const char* state;
    };
    const std::vector<Seed> seeds = {
        {GoldenReplayBytes("easy"), 'a', "easy", "verified"},
        {renamed("easy", markup, 1), 'b', "easy", "verified"},
        // The name's second run: a board shows one row a name.
        {renamed("easy", "Scripted", 2), 'a', "", "verified"},
        {renamed("easy", longName, 3), 'c', "easy", "verified"},
        {boasted, 'd', "", "rejected"},
        {GoldenReplayBytes("medium"), 'a', "medium", "verified"},
        {GoldenReplayBytes("hard"), 'a', "hard", "verified"},
        {renamed("hard", "\xC5nna", 13), 'e', "hard", "verified"},
    };
    json boards = {{"easy", json::array()}, {"medium", json::array()}, {"hard", json::array()}};
    std::vector<int64_t> scriptedScores;  // token a's runs, all under the golden name
    int scriptedRanked = 0;               // of them, the name's best on a board
    for (const Seed& seed : seeds) {
        const long long id = SubmitOk(seed.bytes, TokenOf(seed.token));
        ASSERT_GT(id, 0);
        const json run = JsonOf(server->WaitForVerdict(id));
        ASSERT_TRUE(run.is_object()) << server->Log();
        ASSERT_EQ(run["state"], seed.state) << run.dump();
        if (seed.token == 'a') {
            scriptedScores.push_back(run["score"].get<int64_t>());
            scriptedRanked += run["rank"].is_number();
        }
        if (*seed.board) {
            json& rows = boards[seed.board];
            rows.push_back({{"rank", rows.size() + 1},
                            {"name", run["name"]},
                            {"score", run["score"]},
                            {"date", run["date"]}});
        }
    }

    std::sort(scriptedScores.rbegin(), scriptedScores.rend());
    TempDir work;
    const std::filesystem::path build = ZQ_BUILD_DIR;
    const json plan = {
        {"url", "http://127.0.0.1:" + std::to_string(server->Port()) + "/"},
        {"shots", (build / "board-page").string()},
        {"boards", boards},
        {"markup", markup},
        {"absent", cheater},
        {"download",
         {{"board", "hard"},
          {"rank", 1},
          {"file", std::string(ZQ_SOURCE_DIR) + "/tests/data/replays/hard.zqr"}}},
        {"player", {{"name", "Scripted"}, {"scores", scriptedScores}, {"ranked", scriptedRanked}}},
    };
    std::ofstream(work / "plan.json") << plan.dump(2);

    const std::string command = "/usr/bin/python3 " + std::string(ZQ_SOURCE_DIR) +
                                "/tests/board/web_page.py " + (work / "plan.json") + " 2>&1";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) output.append(buf, n);
    const int status = ::pclose(pipe);
    EXPECT_EQ(status, 0) << output;
}

}  // namespace
}  // namespace zqtest

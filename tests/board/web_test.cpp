// The board's web page against a real server: its files and the viewer's
// bundle with their headers and nothing else reachable, then the page itself
// in headless Chromium (web_page.py drives the browser) over a server seeded
// with runs, watching some of them when the build has the viewer.
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "board/limits.h"
#include "board/verify.h"
#include "board/web_files.h"
#include "tests/board/board_fixture.h"
#include "tests/support/xvfb.h"

namespace zqtest {
namespace {

// Returns the bytes a gzip stream holds ("" when it is not one).
std::string Gunzip(const std::string& gzipped) {
    z_stream z{};
    if (inflateInit2(&z, 15 + 16) != Z_OK) return "";
    std::string out;
    char chunk[65536];
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gzipped.data()));
    z.avail_in = static_cast<uInt>(gzipped.size());
    int result = Z_OK;
    while (result == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(chunk);
        z.avail_out = sizeof chunk;
        result = inflate(&z, Z_NO_FLUSH);
        out.append(chunk, sizeof chunk - z.avail_out);
    }
    inflateEnd(&z);
    return result == Z_STREAM_END ? out : "";
}

using nlohmann::json;

// Whether the build staged the watch bundle beside the server (the WebAssembly build is on).
#ifdef ZQ_BOARD_VIEWER_STAGED
constexpr bool kViewerStaged = true;
#else
constexpr bool kViewerStaged = false;
#endif

// The page's content policy: this server only, WebAssembly compiled but no text evaluated.
const std::string kPolicy =
    "default-src 'self'; script-src 'self' 'wasm-unsafe-eval'; base-uri 'none'; "
    "form-action 'none'; frame-ancestors 'none'";
// The files of the watch bundle and the type each is served with.
const std::vector<std::pair<std::string, std::string>> kBundle = {
    {"pack.js", "text/javascript; charset=utf-8"},
    {"viewer.js", "text/javascript; charset=utf-8"},
    {"zarquill-viewer.js", "text/javascript; charset=utf-8"},
    {"zarquill-viewer.wasm", "application/wasm"},
    {"zarquill-viewer-data.bin", "application/octet-stream"},
    {"zarquill-play.js", "text/javascript; charset=utf-8"},
    {"zarquill-play.wasm", "application/wasm"},
};

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
        {"/play", "text/html; charset=utf-8", "<canvas id=\"play-canvas\""},
        {"/play.js", "text/javascript; charset=utf-8", "requestAnimationFrame"},
    };
    for (const FileCase& f : files) {
        const HttpReply r = SendHttp(server->Port(), "GET", f.target);
        EXPECT_EQ(r.status, 200) << f.target;
        EXPECT_EQ(r.Header("content-type"), f.contentType) << f.target;
        EXPECT_EQ(r.Header("x-content-type-options"), "nosniff") << f.target;
        EXPECT_EQ(r.Header("content-security-policy"), kPolicy) << f.target;
        EXPECT_EQ(r.Header("cache-control"), "no-cache") << f.target;
        EXPECT_NE(r.body.find(f.marker), std::string::npos) << f.target;
    }
    // The bundle when the build has one: each file at its address, kept for good.
    const HttpReply index = SendHttp(server->Port(), "GET", "/viewer/files.json");
    ASSERT_EQ(index.status, kViewerStaged ? 200 : 404) << index.body;
    EXPECT_EQ(index.Header("cache-control"), kViewerStaged ? "no-cache" : "");
    for (const auto& [name, type] : kViewerStaged ? kBundle : decltype(kBundle){}) {
        const HttpReply r = SendHttp(server->Port(), "GET", JsonOf(index)[name]);
        EXPECT_EQ(r.status, 200) << name;
        EXPECT_EQ(r.Header("content-type"), type) << name;
        EXPECT_EQ(r.Header("x-content-type-options"), "nosniff") << name;
        EXPECT_EQ(r.Header("cache-control"), "public, max-age=31536000, immutable") << name;
        EXPECT_EQ(r.Header("content-security-policy"), kPolicy) << name;
        // Whole and unaltered, the megabytes of the data pack too.
        const std::string file = ReadWholeFile(std::string(ZQ_BUILD_DIR) + "/board/web/viewer/" + name);
        EXPECT_TRUE(r.body == file) << name << ": " << r.body.size() << " bytes";
        EXPECT_EQ(r.Header("content-encoding"), "") << name;
        // Compressed for a browser, the same bytes once inflated.
        const HttpReply z = SendHttp(server->Port(), "GET", JsonOf(index)[name],
                                     {"Accept-Encoding: gzip, deflate, br"});
        EXPECT_EQ(z.Header("content-encoding"), "gzip") << name;
        EXPECT_EQ(z.Header("vary"), "Accept-Encoding") << name;
        EXPECT_LT(z.body.size(), file.size()) << name;
        EXPECT_TRUE(Gunzip(z.body) == file) << name;
    }
    const HttpReply head = SendHttp(server->Port(), "HEAD", "/");
    EXPECT_EQ(head.status, 200);
    EXPECT_TRUE(head.body.empty());
    EXPECT_EQ(SendHttp(server->Port(), "POST", "/").status, 405);

    // Other names, other spellings of the known ones, and ways out of the folder.
    const std::vector<std::string> refused = {
        "/index.html",
        "/web/index.html",
        "/play.html",
        "/play/",
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
        // The bundle answers only at the addresses of its content.
        "/viewer/",
        "/viewer/viewer.js",
        "/viewer/zarquill-viewer.wasm",
        "/viewer/zarquill-viewer.0123456789abcdef.wasm",
        "/viewer/files.json/",
        "/viewer/../index.html",
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

TEST(WebFiles, PageAndVerifierFoundBesideTheProgramInTheBuildAndInstalledLayouts) {
    TempDir dir;
    WriteFile(dir / "build/board/web/index.html", "<!DOCTYPE html>");
    WriteFile(dir / "usr/share/zarquill-board/web/index.html", "<!DOCTYPE html>");
    std::filesystem::create_directories(dir / "usr/bin/web");  // a folder without the page
    std::filesystem::create_directories(dir / "elsewhere");
    EXPECT_EQ(board::FindWebFolder(dir / "build/board/zarquill-board"), dir / "build/board/web");
    EXPECT_EQ(board::FindWebFolder(dir / "usr/bin/zarquill-board"),
              dir / "usr/share/zarquill-board/web");
    EXPECT_EQ(board::FindWebFolder(dir / "elsewhere/zarquill-board"), "");

    // The verifier: only an executable file counts; without one the server verifies itself.
    const auto verifier = [&dir](const std::string& path, bool executable) {
        WriteFile(dir / path, "#!/bin/sh\n");
        if (executable) {
            std::filesystem::permissions(dir / path, std::filesystem::perms::owner_exec,
                                         std::filesystem::perm_options::add);
        }
    };
    verifier("build/board/zarquill-board-verify", true);
    verifier("usr/libexec/zarquill-board/zarquill-board-verify", true);
    verifier("elsewhere/zarquill-board-verify", false);
    EXPECT_EQ(board::FindVerifier(dir / "build/board/zarquill-board"),
              dir / "build/board/zarquill-board-verify");
    EXPECT_EQ(board::FindVerifier(dir / "usr/bin/zarquill-board"),
              dir / "usr/libexec/zarquill-board/zarquill-board-verify");
    EXPECT_EQ(board::FindVerifier(dir / "elsewhere/zarquill-board"),
              dir / "elsewhere/zarquill-board");
}

TEST(WebFiles, AFolderMissingAFileOrHoldingAnOversizedOneServesNoPage) {
    const std::vector<std::string> names = {"index.html", "board.css", "board.js",
                                            "icon.svg",   "play.html", "play.js"};
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

// Writes a web folder: the page's files and, unless bundle is empty, those files in viewer/.
void WriteWebFolder(const std::filesystem::path& dir,
                    const std::vector<std::pair<std::string, std::string>>& bundle) {
    for (const char* name : {"index.html", "board.css", "board.js", "icon.svg", "play.html", "play.js"}) {
        WriteFile(dir / name, "x");
    }
    for (const auto& [name, bytes] : bundle) WriteFile(dir / "viewer" / name, bytes);
}

TEST(WebFiles, ServesTheBundleAtAddressesMadeFromItsContent) {
    TempDir dir;
    std::vector<std::pair<std::string, std::string>> bundle;
    for (const auto& [name, type] : kBundle) bundle.emplace_back(name, "abc");
    WriteWebFolder(dir.path(), bundle);
    board::WebFiles files;
    std::string error;
    ASSERT_TRUE(files.Load(dir.path(), error)) << error;
    ASSERT_TRUE(files.HasViewer()) << files.ViewerProblem();

    // SHA-256 of "abc" starts ba7816bf8f01cfea.
    const nlohmann::json want = {
        {"pack.js", "/viewer/pack.ba7816bf8f01cfea.js"},
        {"viewer.js", "/viewer/viewer.ba7816bf8f01cfea.js"},
        {"zarquill-viewer.js", "/viewer/zarquill-viewer.ba7816bf8f01cfea.js"},
        {"zarquill-viewer.wasm", "/viewer/zarquill-viewer.ba7816bf8f01cfea.wasm"},
        {"zarquill-viewer-data.bin", "/viewer/zarquill-viewer-data.ba7816bf8f01cfea.bin"},
        {"zarquill-play.js", "/viewer/zarquill-play.ba7816bf8f01cfea.js"},
        {"zarquill-play.wasm", "/viewer/zarquill-play.ba7816bf8f01cfea.wasm"},
    };
    const std::optional<board::Response> index = files.Find("/viewer/files.json");
    ASSERT_TRUE(index.has_value());
    EXPECT_EQ(index->status, 200);
    EXPECT_EQ(index->contentType, "application/json");
    EXPECT_EQ(json::parse(index->body, nullptr, false), want) << index->body;
    EXPECT_EQ(index->headers, (decltype(index->headers){{"Cache-Control", "no-cache"}}));
    for (const auto& [name, type] : kBundle) {
        const std::optional<board::Response> r = files.Find(want[name].get<std::string>());
        ASSERT_TRUE(r.has_value()) << name;
        EXPECT_EQ(r->contentType, type) << name;
        ASSERT_TRUE(r->sharedBody) << name;
        EXPECT_EQ(*r->sharedBody, "abc") << name;
    }

    // New content, a new address; the old one is gone and the others stay.
    WriteFile(dir / "viewer/zarquill-viewer.wasm", "abd");
    ASSERT_TRUE(files.Load(dir.path(), error)) << error;
    const json changed = json::parse(files.Find("/viewer/files.json")->body);
    EXPECT_NE(changed["zarquill-viewer.wasm"], want["zarquill-viewer.wasm"]);
    EXPECT_TRUE(files.Find(changed["zarquill-viewer.wasm"].get<std::string>()).has_value());
    EXPECT_FALSE(files.Find(want["zarquill-viewer.wasm"].get<std::string>()).has_value());
    EXPECT_EQ(changed["viewer.js"], want["viewer.js"]);
}

TEST(WebFiles, ABrokenBundleIsLeftOutAndThePageServedWithoutIt) {
    struct Case {
        std::string what;
        std::function<void(const std::filesystem::path&)> spoil;  // on the web folder
        std::string named;                                        // in the reason
    };
    const std::vector<Case> cases = {
        {"a file missing",
         [](const std::filesystem::path& web) {
             std::filesystem::remove(web / "viewer/zarquill-viewer.wasm");
         },
         "zarquill-viewer.wasm"},
        {"a file too large",
         [](const std::filesystem::path& web) {
             std::filesystem::resize_file(web / "viewer/zarquill-viewer-data.bin",
                                          board::kMaxViewerFileBytes + 1);
         },
         "zarquill-viewer-data.bin"},
        {"a folder in a file's place",
         [](const std::filesystem::path& web) {
             std::filesystem::remove(web / "viewer/viewer.js");
             std::filesystem::create_directory(web / "viewer/viewer.js");
         },
         "viewer.js"},
        {"viewer a file",
         [](const std::filesystem::path& web) {
             std::filesystem::remove_all(web / "viewer");
             WriteFile(web / "viewer", "x");
         },
         "pack.js"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        std::vector<std::pair<std::string, std::string>> bundle;
        for (const auto& [name, type] : kBundle) bundle.emplace_back(name, name);
        WriteWebFolder(dir.path(), bundle);
        c.spoil(dir.path());
        board::WebFiles files;
        std::string error;
        ASSERT_TRUE(files.Load(dir.path(), error)) << c.what << ": " << error;
        EXPECT_FALSE(files.HasViewer()) << c.what;
        EXPECT_NE(files.ViewerProblem().find(c.named), std::string::npos)
            << c.what << ": " << files.ViewerProblem();
        const std::optional<board::Response> index = files.Find("/viewer/files.json");
        ASSERT_TRUE(index.has_value()) << c.what;
        EXPECT_EQ(index->status, 404) << c.what;
        EXPECT_EQ(files.Find("/")->status, 200) << c.what;
    }
    // No bundle at all is no problem: the page as it always was.
    TempDir plain;
    WriteWebFolder(plain.path(), {});
    board::WebFiles files;
    std::string error;
    ASSERT_TRUE(files.Load(plain.path(), error)) << error;
    EXPECT_FALSE(files.HasViewer());
    EXPECT_EQ(files.ViewerProblem(), "");
    EXPECT_EQ(files.Find("/viewer/files.json")->status, 404);
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

// The step of the Hard golden whose pictures are compared.
constexpr int kPictureStep = 1200;
// How far the browser's picture may stray from the desktop's: the two software rasterisers
// (SwiftShader, llvmpipe) differ by a level or two in filtering and along edges.
constexpr int kPictureLevels = 24;           // per channel, for a pixel to count as the same
constexpr double kPictureSameShare = 0.9995;  // of the pixels

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
    json goldenHard;                      // the Hard golden's run, watched to its end
    for (const Seed& seed : seeds) {
        const long long id = SubmitOk(seed.bytes, TokenOf(seed.token));
        ASSERT_GT(id, 0);
        const json run = JsonOf(server->WaitForVerdict(id));
        ASSERT_TRUE(run.is_object()) << server->Log();
        ASSERT_EQ(run["state"], seed.state) << run.dump();
        if (seed.bytes == GoldenReplayBytes("hard")) goldenHard = run;
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

    // The Hard golden with its first check value altered (the file's check value
    // made good): rejected here, and a viewer must stop at the same step.
    const long long damagedId = SubmitOk(CraftReplay("hard",
                                                     [](game::Replay& r) {
                                                         r.header.name = "Tamperer";
                                                         r.checks.at(0) ^= 1;
                                                     }),
                                         TokenOf('f'));
    ASSERT_GT(damagedId, 0);
    const json damaged = JsonOf(server->WaitForVerdict(damagedId));
    ASSERT_EQ(damaged["state"], "rejected") << damaged.dump();
    ASSERT_TRUE(damaged["first_bad_step"].is_number()) << damaged.dump();

    // A run recorded under the first rules, which the viewer does not play (the
    // board keeps it, rejected: its first check value is altered, as the game
    // itself starts like the Hard golden's scoring play, another player's).
    const long long oldRulesId = SubmitOk(CraftReplay("rules1/hard",
                                                      [](game::Replay& r) {
                                                          r.header.name = "Elder";
                                                          r.checks.at(0) ^= 1;
                                                      }),
                                          TokenOf('g'));
    ASSERT_GT(oldRulesId, 0);
    server->WaitForVerdict(oldRulesId);

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
        {"viewer",
         {{"served", kViewerStaged},
          {"run",
           {{"id", goldenHard["id"]},
            {"name", goldenHard["name"]},
            {"score", goldenHard["score"]}}},
          {"damaged", {{"id", damagedId}, {"first_bad_step", damaged["first_bad_step"]}}},
          {"old_rules", oldRulesId},
          {"picture", {{"file", work / "webgl.rgba"}, {"step", kPictureStep}}}}},
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
    if (!kViewerStaged) return;

    // The picture WebGL drew at a busy step (nebulae, glows, ships, shots, the score's text)
    // is the desktop OpenGL driver's, pixel for pixel within the rasterisers' differences.
    ZQ_REQUIRE_X(SharedXvfb().Ok(), "Xvfb did not start");
    const json size = json::parse(ReadWholeFile(work / "webgl.rgba.json"), nullptr, false);
    ASSERT_TRUE(size.is_object()) << output;
    const int width = size["width"], height = size["height"];
    const std::string webgl = ReadWholeFile(work / "webgl.rgba");
    // Drawn by a program of its own: Mesa's driver leaks a block per context, which the
    // sanitizer build's leak check must not count against this test.
    const std::string drawn = work / "desktop.rgba";
    const std::string picture = "LSAN_OPTIONS=detect_leaks=0 " ZQ_VIEWER_PICTURE " " ZQ_SOURCE_DIR
                                "/tests/data/replays/hard.zqr " + std::to_string(kPictureStep) +
                                " " + std::to_string(width) + " " + std::to_string(height) + " " +
                                drawn + " 2>&1";
    ASSERT_EQ(std::system(picture.c_str()), 0) << picture;
    const std::string desktop = ReadWholeFile(drawn);
    ASSERT_EQ(webgl.size(), static_cast<size_t>(width) * height * 4);
    ASSERT_EQ(desktop.size(), webgl.size());
    size_t same = 0, lit = 0;
    for (size_t i = 0; i < webgl.size(); i += 4) {
        int worst = 0;
        for (size_t c = 0; c < 3; ++c) {
            worst = std::max(worst, std::abs(static_cast<uint8_t>(webgl[i + c]) -
                                             static_cast<uint8_t>(desktop[i + c])));
        }
        same += worst <= kPictureLevels;
        lit += (static_cast<uint8_t>(desktop[i]) | static_cast<uint8_t>(desktop[i + 1]) |
                static_cast<uint8_t>(desktop[i + 2])) > 16;
    }
    const size_t pixels = webgl.size() / 4;
    EXPECT_GE(static_cast<double>(same) / pixels, kPictureSameShare)
        << same << " of " << pixels << " pixels the same (" << width << "x" << height << ")";
    EXPECT_GT(static_cast<double>(lit) / pixels, 0.15) << "a busy step of the game is mostly dark";
}

}  // namespace
}  // namespace zqtest

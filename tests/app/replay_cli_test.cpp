// The --verify-replay command over matching, differing, damaged and missing
// files: one JSON line per file and the exit status of the worst one.
#include "app/replay_cli.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "game/replay_file.h"
#include "tests/support/temp_dir.h"

namespace {

std::string Golden(const char* name) {
    return std::string(ZQ_SOURCE_DIR) + "/tests/data/replays/" + name;
}

// Runs VerifyReplays and returns its status with what it printed.
int Verify(const std::vector<std::string>& files, std::string& out, std::string& err) {
    std::FILE* o = std::tmpfile();
    std::FILE* e = std::tmpfile();
    const int status = app::VerifyReplays(files, o, e);
    for (auto [f, s] : {std::pair{o, &out}, std::pair{e, &err}}) {
        std::rewind(f);
        s->clear();
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s->append(buf, n);
        std::fclose(f);
    }
    return status;
}

TEST(VerifyReplays, PrintsOneLinePerFileAndExitsWithTheWorstResult) {
    zqtest::TempDir dir;
    // A replay whose recorded score the game cannot reproduce.
    game::Replay boasted;
    std::string error;
    ASSERT_TRUE(game::ReadReplayFile(Golden("easy.zqr"), boasted, error)) << error;
    boasted.header.score += 1000;
    ASSERT_TRUE(game::WriteReplayFile(dir / "boasted.zqr", boasted));
    const std::string bytes = zqtest::ReadWholeFile(Golden("hard.zqr"));
    ASSERT_TRUE(zqtest::WriteWholeFile(dir / "cut.zqr", bytes.substr(0, bytes.size() / 2)));

    struct Case {
        std::vector<std::string> files;
        int status;
        std::vector<std::string> out;  // texts every printed line set must hold
        std::string err;
    };
    const std::string missing =
        "{\"file\":\"" + dir / "caf\xC3\xA9.zqr" +
        "\",\"frames\":null,\"recorded_score\":null,\"simulated_score\":null,\"ok\":false,"
        "\"first_bad_step\":null,\"reason\":\"no such file\"}\n";
    const std::vector<Case> cases = {
        {{Golden("easy.zqr"), Golden("medium.zqr"), Golden("hard.zqr")},
         0,
         {"\"ok\":true,\"first_bad_step\":null,\"reason\":null}\n"},
         ""},
        // Runs recorded under rules 1 verify under rules 1.
        {{Golden("rules1/easy.zqr"), Golden("rules1/medium.zqr"), Golden("rules1/hard.zqr")},
         0,
         {"\"ok\":true,\"first_bad_step\":null,\"reason\":null}\n"},
         ""},
        {{Golden("easy.zqr"), dir / "boasted.zqr"},
         1,
         {"\"simulated_score\":300,\"ok\":false", "\"reason\":\"score differs\""},
         ""},
        {{dir / "cut.zqr", dir / "boasted.zqr"},
         2,
         {"{\"file\":\"" + dir / "cut.zqr" +
          "\",\"frames\":null,\"recorded_score\":null,\"simulated_score\":null,\"ok\":false,"
          "\"first_bad_step\":null,\"reason\":\"damaged"},
         "cannot read replay " + dir / "cut.zqr" + ": damaged"},
        // A path in UTF-8 is kept; any other is read as ISO 8859-1, so both lines read "café".
        {{dir / "caf\xC3\xA9.zqr", dir / "caf\xE9.zqr"}, 2, {missing + missing}, "no such file"},
    };
    for (const Case& c : cases) {
        std::string out, err;
        EXPECT_EQ(Verify(c.files, out, err), c.status) << c.files.back();
        size_t lines = 0;
        for (char ch : out) lines += ch == '\n';
        EXPECT_EQ(lines, c.files.size()) << out;
        // Every line carries the same fields, so scripts read them all alike.
        for (const char* field :
             {"\"file\":", "\"frames\":", "\"recorded_score\":", "\"simulated_score\":", "\"ok\":",
              "\"first_bad_step\":", "\"reason\":"}) {
            size_t seen = 0;
            for (size_t at = out.find(field); at != std::string::npos;
                 at = out.find(field, at + 1)) {
                ++seen;
            }
            EXPECT_EQ(seen, lines) << field << " in " << out;
        }
        for (const std::string& text : c.out) EXPECT_NE(out.find(text), std::string::npos) << out;
        EXPECT_NE(err.find(c.err), std::string::npos) << err;
    }
}

}  // namespace

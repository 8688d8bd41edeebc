// The same game on every machine: games recorded here with random input, and
// the golden replays, re-simulated by this build's replay checker and by the
// WebAssembly build's (under node) give the same verdicts and check values, and
// the browser viewer's set-up draws the same calls in both builds.
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "game/game_math.h"
#include "game/replay_file.h"
#include "tests/game/game_fixture.h"
#include "tests/game/scripted_game.h"
#include "tests/support/temp_dir.h"
#include "tests/support/xvfb.h"

namespace {

// Games per difficulty, and how long each may last before its player quits
// (3, 4 and 5 minutes in turn; a player who loses every life ends sooner).
constexpr int kGamesPerDifficulty = 7;
constexpr int kMinutesOfPlay[] = {3, 4, 5};
// The longest the checkers may take over all the games.
constexpr int kCheckerSeconds = 600;

// Returns what a command printed on its standard output.
std::string Output(const std::string& command) {
    std::string out;
    FILE* pipe = popen(("timeout " + std::to_string(kCheckerSeconds) + " " + command).c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    pclose(pipe);
    return out;
}

// Returns the lines of text.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class CrossBuild : public game_test::GameFixture {
  protected:
    void SetUp() override {
        game_test::GameFixture::SetUp();
        if (std::string(ZQ_WASM_CHECKER).empty()) {
            if (zqtest::UnderCI()) FAIL() << "the WebAssembly build is off (ZQ_BUILD_WASM)";
            GTEST_SKIP() << "the WebAssembly build is off (ZQ_BUILD_WASM)";
        }
    }
};

TEST_F(CrossBuild, RecordedGamesPlayTheSameInTheWebAssemblyBuild) {
    zqtest::TempDir dir;
    std::string files;
    // The goldens, and ten minutes of Hard at its busiest (played by a look-ahead player).
    for (const char* golden : {"easy", "medium", "hard", "hard-ten-minutes"}) {
        files += std::string(" ") + ZQ_SOURCE_DIR "/tests/data/replays/" + golden + ".zqr";
    }
    int games = 4;
    for (int d = 0; d < 3; ++d) {
        for (int k = 0; k < kGamesPerDifficulty; ++k) {
            const int minutes = kMinutesOfPlay[k % 3];
            const game::Replay r = game_test::PlayRandomGame(h, d, 100 * d + k, minutes * 3600);
            EXPECT_GE(r.header.frames, 3000u) << "difficulty " << d << " game " << k;
            const std::string file = dir / ("random-" + std::to_string(d) + "-" +
                                              std::to_string(k) + ".zqr");
            ASSERT_TRUE(game::WriteReplayFile(file, r));
            files += " " + file;
            ++games;
        }
    }
    const std::vector<std::string> native = Lines(Output(ZQ_NATIVE_CHECKER + files));
    const std::vector<std::string> wasm = Lines(Output(ZQ_NODE " " ZQ_WASM_CHECKER + files));
    ASSERT_EQ(native.size(), static_cast<size_t>(games));
    for (const std::string& line : native) EXPECT_NE(line.find(" ok=1 "), std::string::npos) << line;
    EXPECT_NE(native[3].find(" rules=" + std::to_string(game::kNewestRules) + " ok=1 frames=36000 "),
              std::string::npos) << native[3];
    EXPECT_EQ(wasm, native);

    // Rules 1 take their sines from the platform: the WebAssembly build leaves them to native ones.
    const std::string old = ZQ_SOURCE_DIR "/tests/data/replays/rules1/hard.zqr";
    EXPECT_NE(Output(ZQ_NODE " " ZQ_WASM_CHECKER " " + old).find(" rules=1 not checked here"),
              std::string::npos);
}

// The viewer's drawing: at chosen steps of each golden replay the WebAssembly build, with the
// glyphs baked into the viewer's data pack, makes exactly the draw calls (images, places,
// colours, draw state, texts and fonts) that this build makes with its own font renderer.
TEST_F(CrossBuild, ViewerDrawsTheSameInTheWebAssemblyBuild) {
    const std::string files = std::string(" --files ") + ZQ_DIST_DIR "/Files";
    const std::string pack = std::string(" --data ") + ZQ_BUILD_DIR "/viewer/zarquill-viewer-data.bin";
    for (const char* golden : {"easy", "medium", "hard"}) {
        const std::string args = std::string(" --draws 1,240,777,1200,1499") + files;
        const std::string file = std::string(" ") + ZQ_SOURCE_DIR "/tests/data/replays/" + golden +
                                 ".zqr";
        const std::string native = Output(ZQ_NATIVE_CHECKER + args + file);
        const std::string wasm = Output(ZQ_NODE " " ZQ_WASM_CHECKER + args + pack + file);
        const std::vector<std::string> lines = Lines(native);
        int steps = 0, images = 0, texts = 0;
        for (const std::string& line : lines) {
            steps += line.rfind("step ", 0) == 0;
            images += line.rfind("image ", 0) == 0;
            // Text comes in one of the game's fonts, never the built-in stand-in.
            if (line.rfind("text ", 0) == 0) {
                ++texts;
                EXPECT_EQ(line.find(" font=-"), std::string::npos) << golden << ": " << line;
            }
        }
        EXPECT_EQ(steps, 5) << golden;
        EXPECT_GT(images, 100) << golden;
        EXPECT_GE(texts, 5) << golden;
        EXPECT_EQ(Lines(wasm), lines) << golden;
    }
}

}  // namespace

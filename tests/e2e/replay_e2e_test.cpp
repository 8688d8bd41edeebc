// Replays end to end: a game played with real input on a slow system (frame
// skipping on) is stored with a name, its replay verifies with
// --verify-replay to the score the score file holds, and watching it from the
// high-score panel or with --replay plays it to its end and returns to the
// title screen.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "tests/e2e/e2e_fixture.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using zqtest::HasLine;
using zqtest::kPanelX;
using zqtest::kVH;
using zqtest::kVW;
using zqtest::Pace;
using zqtest::ProgramRun;

// Returns the first number after "key": in a JSON line ("" when absent).
std::string JsonNumber(const std::string& json, const std::string& key) {
    std::smatch m;
    if (!std::regex_search(json, m, std::regex("\"" + key + "\":(-?[0-9]+)"))) return {};
    return m[1].str();
}

using ReplayE2E = zqtest::ProgramTest;

TEST_F(ReplayE2E, APlayedGameVerifiesAndPlaysBackFromThePanel) {
    ProgramRun run;
    ASSERT_TRUE(StartToTitle(run));
    // Slow-system mode from the panel: from the settings file, the start-up
    // engine test would take about a minute.
    ASSERT_TRUE(ToggleSettings(run, true));
    ChooseSlowSystem(run, true);
    ASSERT_TRUE(ToggleSettings(run, false));  // saves the settings
    ASSERT_NE(zqtest::ReadWholeFile(run.Path("Files/Setup.ini")).find("ESS=1"), std::string::npos);
    ASSERT_TRUE(StartGame(run, zqtest::Difficulty::kHard));

    // Fly through the incoming formations firing with the right button, with a
    // rest (both buttons up) and a held left button on the way.
    run.ButtonDown(3);
    for (int i = 0; i < 24; ++i) {
        run.MovePointerLogical(250 + 25 * i, 300 + 60 * (i % 6), kVW, kVH);
        Pace(200);
        if (i == 12) run.ButtonUp(3);
        if (i == 14) run.ButtonDown(1);
        if (i == 17) {
            run.ButtonUp(1);
            run.ButtonDown(3);
        }
    }
    run.ButtonUp(3);
    ASSERT_TRUE(QuitGame(run));
    ASSERT_TRUE(EnterName(run, "rec"));

    // The run and its replay are stored before the title screen comes back.
    std::string scores, replay;
    ASSERT_TRUE(WaitForStoredRun(run, "rec", &scores));
    ASSERT_TRUE(WaitForTitle(run));
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(run.Path("Files/274/replays"), ec)) {
        replay = e.path().string();
    }
    ASSERT_FALSE(replay.empty()) << "no replay was stored";
    const std::string stored = JsonNumber(scores, "score");
    ASSERT_FALSE(stored.empty());

    int status = -1;
    const std::string verdict = run.RunOnce({"--verify-replay", replay}, &status);
    EXPECT_NE(verdict.find("\"ok\":true"), std::string::npos) << verdict;
    EXPECT_NE(verdict.find("\"first_bad_step\":null"), std::string::npos) << verdict;
    EXPECT_EQ(JsonNumber(verdict, "simulated_score"), stored) << verdict;
    EXPECT_EQ(status, 0) << verdict;
    const std::string frames = JsonNumber(verdict, "frames");
    const std::string ended = "\tReplay ended at step " + frames + " of " + frames;

    // Watch: pin the best run of the table, then press Watch in its detail box.
    for (int attempt = 0; attempt < 3 && !HasLine(run.LogLines(), "\tReplay started : rec");
         ++attempt) {
        ClickAt(run, kPanelX + 100, kVH - 589 + 9);
        ClickAt(run, kPanelX + 415 - 96 + 44, kVH - 628 + 15);
        run.WaitForLogLine("\tReplay started : rec", 5000);
    }
    ASSERT_TRUE(HasLine(run.LogLines(), "\tReplay started : rec"));
    run.MovePointerLogical(20, 20, kVW, kVH);  // the pointer does nothing during playback
    run.KeyDown("space");                      // four times the speed
    ASSERT_TRUE(run.WaitForLogLine(ended, 180000));
    run.KeyUp("space");
    EXPECT_TRUE(WaitForTitle(run)) << "the title screen did not come back";
    EXPECT_TRUE(QuitFromTitle(run));

    // The same file from the command line plays at once, then the title screen comes.
    ProgramRun again;
    ASSERT_TRUE(again.Start({"--replay", replay}));
    ASSERT_TRUE(again.WaitForLogLine("\tReplay started : rec", zqtest::kLoadMs)) << again.StdErr();
    ASSERT_TRUE(again.WaitForWindow());
    again.KeyDown("space");
    ASSERT_TRUE(again.WaitForLogLine(ended, 180000));
    again.KeyUp("space");
    EXPECT_TRUE(WaitForTitle(again)) << "the title screen did not come back";
    EXPECT_TRUE(QuitFromTitle(again));
}

}  // namespace

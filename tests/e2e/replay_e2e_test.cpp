// Replays end to end: a game played with real input on a slow system (frame
// skipping on) is stored with a name, its replay verifies with
// --verify-replay to the score the score file holds, and watching it from the
// high-score panel or with --replay plays it to its end and returns to the
// title screen.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>

#include "tests/e2e/e2e_fixture.h"
#include "tests/support/program_harness.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using zqtest::Pause;
using zqtest::ProgramRun;

// The logical screen of an 800x600 window; the title screen's panel is 415
// wide there, its reference X = 1280 - 415, and the centre column (1280 - 415) / 2.
constexpr int kVW = 1280, kVH = 960;
constexpr int kPanelX = kVW - 415;
constexpr int kCentreX = (kVW - 415) / 2;

// Returns the first number after "key": in a JSON line ("" when absent).
std::string JsonNumber(const std::string& json, const std::string& key) {
    std::smatch m;
    if (!std::regex_search(json, m, std::regex("\"" + key + "\":(-?[0-9]+)"))) return {};
    return m[1].str();
}

// Returns the last lines of the program's log, for failure messages.
std::string LogTail(const ProgramRun& run) {
    const auto lines = run.LogLines();
    std::string out;
    for (size_t i = lines.size() > 30 ? lines.size() - 30 : 0; i < lines.size(); ++i) {
        out += lines[i] + "\n";
    }
    return out;
}

class ReplayE2E : public zqtest::ProgramTest {
  protected:
    // Presses are held for a good part of a second: a loaded machine may run
    // the game at a few frames per second, and a slow system honours the
    // pause key only on every other frame.
    void ClickLogical(ProgramRun& run, int x, int y) { ProgramTest::ClickLogical(run, x, y, 600); }
    void HoldKey(ProgramRun& run, const std::string& key) {
        run.KeyDown(key);
        Pause(600);
        run.KeyUp(key);
        Pause(300);
    }
    // Waits (bounded) until the window shows the menus' blue backdrop, or stops showing it.
    bool WaitForBlue(ProgramRun& run, bool blue, int timeoutMs) {
        for (int waited = 0; waited < timeoutMs && run.Running(); waited += 250) {
            if ((run.MeanBlue() > 40) == blue) return true;
            Pause(250);
        }
        return false;
    }
};

TEST_F(ReplayE2E, APlayedGameVerifiesAndPlaysBackFromThePanel) {
    ProgramRun run;
    ASSERT_TRUE(zqtest::WriteWholeFile(run.Path("Files/Setup.ini"), "ESS=1\r\n"));
    StartToTitle(run);
    // Hard, then the start button.
    ClickLogical(run, kCentreX - 50, kVH / 2 + 300 + 20);
    ClickLogical(run, kCentreX, kVH / 2 + 80);
    Pause(800);

    // Fly through the incoming formations firing with the right button, with a
    // rest (both buttons up) and a held left button on the way.
    run.MovePointerLogical(300, 480, kVW, kVH);
    run.ButtonDown(3);
    for (int i = 0; i < 24; ++i) {
        run.MovePointerLogical(250 + 25 * i, 300 + 60 * (i % 6), kVW, kVH);
        Pause(200);
        if (i == 12) run.ButtonUp(3);
        if (i == 14) run.ButtonDown(1);
        if (i == 17) {
            run.ButtonUp(1);
            run.ButtonDown(3);
        }
    }
    run.ButtonUp(3);
    // Pause menu: Down to Quit, Space to choose it.
    HoldKey(run, "Escape");
    HoldKey(run, "Down");
    HoldKey(run, "space");

    // Name entry comes up on the menus' backdrop.
    ASSERT_TRUE(WaitForBlue(run, true, 30000)) << "no name entry; log:\n" << LogTail(run);
    Pause(500);
    for (int i = 0; i < 12; ++i) run.TapKey("BackSpace");
    for (char c : std::string("rec")) run.TapKey(std::string(1, c));
    run.TapKey("Return");

    // The run and its replay are stored at once.
    const std::string folder = run.Path("Files/274/replays");
    std::string replay;
    for (int waited = 0; waited < 10000 && replay.empty(); waited += 200) {
        if (fs::is_directory(folder)) {
            for (const auto& e : fs::directory_iterator(folder)) replay = e.path().string();
        }
        if (replay.empty()) Pause(200);
    }
    ASSERT_FALSE(replay.empty()) << "no replay was stored";
    const std::string scores = zqtest::CommandOutput(run.Root() + "/zarquill --scores 2>/dev/null");
    ASSERT_NE(scores.find("\"name\":\"rec\""), std::string::npos) << scores;
    const std::string stored = JsonNumber(scores, "score");
    ASSERT_FALSE(stored.empty());

    const std::string verdict = zqtest::CommandOutput(run.Root() + "/zarquill --verify-replay '" +
                                                      replay + "'; echo \"exit $?\"");
    EXPECT_NE(verdict.find("\"ok\":true"), std::string::npos) << verdict;
    EXPECT_NE(verdict.find("\"first_bad_step\":null"), std::string::npos) << verdict;
    EXPECT_EQ(JsonNumber(verdict, "simulated_score"), stored) << verdict;
    EXPECT_NE(verdict.find("exit 0"), std::string::npos) << verdict;
    const std::string frames = JsonNumber(verdict, "frames");

    // Watch: pin the best run of the table, then press Watch in its detail box.
    ASSERT_TRUE(WaitForBlue(run, true, 10000));
    Pause(1500);  // the panel slides in
    ClickLogical(run, kPanelX + 100, kVH - 589 + 9);
    ClickLogical(run, kPanelX + 415 - 96 + 44, kVH - 628 + 15);
    ASSERT_TRUE(run.WaitForLogLine("\tReplay started : rec", 10000));
    run.MovePointerLogical(20, 20, kVW, kVH);  // the pointer does nothing during playback
    run.KeyDown("space");                      // four times the speed
    ASSERT_TRUE(run.WaitForLogLine("\tReplay ended at step " + frames + " of " + frames, 180000));
    run.KeyUp("space");
    EXPECT_TRUE(WaitForBlue(run, true, 10000)) << "the title screen did not come back";
    QuitFromTitle(run);

    // The same file from the command line plays at once, then the title screen comes.
    ProgramRun again;
    ASSERT_TRUE(again.Start({"--replay", replay}));
    ASSERT_TRUE(again.WaitForLogLine("\tReplay started : rec", 120000)) << again.StdErr();
    ASSERT_TRUE(again.WaitForWindow());
    again.KeyDown("space");
    ASSERT_TRUE(again.WaitForLogLine("\tReplay ended at step " + frames + " of " + frames, 180000));
    again.KeyUp("space");
    EXPECT_TRUE(WaitForBlue(again, true, 10000)) << "the title screen did not come back";
    QuitFromTitle(again);
}

}  // namespace

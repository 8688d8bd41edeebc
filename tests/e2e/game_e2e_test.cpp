// The game end to end: start from the title screen with the mouse, fly and
// fire, pause and quit, enter a name, and find the run in the score file
// (read from outside with --scores); and a game that ends by game over.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <regex>
#include <thread>

#include "tests/e2e/e2e_fixture.h"
#include "tests/support/program_harness.h"
#include "tests/support/xvfb.h"

namespace {

using zqtest::ProgramRun;

// The logical screen of an 800x600 window, and the title screen's layout
// there: the panel is 415 wide, so the centre column is at (1280 - 415) / 2.
constexpr int kVW = 1280, kVH = 960;
constexpr int kCentreX = (kVW - 415) / 2;

using zqtest::Pause;
using zqtest::ScoresJson;

class GameE2E : public zqtest::ProgramTest {
  protected:
    // Waits (bounded) for the name-entry screen: after the dark playfield the
    // blue menu backdrop comes back. Then replaces the name and confirms it.
    std::string EnterName(ProgramRun& run, const std::string& name, int timeoutMs) {
        bool entry = false;
        for (int waited = 0; waited < timeoutMs && !entry && run.Running(); waited += 250) {
            entry = run.MeanBlue() > 40;
            if (!entry) Pause(250);
        }
        if (!entry) return {};
        Pause(500);  // let the screen take its first frames
        for (int i = 0; i < 12; ++i) run.TapKey("BackSpace");
        for (char c : name) run.TapKey(std::string(1, c));
        run.TapKey("Return");
        for (int waited = 0; waited < 10000; waited += 200) {
            std::string json = ScoresJson(run);
            if (!json.empty()) return json;
            Pause(200);
        }
        return {};
    }
};

TEST_F(GameE2E, PlayPauseQuitAndTheRunIsStoredWithItsName) {
    ProgramRun run;
    StartToTitle(run);
    // Medium, then the start button.
    ClickLogical(run, kCentreX - 50, kVH / 2 + 250 + 20);
    ClickLogical(run, kCentreX, kVH / 2 + 80);
    Pause(1000);

    // Fly around firing with the right button.
    run.MovePointerLogical(300, 400, kVW, kVH);
    run.ButtonDown(3);
    for (int i = 0; i < 12; ++i) {
        run.MovePointerLogical(300 + 30 * i, 400 + 20 * (i % 5), kVW, kVH);
        Pause(250);
    }
    run.ButtonUp(3);

    // Escape opens the pause menu; Down selects Quit; Space chooses it.
    run.TapKey("Escape");
    Pause(500);
    run.TapKey("Down");
    Pause(300);
    run.TapKey("space");

    const auto before = std::chrono::system_clock::now();
    std::string json = EnterName(run, "ace", 30000);
    ASSERT_FALSE(json.empty()) << "no run was stored";
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        json, m, std::regex("\"name\":\"([^\"]*)\".*\"mode\":([0-9]+).*\"quit\":([0-9]+)")))
        << json;
    EXPECT_EQ(m[1].str(), "ace");
    EXPECT_EQ(m[2].str(), "1");  // Medium
    EXPECT_EQ(m[3].str(), "1");  // ended from the pause menu

    // The time stamp is today's date and about now.
    std::time_t t = std::chrono::system_clock::to_time_t(before);
    std::tm local{};
    localtime_r(&t, &local);
    char date[16];
    std::strftime(date, sizeof date, "%d-%m-%Y", &local);
    EXPECT_NE(json.find(std::string("\"date\":\"") + date + "\""), std::string::npos) << json;

    // The run was saved when it was added, before the program ends.
    QuitFromTitle(run);
    EXPECT_NE(ScoresJson(run).find("\"name\":\"ace\""), std::string::npos);
}

TEST_F(GameE2E, EnemiesEndTheGameAndTheRunIsStoredAsFinished) {
    ProgramRun run;
    StartToTitle(run);
    // Hard sends a column of craft through the middle of the screen from the
    // first frame on; a ship parked there is hit until its lives are gone.
    ClickLogical(run, kCentreX - 50, kVH / 2 + 300 + 20);
    ClickLogical(run, kCentreX, kVH / 2 + 80);
    for (int i = 0; i < 20; ++i) {
        run.MovePointerLogical(640, 200 + 30 * i, kVW, kVH);
        Pause(100);
    }
    run.MovePointerLogical(640, 480, kVW, kVH);

    std::string json = EnterName(run, "bo", 180000);
    ASSERT_FALSE(json.empty()) << "the game did not end";
    EXPECT_NE(json.find("\"name\":\"bo\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"mode\":2"), std::string::npos) << json;
    EXPECT_NE(json.find("\"quit\":0"), std::string::npos) << json;
    QuitFromTitle(run);
}

}  // namespace

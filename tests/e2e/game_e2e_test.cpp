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

using zqtest::kCentreX;
using zqtest::kVH;
using zqtest::kVW;
using zqtest::Pause;
using zqtest::ProgramRun;
using zqtest::ScoresJson;

using GameE2E = zqtest::ProgramTest;

TEST_F(GameE2E, PlayPauseQuitAndTheRunIsStoredWithItsName) {
    ProgramRun run;
    StartToTitle(run);
    PlayMediumAndQuit(run);

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

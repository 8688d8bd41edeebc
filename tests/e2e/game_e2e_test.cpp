// The game end to end: start from the title screen with the mouse, fly and
// fire, pause and quit, enter a name, and find the run in the score file
// (read from outside with --scores); and a game that ends by game over.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

#include "tests/e2e/e2e_fixture.h"

namespace {

using zqtest::Difficulty;
using zqtest::kVH;
using zqtest::kVW;
using zqtest::ProgramRun;

using GameE2E = zqtest::ProgramTest;

TEST_F(GameE2E, PlayPauseQuitAndTheRunIsStoredWithItsName) {
    ProgramRun run;
    ASSERT_TRUE(StartToTitle(run));
    ASSERT_TRUE(StartGame(run, Difficulty::kMedium));
    // Fly a stretch of the playfield while firing (the right button).
    run.ButtonDown(3);
    for (int i = 0; i < 12; ++i) {
        run.MovePointerLogical(300 + 30 * i, 400 + 20 * (i % 5), kVW, kVH);
        zqtest::Pace(250);
    }
    run.ButtonUp(3);
    ASSERT_TRUE(QuitGame(run));

    const auto before = std::chrono::system_clock::now();
    ASSERT_TRUE(EnterName(run, "ace"));
    std::string json;
    ASSERT_TRUE(WaitForStoredRun(run, "ace", &json));
    EXPECT_NE(json.find("\"mode\":1"), std::string::npos) << json;  // Medium
    EXPECT_NE(json.find("\"quit\":1"), std::string::npos) << json;  // ended from the pause menu

    // The time stamp is today's date and about now.
    std::time_t t = std::chrono::system_clock::to_time_t(before);
    std::tm local{};
    localtime_r(&t, &local);
    char date[16];
    std::strftime(date, sizeof date, "%d-%m-%Y", &local);
    EXPECT_NE(json.find(std::string("\"date\":\"") + date + "\""), std::string::npos) << json;

    // The run was saved when it was added, before the program ends.
    EXPECT_TRUE(QuitFromTitle(run));
    EXPECT_TRUE(zqtest::HoldsRun(zqtest::ScoresJson(run), "ace"));
}

TEST_F(GameE2E, EnemiesEndTheGameAndTheRunIsStoredAsFinished) {
    ProgramRun run;
    ASSERT_TRUE(StartToTitle(run));
    // Hard sends a column of craft through the middle of the screen from the
    // first frame on; a ship parked there is hit until its lives are gone.
    ASSERT_TRUE(StartGame(run, Difficulty::kHard));
    run.MovePointerLogical(640, 480, kVW, kVH);

    ASSERT_TRUE(EnterName(run, "bo", true, 180000)) << "the game did not end";
    std::string json;
    ASSERT_TRUE(WaitForStoredRun(run, "bo", &json));
    EXPECT_NE(json.find("\"mode\":2"), std::string::npos) << json;
    EXPECT_NE(json.find("\"quit\":0"), std::string::npos) << json;
    EXPECT_TRUE(QuitFromTitle(run));
}

}  // namespace

// GoogleTest fixture for game tests: installs the headless game before each
// test and removes it after; Step runs one frame of the real loop.
#pragma once

#include <gtest/gtest.h>

#include "tests/game/headless_game.h"

namespace game_test {

class GameFixture : public ::testing::Test {
  protected:
    void SetUp() override { InstallHeadless(h); }
    void TearDown() override { UninstallHeadless(); }

    // Sets up a game on the difficulty.
    void NewGame(int difficulty) {
        game::Difficulty = difficulty;
        game::PuffList.clear();  // a new game keeps the last one's puffs; tests start clean
        game::GameSetup();
    }
    // Runs one frame (without the frame end) and forgets what it drew.
    void Step() {
        h.driver->Clear();
        game::GameStep();
        game::GameFrameDone(0);
    }

    Headless h;
};

}  // namespace game_test

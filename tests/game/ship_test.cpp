// Tests of the ship: the gun's heat and cooldown, the cold start that
// ignores the click that began the game, easing and snapping, pinning
// with the left button, shots and being hurt.
#include <vector>

#include "game/game_math.h"
#include "game/ship.h"
#include "tests/game/game_fixture.h"

namespace {

using game_test::GameFixture;

class ShipTest : public GameFixture {
  protected:
    void SetUp() override {
        GameFixture::SetUp();
        NewGame(0);
    }
    // Runs the input step for `frames` frames; returns the frames (from 1) that fired.
    std::vector<int> Hold(bool left, bool right, int frames) {
        std::vector<int> fired;
        for (int f = 1; f <= frames; ++f) {
            const size_t before = game::ShotList.size();
            game::ShipInputWith(left, right);
            if (game::ShotList.size() != before) fired.push_back(f);
        }
        return fired;
    }
};

TEST_F(ShipTest, HoldingFromTheStartFiresNothingUntilReleased) {
    EXPECT_TRUE(Hold(true, false, 300).empty());
    EXPECT_TRUE(Hold(false, true, 300).empty());
    Hold(false, false, 1);
    EXPECT_EQ(Hold(true, false, 1), std::vector<int>{1});
}

TEST_F(ShipTest, HeatLengthensThePauseByOneFrameEveryTwoShots) {
    Hold(false, false, 1);
    EXPECT_EQ(Hold(true, false, 23), (std::vector<int>{1, 2, 3, 4, 5, 7, 9, 12, 15, 19, 23}));
    EXPECT_DOUBLE_EQ(game::Heat, 5.5);
    EXPECT_EQ(game::FireCooldown, 5);
}

TEST_F(ShipTest, OneReleasedFrameResetsTheCooldownButCoolsOnlyByTwo) {
    Hold(false, false, 1);
    Hold(true, false, 23);
    Hold(false, false, 1);
    EXPECT_EQ(game::FireCooldown, 0);
    EXPECT_DOUBLE_EQ(game::Heat, 3.5);
    EXPECT_EQ(Hold(false, true, 1), std::vector<int>{1});
    EXPECT_EQ(game::FireCooldown, 3);
    EXPECT_DOUBLE_EQ(game::Heat, 4.0);
    Hold(false, false, 10);
    EXPECT_DOUBLE_EQ(game::Heat, 0.0);  // never below zero
}

TEST_F(ShipTest, LeftButtonPinsTheShipRightButtonLetsItFollow) {
    Hold(false, false, 1);
    game::TargetX = 100;
    game::TargetY = 100;
    const double x = game::ShipX, y = game::ShipY;
    Hold(true, false, 10);
    EXPECT_DOUBLE_EQ(game::ShipX, x);
    EXPECT_DOUBLE_EQ(game::ShipY, y);
    Hold(false, true, 1);
    EXPECT_LT(game::ShipX, x);
    EXPECT_LT(game::ShipY, y);
}

TEST_F(ShipTest, EasingRecoversFromAShotAndSnapsWithinEightPixels) {
    Hold(false, false, 1);
    Hold(true, false, 1);
    EXPECT_EQ(game::EaseDivisor, 64);
    game::ShipX = 100;
    game::ShipY = 100;
    game::TargetX = 300;
    game::TargetY = 100;
    Hold(false, false, 1);
    EXPECT_EQ(game::EaseDivisor, 62);
    EXPECT_DOUBLE_EQ(game::ShipX, 100 + 200.0 / 62);
    Hold(false, false, 30);
    EXPECT_EQ(game::EaseDivisor, 16);
    game::ShipX = 107.9;
    game::ShipY = 92.1;
    game::TargetX = 115;
    game::TargetY = 100;
    Hold(false, false, 1);
    EXPECT_DOUBLE_EQ(game::ShipX, 115);
    EXPECT_DOUBLE_EQ(game::ShipY, 100);
}

TEST_F(ShipTest, ShotsLeaveAlongTheHeading) {
    Hold(false, false, 1);
    game::ShipAngle = 0;
    game::ShipX = 500;
    game::ShipY = 400;
    game::Time = 0;
    Hold(true, false, 1);
    ASSERT_EQ(game::ShotList.size(), 1u);
    const auto& s = game::ShotList.back();
    EXPECT_DOUBLE_EQ(s.x, 484);
    EXPECT_DOUBLE_EQ(s.y, 384);
    EXPECT_NEAR(s.gx, 0, 1e-9);
    EXPECT_NEAR(s.gy, -18, 1e-9);
    EXPECT_EQ(s.t, 1);
    EXPECT_EQ(s.n, 3);
    // At time 0 the colour is (150, 50, 250).
    EXPECT_EQ(s.r, 150);
    EXPECT_EQ(s.g, 150);
    EXPECT_EQ(s.b, 250);
}

TEST_F(ShipTest, DeadShipNeitherMovesNorFires) {
    Hold(false, false, 1);
    game::Lives = 0;
    game::TargetX = 0;
    const double x = game::ShipX;
    EXPECT_TRUE(Hold(true, true, 20).empty());
    Hold(false, false, 5);
    EXPECT_DOUBLE_EQ(game::ShipX, x);
}

TEST_F(ShipTest, TurnsTowardThePointerAndLocksOnWithinFourDegrees) {
    // Target straight to the right of the ship's centre line: heading 90 (the start).
    game::ShipX = 500;
    game::ShipY = 400;
    game::TargetX = 700;
    game::TargetY = 400;
    game::AimAndDrawShip();
    EXPECT_NEAR(game::ShipAngle, 180 + game::ATan2(-212, 0), 1e-9);
    // Target straight above: heading 0 (or 360); the ship halves the turn each frame.
    game::ShipAngle = 90;
    game::TargetX = 488;
    game::TargetY = 100;
    game::AimAndDrawShip();
    EXPECT_DOUBLE_EQ(game::ShipAngle, 90 - 44);  // -89 halves to -44 (integer halving)
}

TEST_F(ShipTest, EnemyShotsHurtOnlyWhenNotInvulnerable) {
    game::ShipX = 500;
    game::ShipY = 400;
    game::Shot s;
    s.x = 500 + 16 - 32 + 23;
    s.y = 400 + 16 - 32;
    s.t = 0;
    game::ShotList.push_back(s);
    game::Invulnerable = 1;
    game::UpdateShots();
    EXPECT_EQ(game::Lives, 5);
    EXPECT_EQ(game::ShotList.size(), 1u);
    game::ShotList.front().x = s.x;
    game::Invulnerable = 0;
    game::UpdateShots();
    EXPECT_EQ(game::Lives, 4);
    EXPECT_EQ(game::Invulnerable, 120);
    EXPECT_TRUE(game::ShotList.empty());
    EXPECT_EQ(game::ParticleList.size(), 13u);
    EXPECT_EQ(game::GameScore, 0);
}

TEST_F(ShipTest, ShotsLeavingTheScreenAreRetired) {
    game::Shot a, b;
    a.x = 1280 + 60;
    a.gx = 5;  // 1345: out
    a.t = 1;
    b.x = 1280 + 60;
    b.gx = 4;  // 1344: still in
    b.t = 1;
    game::ShotList = {a, b};
    game::UpdateShots();
    ASSERT_EQ(game::ShotList.size(), 1u);
    EXPECT_DOUBLE_EQ(game::ShotList.front().x, 1344);
}

TEST_F(ShipTest, InvulnerabilityCountsDownOnlyWhileTheShipIsDrawn) {
    game::Invulnerable = 10;
    game::AimAndDrawShip();
    EXPECT_EQ(game::Invulnerable, 9);
    game::Lives = 0;
    game::AimAndDrawShip();
    EXPECT_EQ(game::Invulnerable, 9);
}

}  // namespace

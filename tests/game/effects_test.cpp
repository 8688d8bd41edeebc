// Tests of sparks and puffs: the points they carry, their colours and life,
// and how they are drawn.
#include <cmath>

#include "game/effects.h"
#include "tests/game/game_fixture.h"

namespace {

using game_test::GameFixture;

class EffectsTest : public GameFixture {
  protected:
    void SetUp() override {
        GameFixture::SetUp();
        NewGame(1);
    }
};

TEST_F(EffectsTest, BurstsScoreFiveExceptThePlayersDamage) {
    game::SpawnParticles(6, 100, 100, 1.0);
    EXPECT_EQ(game::GameScore, 5);
    game::SpawnParticles(13, 100, 100, 2.0);
    EXPECT_EQ(game::GameScore, 5);
    game::SpawnParticles(16, 100, 100, 2.0);
    EXPECT_EQ(game::GameScore, 10);
    game::SpawnPuffs(100, 100, 1, 2, 3);
    EXPECT_EQ(game::GameScore, 25);
    EXPECT_EQ(game::ParticleList.size(), 6u + 13u + 16u);
    EXPECT_EQ(game::PuffList.size(), 2u);
}

TEST_F(EffectsTest, SparksAreFastEnoughAndColouredInRange) {
    game::SpawnParticles(200, 50, 60, 0.5);
    for (const auto& p : game::ParticleList) {
        EXPECT_GT(std::fabs(p.xs) + std::fabs(p.ys), 3);
        EXPECT_TRUE(p.r == 100 || p.r == 150 || p.r == 200 || p.r == 250);
        EXPECT_GE(p.g, 100);
        EXPECT_LE(p.g, p.r);
        EXPECT_TRUE(p.b == 25 || p.b == 50 || p.b == 75 || p.b == 100);
        EXPECT_GE(p.a, 0.75 - 1e-12);
        EXPECT_DOUBLE_EQ(p.s, 0.5);
        EXPECT_DOUBLE_EQ(p.x, 50);
    }
}

TEST_F(EffectsTest, ATinySpreadDoesNotHang) {
    game::SpawnParticles(3, 0, 0, 0.0);
    EXPECT_EQ(game::ParticleList.size(), 3u);
}

TEST_F(EffectsTest, ABurstFromTheSameStreamStateRepeats) {
    const int64_t seed = game::ParticleSeed;
    game::SpawnParticles(5, 10, 10, 1.0);
    auto first = game::ParticleList;
    game::ParticleList.clear();
    game::ParticleSeed = seed;
    game::SpawnParticles(5, 10, 10, 1.0);
    auto a = first.begin();
    for (const auto& p : game::ParticleList) {
        EXPECT_DOUBLE_EQ(p.xs, a->xs);
        ++a;
    }
    EXPECT_EQ(game::ParticleSeed, seed + 1);
}

TEST_F(EffectsTest, WideSparksAreDrawnOpaqueUntilTheirLifeFallsBelowOne) {
    game::Particle p;
    p.x = 600;
    p.y = 400;
    p.xs = 0.1;
    p.ys = 0;
    p.r = p.g = p.b = 200;
    p.s = 2.0;
    p.a = 2.25;
    game::ParticleList.push_back(p);
    h.driver->Clear();
    game::UpdateParticles();
    auto images = h.driver->OfKind(media::DrawKind::Image);
    ASSERT_EQ(images.size(), 2u);
    EXPECT_FLOAT_EQ(images[0].state.color_alpha, 1.0f);  // the spark
    EXPECT_FLOAT_EQ(images[1].state.color_alpha, 0.5f);  // its glow
    EXPECT_EQ(images[1].state.blend_mode, media::LIGHTBLEND);
    game::ParticleList.front().a = 0.8;
    h.driver->Clear();
    game::UpdateParticles();
    images = h.driver->OfKind(media::DrawKind::Image);
    ASSERT_EQ(images.size(), 2u);
    EXPECT_NEAR(images[0].state.color_alpha, 0.785f, 1e-5);
}

TEST_F(EffectsTest, SparksRetireWhenFadedOrOffScreen) {
    game::Particle fading, leaving;
    fading.x = fading.y = 100;
    fading.a = 0.024;  // 0.009 after one frame
    fading.s = 1;
    leaving.x = -60;
    leaving.xs = -10;
    leaving.a = 0.5;
    leaving.s = 1;
    game::ParticleList = {fading, leaving};
    game::UpdateParticles();
    EXPECT_TRUE(game::ParticleList.empty());
}

TEST_F(EffectsTest, PuffsLiveAtMostTwentyFiveFramesAndOutsideTheBudgets) {
    engine::DrawBudgets[1] = engine::DrawBudgets[2] = engine::DrawBudgets[3] = 0;
    game::SpawnPuffs(300, 200, 10, 20, 30);
    const auto& second = game::PuffList.front();
    EXPECT_EQ(second.r, 20);  // channels rotated
    EXPECT_EQ(second.g, 30);
    EXPECT_EQ(second.b, 10);
    EXPECT_DOUBLE_EQ(second.s, 0.1);
    int frames = 0;
    while (!game::PuffList.empty() && frames < 100) {
        h.driver->Clear();
        game::UpdatePuffs();
        ++frames;
        EXPECT_FALSE(h.driver->OfKind(media::DrawKind::Image).empty());
    }
    EXPECT_LE(frames, 25);
    EXPECT_GE(frames, 23);  // the first ring starts at 0.9 or more
}

}  // namespace

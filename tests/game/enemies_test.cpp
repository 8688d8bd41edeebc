// Tests of the wave director, formations, turrets, motion and the enemy
// update: arrival frames and drawn values per difficulty, the pattern and
// kind progression, scoring of kills and contact with the ship.
#include <vector>

#include "game/backdrop.h"
#include "game/enemies.h"
#include "game/game_math.h"
#include "game/ship.h"
#include "tests/game/game_fixture.h"

namespace {

using game_test::GameFixture;

TEST(AngleDelta, TurnsTheShortWayInWholeDegrees) {
    EXPECT_EQ(game::AngleDelta(0, 90), 90);
    EXPECT_EQ(game::AngleDelta(90, 0), -89);  // 270 folds by 359, not 360
    EXPECT_EQ(game::AngleDelta(350, 10), 20);
    EXPECT_EQ(game::AngleDelta(10, 350), -19);
    EXPECT_EQ(game::AngleDelta(0, 179), 179);
    EXPECT_EQ(game::AngleDelta(0, 180), -179);
    EXPECT_EQ(game::AngleDelta(-90, 90), -179);
    EXPECT_EQ(game::AngleDelta(720, 45.9), 45);
    EXPECT_EQ(game::AngleDelta(45, 45), 0);
    EXPECT_EQ(game::AngleDelta(0, -0.5), 0);  // 359.5 - 359 truncates to 0
    EXPECT_EQ(game::AngleDelta(0, 359), 0);
    EXPECT_EQ(game::AngleDelta(0, 358), -1);
}

struct Arrival {
    int frame, pattern, kind, row, speed, phase, r, g, b, y1;
};

// Runs frames until `count` formations have been sent, noting each one.
class WaveTest : public GameFixture {
  protected:
    std::vector<Arrival> Arrivals(int difficulty, int count, int maxFrames) {
        NewGame(difficulty);
        std::vector<Arrival> out;
        for (int frame = 1; frame <= maxFrames && static_cast<int>(out.size()) < count; ++frame) {
            const int before = game::FormationCount;
            Step();
            if (game::FormationCount != before) {
                const auto& f = game::LastFormation;
                int y1 = 0;
                if (f.pattern == 2) y1 = static_cast<int>(FirstCraftOf(f).y) - 80;
                out.push_back(
                    {frame, f.pattern, f.kind, f.row, f.speed, f.phase, f.r, f.g, f.b, y1});
            }
        }
        return out;
    }
    // The first craft of the formation just sent (the one six from the end of the craft).
    const game::Enemy& FirstCraftOf(const game::FormationDraw&) {
        auto it = game::EnemyList.end();
        int craft = 0;
        while (it != game::EnemyList.begin() && craft < 6) {
            --it;
            if (it->n != game::kTurretCell) ++craft;
        }
        return *it;
    }
};

void ExpectArrivals(const std::vector<Arrival>& got, const std::vector<Arrival>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].frame, want[i].frame);
        EXPECT_EQ(got[i].pattern, want[i].pattern);
        EXPECT_EQ(got[i].kind, want[i].kind);
        EXPECT_EQ(got[i].row, want[i].row);
        EXPECT_EQ(got[i].speed, want[i].speed);
        EXPECT_EQ(got[i].phase, want[i].phase);
        EXPECT_EQ(got[i].r, want[i].r);
        EXPECT_EQ(got[i].g, want[i].g);
        EXPECT_EQ(got[i].b, want[i].b);
        if (want[i].pattern == 2) {
            EXPECT_EQ(got[i].y1, want[i].y1);
        }
    }
}

// The expected values below were computed by a separate model written from
// the documented rules alone (generator steps, RandomUnit, RandomInt/Real,
// StreamReseed, the director's counters and draw order, and the terrain
// rules that spend WaveSeed on turrets), on a 1280x960 screen; columns are
// frame, pattern, kind, row y0, speed v, phase f, colour r g b, and y1 for
// column patterns.
TEST_F(WaveTest, EasyFirstFormations) {
    ExpectArrivals(Arrivals(0, 4, 1200), {{400, 1, 0, 725, 6, 186, 125, 225, 75, 0},
                                          {600, 1, 0, 553, 5, 11, 100, 225, 100, 0},
                                          {799, 1, 0, 382, 4, 197, 225, 125, 75, 0},
                                          {997, 1, 0, 210, 3, 22, 225, 75, 125, 0}});
}

TEST_F(WaveTest, MediumFirstFormations) {
    ExpectArrivals(Arrivals(1, 4, 1000), {{200, 1, 0, 416, 6, 157, 250, 100, 75, 0},
                                          {350, 2, 0, 245, 5, 343, 75, 75, 225, 206},
                                          {499, 2, 0, 73, 4, 168, 225, 75, 100, 257},
                                          {647, 1, 0, 735, 3, 354, 225, 100, 100, 0}});
}

TEST_F(WaveTest, HardFirstFormationsStartInTheFirstFrame) {
    ExpectArrivals(Arrivals(2, 4, 600), {{1, 2, 0, 279, 6, 303, 75, 225, 100, 377},
                                         {101, 2, 0, 769, 5, 314, 75, 225, 75, 238},
                                         {200, 3, 0, 426, 3, 325, 75, 100, 250, 0},
                                         {298, 2, 0, 254, 2, 151, 100, 100, 225, 289}});
}

// Later formations depend on the turrets the terrain has placed in between
// (each one spends a WaveSeed reseed), and on the kinds having risen.
TEST_F(WaveTest, HardLaterFormationsFollowTurretsAndRisingKinds) {
    auto got = Arrivals(2, 40, 4000);
    ASSERT_EQ(got.size(), 40u);
    ExpectArrivals({got[19], got[39]}, {{1730, 4, 1, 327, 5, 74, 75, 250, 75, 0},
                                        {3160, 3, 2, 229, 3, 184, 100, 250, 75, 0}});
}

TEST_F(WaveTest, MediumLaterFormationAfterTurrets) {
    auto got = Arrivals(1, 20, 3000);
    ASSERT_EQ(got.size(), 20u);
    ExpectArrivals({got[19]}, {{2879, 2, 0, 464, 4, 289, 100, 225, 75, 394}});
}

TEST_F(WaveTest, FormationCraftCarryTheDrawnValues) {
    NewGame(1);
    for (int i = 0; i < 200; ++i) Step();
    ASSERT_EQ(game::FormationCount, 1);
    // Pattern 1: six craft in a row from W + 80, moving left at v, never firing.
    int i = 0;
    for (const auto& e : game::EnemyList) {
        if (e.n == game::kTurretCell) continue;
        ++i;
        EXPECT_EQ(e.t, 3);
        EXPECT_EQ(e.weapon, -1);
        EXPECT_EQ(e.health, 1);
        EXPECT_DOUBLE_EQ(e.gx, -6);
        EXPECT_DOUBLE_EQ(e.x, 1280 + 80 * i - 6);  // moved once in its first frame
        EXPECT_DOUBLE_EQ(e.y, 416);
        EXPECT_EQ(e.sine, 60 * i + 157);
        EXPECT_EQ(e.r, 250);
    }
    EXPECT_EQ(i, 6);
}

TEST_F(WaveTest, IntervalSettlesAtSixtyAndPatternsClimbToTheTop) {
    NewGame(2);
    // The interval falls from 100 by one per formation: 40 formations, about
    // 3220 frames, bring it to 60.
    for (int i = 0; i < 3300; ++i) game::WaveDirector();
    EXPECT_EQ(game::WaveInterval, 60);
    for (int i = 0; i < 60 * 200; ++i) game::WaveDirector();
    EXPECT_EQ(game::MaxPattern, 8);
    EXPECT_EQ(game::MinPattern, 6);
    EXPECT_EQ(game::MaxKind, 6);
    for (int n = 0; n < 30; ++n) {
        for (int i = 0; i < 60; ++i) game::WaveDirector();
        EXPECT_GE(game::LastFormation.pattern, 6);
    }
}

TEST_F(WaveTest, PatternRangeMovesEveryTenFormationsOnHard) {
    NewGame(2);
    std::vector<int> maxAt;
    for (int f = 1; f <= 60; ++f) {
        game::WaveTimer = 1;
        game::WaveDirector();
        maxAt.push_back(game::MaxPattern);
    }
    EXPECT_EQ(maxAt[8], 3);          // after 9 formations
    EXPECT_EQ(maxAt[9], 4);          // the 10th raises it
    EXPECT_EQ(maxAt[49], 8);         // 3 + 5 rises
    EXPECT_EQ(game::MinPattern, 2);  // the 60th formation moves the floor instead
}

TEST_F(GameFixture, TurretsTakeTheirFieldsFromTheWaveStream) {
    NewGame(0);
    game::ScrollX = -70;
    game::SpawnTurret(5);
    ASSERT_EQ(game::EnemyList.size(), 1u);
    const auto& e = game::EnemyList.back();
    EXPECT_DOUBLE_EQ(e.x, 3904 - 70);
    EXPECT_DOUBLE_EQ(e.y, 320);
    EXPECT_EQ(e.n, 7);
    EXPECT_EQ(e.health, 6);
    EXPECT_NE(e.rotgo, 0);
    EXPECT_LE(e.t, 1);  // MaxPattern is still at most 4
    EXPECT_TRUE(e.trigreset == 20 || e.trigreset == 30 || e.trigreset == 40);
    EXPECT_GE(e.weapon, 0);
    EXPECT_EQ(game::WaveSeed, 1);
}

// A craft of kind k has k/2 + 1 health and is worth 5 per hit plus 25 for the kill.
class KillTest : public GameFixture {
  protected:
    int PointsForKilling(int kind, int t, int health) {
        NewGame(0);
        game::Enemy e;
        e.x = 600;
        e.y = 200;
        e.n = kind;
        e.t = t;
        e.health = health;
        e.weapon = -1;
        game::EnemyList.push_back(e);
        int hits = 0;
        while (!game::EnemyList.empty() && hits < 20) {
            game::Shot s;
            s.x = game::EnemyList.front().x;
            s.y = game::EnemyList.front().y;
            s.t = 1;
            s.n = 3;
            game::ShotList.push_back(s);
            game::UpdateEnemies();
            ++hits;
        }
        EXPECT_EQ(hits, health);
        return game::GameScore;
    }
};

TEST_F(KillTest, KindZeroDiesFromOneHitForThirtyPoints) {
    EXPECT_EQ(PointsForKilling(0, 3, 0 / 2 + 1), 30);
}

TEST_F(KillTest, KindFiveTakesThreeHits) {
    EXPECT_EQ(PointsForKilling(5, 8, 5 / 2 + 1), 5 * 3 + 25);
}

TEST_F(KillTest, TurretTakesSixHitsForFiftyFivePoints) {
    EXPECT_EQ(PointsForKilling(7, 0, game::kTurretHealth), 55);
}

TEST_F(GameFixture, ShotsOnlyHitWhenTheyOverlap) {
    NewGame(0);
    game::Enemy e;
    e.x = 600;
    e.y = 200;
    e.t = 3;
    e.health = 2;
    e.weapon = -1;
    game::EnemyList.push_back(e);
    game::Shot near, far, enemyShot;
    near.x = 631;  // 31 pixels off: a hit
    near.y = 200;
    near.t = 1;
    far.x = 632;  // 32 pixels off: a miss
    far.y = 200;
    far.t = 1;
    enemyShot.x = 600;
    enemyShot.y = 200;
    enemyShot.t = 0;
    game::ShotList = {near, far, enemyShot};
    game::UpdateEnemies();
    EXPECT_EQ(game::EnemyList.front().health, 1);
    EXPECT_EQ(game::ShotList.size(), 2u);
    EXPECT_EQ(game::GameScore, 5);
}

TEST_F(GameFixture, CraftAtZeroHealthStillFiresAndIsDrawnThenExplodes) {
    NewGame(0);
    game::Enemy e;
    e.x = 600;
    e.y = 200;
    e.t = 3;
    e.gx = -1;
    e.health = 1;
    e.weapon = 1;
    e.trigreset = 40;
    game::EnemyList.push_back(e);
    game::Shot s;
    s.x = 599;
    s.y = 200;
    s.t = 1;
    game::ShotList.push_back(s);
    h.driver->Clear();
    game::UpdateEnemies();
    EXPECT_TRUE(game::EnemyList.empty());
    ASSERT_EQ(game::ShotList.size(), 1u);  // the player's shot is gone, the craft's is out
    EXPECT_EQ(game::ShotList.front().t, 0);
    EXPECT_EQ(game::ShotList.front().n, 1);
    // Facing 270 (left): the shot flies left at 6 + gs.
    EXPECT_NEAR(game::ShotList.front().gx, -6, 1e-9);
    bool drawn = false;
    for (const auto& r : h.driver->OfKind(media::DrawKind::Image)) {
        if (r.image == game::ShipsImage.get() && r.frame == 0) drawn = true;
    }
    EXPECT_TRUE(drawn);
    EXPECT_EQ(game::PuffList.size(), 2u);
    EXPECT_EQ(game::ParticleList.size(), 6u + 16u + 16u);
}

TEST_F(GameFixture, TouchingAnEnemyCostsALifeButLeavesTheEnemy) {
    NewGame(0);
    game::Invulnerable = 0;
    game::ShipX = 600;
    game::ShipY = 200;
    game::Enemy e;
    e.x = 600 + 16 - 32 + 39;  // centre 39 pixels right of the ship's centre
    e.y = 200 + 16 - 32;
    e.t = 3;
    e.health = 1;
    e.weapon = -1;
    game::EnemyList.push_back(e);
    game::UpdateEnemies();
    EXPECT_EQ(game::Lives, 4);
    EXPECT_EQ(game::Invulnerable, 120);
    EXPECT_EQ(game::EnemyList.size(), 1u);
    EXPECT_EQ(game::GameScore, 0);  // the damage burst scores nothing
    game::UpdateEnemies();          // invulnerable now
    EXPECT_EQ(game::Lives, 4);
}

TEST_F(GameFixture, EnemiesLeavingThePlayAreaAreRetired) {
    NewGame(0);
    game::Enemy left, high, low, inside;
    left.x = -128;  // -129 after moving
    left.gx = -1;
    high.y = -521;
    low.y = 960 + 521;
    inside.x = -127;
    inside.y = -519;
    for (auto* e : {&left, &high, &low, &inside}) {
        e->t = 3;
        e->health = 1;
        e->weapon = -1;
        game::EnemyList.push_back(*e);
    }
    game::UpdateEnemies();
    ASSERT_EQ(game::EnemyList.size(), 1u);
    EXPECT_DOUBLE_EQ(game::EnemyList.front().x, -127);
}

TEST_F(GameFixture, MotionTypesGiveTheirFacing) {
    NewGame(0);
    game::Enemy e;
    e.x = 300;
    e.y = 300;
    e.health = 9;
    e.weapon = 0;
    e.trig = 0;
    e.gs = 2;
    // Type 7 faces its phase: after sine += 2 from 88 it fires straight right.
    e.t = 7;
    e.sine = 88;
    game::EnemyList.push_back(e);
    game::UpdateEnemies();
    ASSERT_EQ(game::ShotList.size(), 1u);
    EXPECT_NEAR(game::ShotList.back().gx, 8, 1e-9);
    EXPECT_NEAR(game::ShotList.back().gy, 0, 1e-9);
    // Type 1 sweeps about left: rot 90 faces 270 + 60.
    game::EnemyList.clear();
    game::ShotList.clear();
    e.t = 1;
    e.rot = 89;
    e.rotgo = 1;
    e.gs = 0;
    e.trig = 0;
    game::EnemyList.push_back(e);
    game::UpdateEnemies();
    ASSERT_EQ(game::ShotList.size(), 1u);
    EXPECT_NEAR(game::ShotList.back().gx, 6 * game::Sin(330), 1e-9);
    EXPECT_NEAR(game::ShotList.back().gy, -6 * game::Cos(330), 1e-9);
}

}  // namespace

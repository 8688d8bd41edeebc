// Tests of the terrain generator (open and close rules, turret rows, the
// first columns per difficulty, reproducibility) and of the star and nebula
// layers.
#include <array>
#include <vector>

#include "game/backdrop.h"
#include "game/enemies.h"
#include "game/game_math.h"
#include "tests/game/game_fixture.h"

namespace {

using game_test::GameFixture;

// The solid state of rows 0..15 as laid into each new column.
using Column = std::array<int, game::kUsedRows>;

class TerrainTest : public GameFixture {
  protected:
    // Makes `count` columns directly, noting each new column's tiles and turrets.
    std::vector<Column> MakeColumns(int difficulty, int count) {
        NewGame(difficulty);
        std::vector<Column> columns;
        for (int i = 0; i < count; ++i) {
            game::ScrollX = -65;
            const size_t enemiesBefore = game::EnemyList.size();
            game::TerrainColumn();
            Column c{};
            for (int k = 0; k < game::kUsedRows; ++k) {
                c[k] = game::TerrainGrid[k][game::kNewestColumn] != 0 ? 1 : 0;
            }
            columns.push_back(c);
            auto it = game::EnemyList.begin();
            std::advance(it, enemiesBefore);
            for (; it != game::EnemyList.end(); ++it) turretRows.push_back(int(it->y) / 64);
        }
        return columns;
    }
    std::vector<int> turretRows;
};

TEST_F(TerrainTest, WallsStartAlongTheTopAndBottom) {
    auto columns = MakeColumns(0, 1);
    EXPECT_EQ(columns[0][0], 1);
    EXPECT_EQ(columns[0][1], 1);
    EXPECT_EQ(columns[0][14], 1);
    EXPECT_EQ(columns[0][15], 1);
    for (int k = 2; k < 14; ++k) EXPECT_EQ(columns[0][k], 0) << k;
}

TEST_F(TerrainTest, TilesHoldValuesOneToNinetyNine) {
    MakeColumns(1, 200);
    for (int k = 0; k < game::kUsedRows; ++k) {
        for (int j = 0; j <= game::kNewestColumn; ++j) {
            EXPECT_GE(game::TerrainGrid[k][j], 0);
            EXPECT_LE(game::TerrainGrid[k][j], 99);
        }
    }
}

TEST_F(TerrainTest, AnOpenedRowStaysOpenAtLeastThreeColumns) {
    for (int d = 0; d < 3; ++d) {
        auto columns = MakeColumns(d, 3000);
        for (int k = 0; k < game::kUsedRows; ++k) {
            int openRun = 0;
            bool seenSolid = false;
            for (size_t i = 0; i < columns.size(); ++i) {
                if (columns[i][k] == 0) {
                    ++openRun;
                } else {
                    // A gap between two solid stretches lasts at least three columns.
                    if (seenSolid && openRun > 0) {
                        EXPECT_GE(openRun, 3) << "row " << k;
                    }
                    openRun = 0;
                    seenSolid = true;
                }
            }
        }
    }
}

TEST_F(TerrainTest, TurretsNeverLandInTheOuterRows) {
    for (int d = 0; d < 3; ++d) MakeColumns(d, 3000);
    ASSERT_FALSE(turretRows.empty());
    for (int row : turretRows) {
        EXPECT_GE(row, 2);
        EXPECT_LE(row, 13);
    }
}

TEST_F(TerrainTest, MediumAndHardMakeOneColumnPerFrameAtFirst) {
    const int expected[3] = {0, 9, 19};
    for (int d = 0; d < 3; ++d) {
        NewGame(d);
        int columns = 0;
        int firstQuiet = 0;
        for (int frame = 1; frame <= 40; ++frame) {
            const double before = game::ScrollX;
            Step();
            if (game::ScrollX > before) {
                ++columns;
                EXPECT_EQ(firstQuiet, 0) << "columns after a quiet frame";
            } else if (firstQuiet == 0) {
                firstQuiet = frame;
            }
        }
        EXPECT_EQ(columns, expected[d]) << d;
        EXPECT_GE(game::ScrollX, -64);
        EXPECT_LE(game::ScrollX, 0);
    }
}

TEST_F(TerrainTest, SameDifficultyMakesTheSameTerrain) {
    auto a = MakeColumns(2, 500);
    auto rowsA = turretRows;
    turretRows.clear();
    auto b = MakeColumns(2, 500);
    EXPECT_EQ(a, b);
    EXPECT_EQ(rowsA, turretRows);
    turretRows.clear();
    auto c = MakeColumns(1, 500);
    EXPECT_NE(a, c);
}

TEST_F(TerrainTest, ShadeIsFullOnTheOuterRowsAndDimElsewhereOnFourByThree) {
    NewGame(0);
    ASSERT_EQ(engine::VirtualHeight, 960);
    for (auto& row : game::TerrainGrid) row.fill(0);
    for (int k = 0; k < game::kUsedRows; ++k) game::TerrainGrid[k][0] = 1;
    game::ScrollX = 0;
    h.driver->Clear();
    game::DrawTerrain();
    const auto tiles = h.driver->OfKind(media::DrawKind::Image);
    ASSERT_EQ(tiles.size(), static_cast<size_t>(game::kUsedRows));
    // The shade ratio is integer over integer: only rows 0, 14 and 15 reach 1.
    for (int k = 0; k < game::kUsedRows; ++k) {
        const double f = (k == 0 || k >= 14) ? 1.0 : 0.3;
        const int red = game::Trunc(150 + 100 * game::Sin(game::Time / 32 - 13 * k));
        EXPECT_EQ(tiles[k].state.color_red, static_cast<int>(red * f)) << "row " << k;
    }
}

TEST_F(GameFixture, StarsAndNebulaeAreMadeInRange) {
    NewGame(1);
    ASSERT_EQ(game::StarList.size(), 300u);
    ASSERT_EQ(game::NebulaList.size(), 20u);
    for (const auto& s : game::StarList) {
        EXPECT_GE(s.alpha, 0.1);
        EXPECT_LT(s.alpha, 0.4);
        EXPECT_GE(s.n, 0);
        EXPECT_LT(s.n, 250);
    }
    for (const auto& n : game::NebulaList) {
        const int sum = n.r + n.g + n.b;
        EXPECT_GT(sum, 90);
        EXPECT_LT(sum, 250);
        EXPECT_EQ(n.r % 30, 0);
        EXPECT_LE(n.xg, -0.25);
        EXPECT_GE(n.xg, -2);
    }
}

TEST_F(GameFixture, NebulaeAreDrawnInOneLayerEach) {
    NewGame(2);
    int slow = 0;
    for (const auto& n : game::NebulaList) slow += n.xg > -1 ? 1 : 0;
    h.driver->Clear();
    game::DrawBackNebulae();
    EXPECT_EQ(static_cast<int>(h.driver->OfKind(media::DrawKind::Image).size()), slow);
    h.driver->Clear();
    game::UpdateFrontNebulae();
    int fast = 0;
    for (const auto& n : game::NebulaList) fast += n.xg <= -1 ? 1 : 0;
    EXPECT_EQ(static_cast<int>(h.driver->OfKind(media::DrawKind::Image).size()), fast);
}

TEST_F(GameFixture, StarsReEnterAtTheRightEdge) {
    NewGame(0);
    game::StarList.front().x = -3.9;
    game::StarList.front().spd = 1;
    game::UpdateStars();
    EXPECT_GE(game::StarList.front().x, 1280 + 12);
    EXPECT_LE(game::StarList.front().x, 1280 + 32);
}

}  // namespace

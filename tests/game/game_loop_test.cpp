// Tests of the game loop: the stream reseeding rule, reproducible
// formations and terrain whatever the player does, the status line, game
// over, and the finished run stored and saved at once.
#include <string>
#include <vector>

#include "engine/hooks.h"
#include "engine/media/clock.h"
#include "engine/media/folders.h"
#include "game/backdrop.h"
#include "game/enemies.h"
#include "game/game_loop.h"
#include "game/ship.h"
#include "scores/score_file.h"
#include "scores/scores.h"
#include "tests/game/game_fixture.h"
#include "tests/support/temp_dir.h"

namespace {

using game_test::GameFixture;

TEST(StreamReseed, SeedsDiscardsTwentyNineDrawsAndAdvancesTheSeed) {
    int64_t seed = 0;
    game::StreamReseed(seed);
    EXPECT_EQ(seed, 1);
    // By hand: seed 0 means the default state 4660; each discarded draw takes
    // two steps of state * 48271 mod (2^31 - 1).
    int64_t state = 4660;
    for (int i = 0; i < 58; ++i) state = state * 48271 % 2147483647;
    EXPECT_EQ(media::RandomState(), state);
    seed = 77;
    game::StreamReseed(seed);
    EXPECT_EQ(seed, 78);
    state = 77;
    for (int i = 0; i < 58; ++i) state = state * 48271 % 2147483647;
    EXPECT_EQ(media::RandomState(), state);
}

// A snapshot of what a game made by some frame: every formation and the terrain.
struct World {
    std::vector<std::vector<int>> formations;
    std::vector<std::array<std::array<int, game::kGridColumns>, game::kGridRows>> terrain;
    int turrets = 0;
};

class LoopTest : public GameFixture {
  protected:
    // Plays `frames` frames; `fire` makes the scripted player fire and wander.
    World Play(int difficulty, int frames, bool fire) {
        NewGame(difficulty);
        World w;
        for (int f = 1; f <= frames; ++f) {
            h.right = fire && (f % 200) > 20;
            game_test::SetPointer(fire ? 200 + (f * 7) % 800 : 640,
                                  fire ? 100 + (f * 3) % 700 : 480);
            if (fire) game::Lives = 5;  // keep the ship alive, as the benchmark does
            const int before = game::FormationCount;
            Step();
            if (game::FormationCount != before) {
                const auto& d = game::LastFormation;
                w.formations.push_back(
                    {f, d.pattern, d.kind, d.row, d.speed, d.phase, d.r, d.g, d.b});
            }
            if (f % 250 == 0) w.terrain.push_back(game::TerrainGrid);
        }
        for (const auto& e : game::EnemyList) w.turrets += e.n == game::kTurretCell ? 1 : 0;
        return w;
    }
};

TEST_F(LoopTest, TwoGamesOfADifficultyMakeTheSameWavesAndTerrainWhateverThePlayerDoes) {
    for (int d = 0; d < 3; ++d) {
        SCOPED_TRACE(d);
        World quiet = Play(d, 4000, false);
        World busy = Play(d, 4000, true);
        ASSERT_GT(quiet.formations.size(), 10u);
        EXPECT_EQ(quiet.formations, busy.formations);
        EXPECT_EQ(quiet.terrain, busy.terrain);
        World again = Play(d, 4000, false);
        EXPECT_EQ(quiet.formations, again.formations);
        EXPECT_EQ(quiet.terrain, again.terrain);
    }
}

TEST_F(LoopTest, BusyPlayScoresAndDrawsWithinTheBudgets) {
    NewGame(2);
    engine::DrawBudgets[1] = 300;
    engine::DrawBudgets[2] = 200;
    engine::DrawBudgets[3] = 100;
    for (int f = 1; f <= 1500; ++f) {
        h.right = f > 1;  // released once, so the gun is no longer cold
        game_test::SetPointer(300, 100 + (f * 5) % 760);
        game::Lives = 5;
        Step();
        ASSERT_LE(engine::DrawnCounts[1], 300);
        ASSERT_LE(engine::DrawnCounts[2], 200);
        ASSERT_LE(engine::DrawnCounts[3], 100);
    }
    EXPECT_GT(game::GameScore, 0);
    EXPECT_EQ(game::GameScore % 5, 0);
}

std::vector<std::string> TextsDrawn(media::TRecordingDriver& driver) {
    std::vector<std::string> out;
    for (const auto& r : driver.OfKind(media::DrawKind::Text)) out.push_back(r.text);
    return out;
}

TEST_F(LoopTest, StatusLineShowsTenDigitsAndLivesNeverBelowZero) {
    NewGame(0);
    game::GameScore = 1234;
    game::Lives = 3;
    Step();
    auto texts = TextsDrawn(*h.driver);
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.front(), "0000001234 : 3");
    game::Lives = -1;
    game::GameScore = 2147483647;
    Step();
    texts = TextsDrawn(*h.driver);
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.front(), "2147483647 : 0");
    EXPECT_EQ(game::Lives, 0);
}

TEST_F(LoopTest, LastLifeLostEndsTheGameAfterTheDeathFrames) {
    NewGame(0);
    Step();
    game::Lives = 0;
    int frames = 0;
    size_t sparksAfterShower = 0;
    while (game::EndCode == game::END_RUNNING && frames < 500) {
        Step();
        ++frames;
        if (frames == 29) sparksAfterShower = game::ParticleList.size();
        if (frames == 1) {
            auto texts = TextsDrawn(*h.driver);
            int overs = 0;
            for (const auto& t : texts) overs += t == "Game Over" ? 1 : 0;
            EXPECT_EQ(overs, 49 + 25 + 1);
        }
    }
    EXPECT_EQ(frames, 120);
    EXPECT_EQ(game::EndCode, game::END_GAME_OVER);
    EXPECT_GT(sparksAfterShower, 0u);
    EXPECT_EQ(game::GameScore, 0);  // the shower scores nothing
}

TEST_F(LoopTest, AFinishedRunIsSavedToTheScoreFileAtOnce) {
    zqtest::TempDir dir;
    zqtest::CwdGuard cwd;
    ASSERT_EQ(media::ChangeDir(dir.path()), 1);
    scores::ResetScores();
    int frame = 0;
    int lastFrameAt = 0, namedAt = 0;
    engine::Hooks().settingsPanel = [&frame, &lastFrameAt] {
        if (++frame == 3) game::Lives = 0;  // the ship is lost in the third frame
        lastFrameAt = media::Millisecs();
    };
    bool named = false;
    game::SetNameEntryScreen(zqtest::CallScreens([&named, &namedAt] {
        named = true;
        namedAt = media::Millisecs();
        scores::PlayerName = "Tester";
    }));
    game::Difficulty = 2;
    game::CurrentLevel = 4;
    engine::InGame = 1;
    EXPECT_EQ(zqtest::RunScreen(game::MakeGameScreen()), game::kGameEnded);
    engine::Hooks().settingsPanel = nullptr;
    game::SetNameEntryScreen(nullptr);
    EXPECT_TRUE(named);
    // The last picture stays 1.5 s, counted in steps that draw nothing, before name entry.
    EXPECT_GE(namedAt - lastFrameAt, 1500);
    EXPECT_LT(namedAt - lastFrameAt, 1500 + 20);
    EXPECT_EQ(engine::InGame, 0);
    ASSERT_EQ(scores::ScoreList.size(), 1u);
    EXPECT_EQ(scores::ScoreList.front().Name, "Tester");
    EXPECT_EQ(scores::ScoreList.front().Quit, 0);
    // The file holds the run already: a fresh load finds it.
    scores::ResetScores();
    scores::LoadScores();
    ASSERT_EQ(scores::ScoreList.size(), 1u);
    EXPECT_EQ(scores::ScoreList.front().Name, "Tester");
    EXPECT_EQ(scores::ScoreList.front().GameMode, 2);
    EXPECT_EQ(scores::ScoreList.front().Level, 4);
    EXPECT_EQ(scores::ScoreList.front().Score, game::GameScore);
    scores::ResetScores();
}

}  // namespace

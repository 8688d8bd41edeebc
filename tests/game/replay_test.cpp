// Tests of replays: the file format against damaged and hostile files, the
// recorder and the desync check, the golden replays of each difficulty, and
// the replay store's names and pruning.
// Re-record the golden replays on purpose (after a deliberate change of the
// game's rules) with scripts/rerecord-replays.sh.
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "engine/hooks.h"
#include "engine/media/binary_files.h"
#include "engine/media/files.h"
#include "engine/media/folders.h"
#include "engine/media/paths.h"
#include "game/replay.h"
#include "game/replay_file.h"
#include "game/replay_verify.h"
#include "scores/replay_store.h"
#include "scores/score_file.h"
#include "scores/scores.h"
#include "tests/game/game_fixture.h"
#include "tests/game/scripted_game.h"
#include "tests/support/temp_dir.h"

namespace {

using game::Replay;
using game::ReplayStep;

// A small replay with every kind of step change: runs, moves, presses, a resize.
Replay SampleReplay() {
    Replay r;
    r.header.programVersion = "1.0.0";
    r.header.difficulty = 2;
    r.header.width = 1280;
    r.header.height = 960;
    r.header.slowSystem = 1;
    r.header.startParity = 1;
    r.header.score = 12345;
    r.header.lives = 0;
    r.header.quit = 0;
    r.header.timestamp = 987654321;
    r.header.name = "N\xE4me | with \"quotes\"";
    r.header.level = 3;
    r.header.gameFlags = 5;
    r.header.rules = 1;  // not the newest: a reader that skips the field is caught
    for (int i = 0; i < 150; ++i) {
        ReplayStep s{640, 480, false, false, 1280, 960};
        if (i >= 10) s.pointerX = 640 + (i / 7) * 3 - 40;
        if (i >= 20 && i < 60) s.right = true;
        if (i == 61) s.left = true;
        if (i >= 100) s = ReplayStep{-1048576, 1048576, true, true, 1600, 900};
        r.steps.push_back(s);
    }
    r.header.frames = static_cast<uint32_t>(r.steps.size());
    r.checks = {1u, 0xFFFFFFFFu, 42u};
    return r;
}

// Replaces the trailing file check value after a deliberate edit.
void Reseal(std::string& bytes) {
    const uint32_t crc = media::Crc32(std::string_view(bytes).substr(0, bytes.size() - 4));
    for (int i = 0; i < 4; ++i) bytes[bytes.size() - 4 + i] = static_cast<char>(crc >> (8 * i));
}

TEST(ReplayFile, CodesEveryKindOfStepAndHeaderFieldExactly) {
    const Replay r = SampleReplay();
    const std::string bytes = game::EncodeReplay(r);
    ASSERT_FALSE(bytes.empty());
    Replay back;
    std::string error;
    ASSERT_TRUE(game::DecodeReplay(bytes, back, error)) << error;
    EXPECT_EQ(back, r);

    // Counts that do not agree are refused when writing, not stored broken.
    Replay bad = r;
    bad.checks.pop_back();
    EXPECT_TRUE(game::EncodeReplay(bad).empty());
    bad = r;
    bad.header.frames += 1;
    EXPECT_TRUE(game::EncodeReplay(bad).empty());
}

TEST(ReplayFile, DamagedTruncatedAndHostileBytesGiveAClearError) {
    const std::string good = game::EncodeReplay(SampleReplay());
    Replay out;
    std::string error;

    // Every truncation and every single flipped bit is caught.
    for (size_t n = 0; n < good.size(); ++n) {
        EXPECT_FALSE(game::DecodeReplay(good.substr(0, n), out, error)) << "length " << n;
        EXPECT_FALSE(error.empty());
    }
    for (size_t i = 0; i < good.size(); ++i) {
        std::string bad = good;
        bad[i] = static_cast<char>(bad[i] ^ 0x10);
        EXPECT_FALSE(game::DecodeReplay(bad, out, error)) << "byte " << i;
    }

    struct Case {
        const char* what;
        std::string bytes;
        const char* message;
        bool headerReads = false;  // the header alone passes (the steps are what is wrong)
    };
    auto patched = [&](size_t at, std::string with) {
        std::string b = good;
        b.replace(at, with.size(), with);
        Reseal(b);
        return b;
    };
    // Offsets: magic 0..7, version 8..11, version text length 12, text 13..17,
    // difficulty 18, width 19..20, height 21..22, slow 23, parity 24, frames 25..28,
    // score 29..36, lives 37..40, quit 41, timestamp 42..49, level 50..53, flags 54..57,
    // rules 58.
    const std::vector<Case> cases = {
        {"empty", "", "not a replay file"},
        {"text", "hello, world, this is not a replay", "not a replay file"},
        {"magic only", good.substr(0, 8), "truncated"},
        {"newer format", patched(8, std::string("\x03\0\0\0", 4)), "version 3 is not supported"},
        {"format 0", patched(8, std::string("\0\0\0\0", 4)), "version 0 is not supported"},
        {"rules 3", patched(58, "\x03"), "rules version 3 is not known"},
        {"rules 0", patched(58, std::string("\0", 1)), "rules version 0 is not known"},
        {"difficulty 7", patched(18, "\x07"), "out of range"},
        {"zero width", patched(19, std::string("\0\0", 2)), "out of range"},
        {"frames beyond ten hours", patched(25, "\xFF\xFF\xFF\x7F"), "out of range"},
        {"more frames than steps", patched(25, std::string("\xFF\0\0\0", 4)), "damaged", true},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(game::DecodeReplay(c.bytes, out, error)) << c.what;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
        game::ReplayHeader header;
        EXPECT_EQ(game::DecodeReplayHeader(c.bytes, header, error), c.headerReads) << c.what;
    }
    game::ReplayHeader header;
    ASSERT_TRUE(game::DecodeReplayHeader(good, header, error)) << error;
    EXPECT_EQ(header, SampleReplay().header);
}

TEST(ReplayFile, ReadsOnlyRegularFilesOfBoundedSize) {
    zqtest::TempDir dir;
    Replay out;
    std::string error;
    EXPECT_FALSE(game::ReadReplayFile(dir / "missing.zqr", out, error));
    EXPECT_EQ(error, "no such file");
    EXPECT_FALSE(game::ReadReplayFile(dir.path(), out, error));
    EXPECT_EQ(error, "not a regular file");
    ASSERT_EQ(::mkfifo((dir / "fifo.zqr").c_str(), 0600), 0);
    EXPECT_FALSE(game::ReadReplayFile(dir / "fifo.zqr", out, error));  // must not block
    EXPECT_EQ(error, "not a regular file");
    ASSERT_TRUE(zqtest::WriteWholeFile(dir / "huge.zqr", "x"));
    ASSERT_EQ(::truncate((dir / "huge.zqr").c_str(), game::kReplayMaxFileBytes + 1), 0);
    EXPECT_FALSE(game::ReadReplayFile(dir / "huge.zqr", out, error));
    EXPECT_EQ(error.rfind("larger than", 0), 0u) << error;

    ASSERT_TRUE(game::WriteReplayFile(dir / "good.zqr", SampleReplay()));
    EXPECT_TRUE(game::ReadReplayFile(dir / "good.zqr", out, error)) << error;
    EXPECT_EQ(out, SampleReplay());
}

class ReplayGame : public game_test::GameFixture {
  protected:
    void SetUp() override {
        GameFixture::SetUp();
        // What is drawn never changes the game; skipping the sprites keeps these tests quick.
        engine::DrawBudgets.fill(0);
    }
    game::ReplayVerdict Simulate(const Replay& r) {
        return game::SimulateReplay(r, [this] { h.driver->Clear(); });
    }
};

TEST_F(ReplayGame, ARecordedGameReSimulatesAndAChangedInputIsFoundAtItsCheck) {
    const Replay r = game_test::PlayScriptedGame(h, {.difficulty = 2, .maxSteps = 700});
    ASSERT_EQ(r.header.frames, 700u);
    EXPECT_EQ(r.header.quit, 1);
    EXPECT_GT(r.header.score, 0);
    EXPECT_EQ(r.checks.size(), game::ReplayCheckCount(700));

    game::ReplayVerdict v = Simulate(r);
    EXPECT_TRUE(v.ok) << v.reason;
    EXPECT_EQ(v.simulatedScore, r.header.score);
    EXPECT_EQ(v.firstBadStep, -1);

    // The pointer of step 300 moved: the state after step 300 differs.
    Replay moved = r;
    moved.steps[299].pointerX += 200;
    moved.steps[299].pointerY -= 200;
    v = Simulate(moved);
    EXPECT_FALSE(v.ok);
    EXPECT_EQ(v.firstBadStep, 300);

    // A score that the game does not reproduce fails without a bad step.
    Replay boasted = r;
    boasted.header.score += 5;
    v = Simulate(boasted);
    EXPECT_FALSE(v.ok);
    EXPECT_EQ(v.firstBadStep, -1);
    EXPECT_EQ(v.reason, "score differs");

    // A replay that claims more steps than the game lasts is caught when it ends early.
    Replay overlong = game_test::PlayScriptedGame(h, {.difficulty = 2});
    ASSERT_EQ(overlong.header.quit, 0);
    overlong.header.quit = 1;
    for (int i = 0; i < 60; ++i) overlong.steps.push_back(overlong.steps.back());
    overlong.header.frames = static_cast<uint32_t>(overlong.steps.size());
    overlong.checks.resize(game::ReplayCheckCount(overlong.header.frames));
    v = Simulate(overlong);
    EXPECT_FALSE(v.ok);
    EXPECT_NE(v.reason.find("ended at step"), std::string::npos) << v.reason;
}

// The golden replays: short scripted games, one per difficulty, kept in the test data under
// the newest rules; the same scripts played under rules 1 (format 1 files) stay in rules1/.
struct Golden {
    const char* file;
    game_test::Script script;
};
const Golden kGolden[] = {
    {"easy.zqr", {.difficulty = 0, .maxSteps = 1500}},
    {"medium.zqr", {.difficulty = 1, .maxSteps = 1500, .resizeAt = 700}},
    {"hard.zqr", {.difficulty = 2}},  // played to game over
};
// The folders of the golden replays below tests/data/replays/, with their rules version.
const struct {
    const char* folder;
    uint32_t rules;
} kGoldenRules[] = {{"", game::kNewestRules}, {"rules1/", 1}};

std::string GoldenPath(const std::string& file) {
    return std::string(ZQ_SOURCE_DIR) + "/tests/data/replays/" + file;
}

TEST_F(ReplayGame, WatchingStoresNothingGivesBackWhatItBorrowedAndKeepsThePlayersSettings) {
    const Replay r =
        game_test::PlayScriptedGame(h, {.difficulty = 2, .maxSteps = 150, .resizeAt = 100});
    scores::ResetScores();
    game::Difficulty = 0;
    engine::ScreenWidth = 800;  // a 4:3 window: 1280x960 logical
    engine::ScreenHeight = 600;
    engine::VirtualWidth = 1280;
    engine::VirtualHeight = 960;
    engine::InGame = 0;
    // The player's machine is a slow one; the replay was not. Every frame
    // stands for a save (Tab, Apply, closing) and the first for an Apply's new budgets.
    ASSERT_EQ(r.header.slowSystem, 0);
    engine::Setup[engine::SETUP_ESS] = 1;
    const std::array<int, engine::kDrawKinds> applied{0, 7, 8, 9};
    int frames = 0, lentFlag = 0, savedFlag = 0;
    engine::Hooks().settingsPanel = [&] {
        if (frames++ == 0) engine::DrawBudgets = applied;
        lentFlag += engine::SlowSystem();
        savedFlag += engine::Setup[engine::SETUP_ESS];
    };
    ASSERT_EQ(zqtest::RunScreen(game::WatchReplay(r)), game::kReplayWatched);
    engine::Hooks().settingsPanel = nullptr;
    EXPECT_GT(frames, 0);
    EXPECT_EQ(lentFlag, 0);
    EXPECT_EQ(savedFlag, frames);
    EXPECT_EQ(engine::DrawBudgets, applied);
    EXPECT_EQ(engine::SlowSystem(), 1);
    EXPECT_EQ(game::GameScore, r.header.score);
    EXPECT_TRUE(scores::ScoreList.empty());
    EXPECT_EQ(game::Difficulty, 0);
    EXPECT_EQ(engine::VirtualWidth, 1280);
    EXPECT_EQ(engine::VirtualHeight, 960);
    EXPECT_EQ(media::VirtualResolutionWidth(), 1280.0f);
    EXPECT_EQ(engine::InGame, 0);
    // The game's steps read the live pointer again.
    game_test::SetPointer(77, 99);
    Step();
    EXPECT_EQ(game::TargetX, 77 - 16);
    EXPECT_EQ(game::TargetY, 99 - 16);

    // A rules-1 run plays under rules 1 (the newest rules end it in another state), and the
    // newest rules are in force again afterwards.
    Replay old;
    std::string error;
    ASSERT_TRUE(game::ReadReplayFile(GoldenPath("rules1/medium.zqr"), old, error)) << error;
    ASSERT_EQ(zqtest::RunScreen(game::WatchReplay(old)), game::kReplayWatched);
    EXPECT_EQ(game::GameCheckValue(), old.checks.back());
    EXPECT_EQ(game::RulesInForce(), game::kNewestRules);
}

// Every golden replay reproduces under the rules it names (rules 1 from format 1 files), and
// the rules in force come back afterwards. A rules-1 game re-simulated under the newest rules
// drifts: the rules version is what makes it reproduce.
TEST_F(ReplayGame, GoldenReplaysStillReproduceTheirScores) {
    const bool rerecord = std::getenv("ZQ_RERECORD_REPLAYS") != nullptr;
    int rules1UnderNewest = 0;
    for (const auto& [folder, rules] : kGoldenRules) {
        for (const Golden& g : kGolden) {
            const std::string file = std::string(folder) + g.file;
            // Only the newest rules' goldens are ever recorded again.
            if (rerecord && rules == game::kNewestRules) {
                ASSERT_TRUE(game::WriteReplayFile(GoldenPath(file),
                                                  game_test::PlayScriptedGame(h, g.script)));
            }
            Replay r;
            std::string error;
            ASSERT_TRUE(game::ReadReplayFile(GoldenPath(file), r, error)) << file << ": " << error;
            EXPECT_EQ(r.header.rules, rules) << file;
            const game::ReplayVerdict v = Simulate(r);
            EXPECT_TRUE(v.ok)
                << file << ": " << v.reason
                << " (if the game's rules changed on purpose, make a new rules version)";
            EXPECT_EQ(game::RulesInForce(), game::kNewestRules) << file;
            EXPECT_EQ(r.header.difficulty, g.script.difficulty);
            EXPECT_GT(r.header.score, 0) << file;
            if (rules != game::kNewestRules) {
                r.header.rules = game::kNewestRules;
                rules1UnderNewest += Simulate(r).ok;
            }
        }
    }
    EXPECT_LT(rules1UnderNewest, static_cast<int>(std::size(kGolden)));
}

// What --verify-replay and the leaderboard run: nothing is drawn, yet a game
// recorded with every sprite drawn and the golden replays reproduce exactly.
TEST_F(ReplayGame, VerifyingDrawsNothingAndReproducesGamesThatDrew) {
    engine::ResetDrawHelpers();  // the recording draws everything, as in the window
    const Replay drawn = game_test::PlayScriptedGame(h, {.difficulty = 2, .maxSteps = 1800});
    ASSERT_FALSE(h.driver->OfKind(media::DrawKind::Image).empty());
    EXPECT_EQ(game::VerifyReplay(drawn).reason, "the headless simulation is not installed");

    game::InstallHeadlessSimulation();
    auto& driver = dynamic_cast<media::TRecordingDriver&>(media::CurrentDriver());
    game::ReplayVerdict v = game::SimulateReplay(drawn);
    EXPECT_TRUE(v.ok) << v.reason;
    EXPECT_EQ(v.simulatedScore, drawn.header.score);
    EXPECT_TRUE(driver.records.empty()) << driver.records.size() << " draws reached the driver";
    for (const auto& golden : kGoldenRules) {
        for (const Golden& g : kGolden) {
            const std::string file = std::string(golden.folder) + g.file;
            Replay r;
            std::string error;
            ASSERT_TRUE(game::ReadReplayFile(GoldenPath(file), r, error)) << file << ": " << error;
            v = game::VerifyReplay(r);
            EXPECT_TRUE(v.ok) << file << ": " << v.reason;
        }
    }
    Replay moved = drawn;
    moved.steps[1000].pointerY += 300;
    EXPECT_EQ(game::VerifyReplay(moved).firstBadStep, 1020);
    game::UninstallHeadlessSimulation();
    EXPECT_FALSE(engine::DrawingOff);
}

TEST_F(ReplayGame, StoredBesideTheScoreFileUnderNamesOfTheirOwnAndPrunedWhenTheRunLeavesIt) {
    zqtest::TempDir dir;
    zqtest::CwdGuard cwd;
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    media::TProgramPaths paths;
    paths.scoreFile = dir / "nuscores.dat";
    media::SetProgramPaths(paths);
    scores::ResetScores();

    // Two runs of the same second and score, one identical to the first, and an older one.
    scores::Scores kept, twin, rival, thinned;
    kept.Timestamp = scores::DateTimeNumber(2026, 12, 8, 7, 35, 59);
    kept.Score = 120;
    kept.Name = "ann";
    twin = kept;
    rival = kept;
    rival.Name = "bob";
    thinned.Timestamp = scores::DateTimeNumber(2025, 1, 2, 3, 4, 5);
    thinned.Score = 7;
    const std::string name = scores::ReplayFileName(kept);
    EXPECT_TRUE(std::regex_match(name, std::regex("2026-12-08_07-35-59_120_[0-9a-f]{8}\\.zqr")))
        << name;
    EXPECT_NE(scores::ReplayFileName(rival), name);
    EXPECT_EQ(scores::ReplayPath(kept), dir.path() + "/replays/" + name);

    game_test::PlayScriptedGame(h, {.difficulty = 0, .maxSteps = 90});
    for (const scores::Scores& r : {kept, twin, rival, thinned}) {
        ASSERT_TRUE(game::StoreRecording(r));
    }
    const std::string twinName = name.substr(0, name.size() - 4) + "-2.zqr";
    EXPECT_TRUE(scores::IsReplayFileName(twinName));
    EXPECT_EQ(media::FileType(dir / ("replays/" + twinName)), 1);
    EXPECT_TRUE(scores::HasReplay(rival));
    // A replay stored under the name without the check value is still found and kept.
    scores::Scores earlier = thinned;
    earlier.Score = 8;
    ASSERT_TRUE(zqtest::WriteWholeFile(dir / "replays/2025-01-02_03-04-05_8.zqr", "old"));
    EXPECT_EQ(scores::ReplayPath(earlier), dir / "replays/2025-01-02_03-04-05_8.zqr");
    ASSERT_TRUE(zqtest::WriteWholeFile(dir / "replays/notes.txt", "mine"));

    // While a copy of a file with unreadable lines is kept, its runs may come back: nothing goes.
    scores::ScoreList = {kept, twin, rival, earlier};
    ASSERT_TRUE(zqtest::WriteWholeFile(dir / "nuscores.dat.bak", "lines of another key"));
    ASSERT_TRUE(scores::SaveScores());
    EXPECT_TRUE(scores::HasReplay(thinned));
    ASSERT_EQ(::unlink((dir / "nuscores.dat.bak").c_str()), 0);
    ASSERT_TRUE(scores::SaveScores());
    EXPECT_FALSE(scores::HasReplay(thinned));
    for (const scores::Scores& r : {kept, rival, earlier}) EXPECT_TRUE(scores::HasReplay(r));
    EXPECT_EQ(media::FileType(dir / ("replays/" + twinName)), 1);
    EXPECT_EQ(zqtest::ReadWholeFile(dir / "replays/notes.txt"), "mine");

    scores::ResetScores();
    media::SetProgramPaths({});
}

}  // namespace

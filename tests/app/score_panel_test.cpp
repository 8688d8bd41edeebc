// Tests of the high-score panel through the recording driver: ranking and
// ties, thinning of old runs (in the list and in the saved file), what an
// empty or one-run combination draws, the table's name and score cuts, the
// detail box, hover against held selection, scrolling and big scores.
#include "app/score_panel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "engine/draw_helpers.h"
#include "engine/frame_end.h"
#include "engine/graphics_setup.h"
#include "engine/media/clock.h"
#include "engine/media/folders.h"
#include "engine/media/graphics.h"
#include "engine/media/image_font.h"
#include "engine/media/paths.h"
#include "engine/media/recording_driver.h"
#include "engine/setup_table.h"
#include "scores/fields/date_time.h"
#include "scores/replay_store.h"
#include "scores/score_file.h"
#include "tests/support/clocks.h"
#include "tests/support/temp_dir.h"

namespace app {
namespace {

using namespace scores;

using media::DrawKind;
using media::DrawRecord;

constexpr int kVW = 1280;
constexpr int kVH = 960;
constexpr int kPanelLeft = 800;  // the x argument; the reference X is 805
constexpr int kX = kPanelLeft + 5;
constexpr int kWidth = 335;

// A panel on a 1280x960 logical screen with icons, badges and the built-in font.
class ScorePanelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        rec_ = media::UseRecordingDriver();
        ASSERT_NE(media::OpenGraphics(kVW, kVH), nullptr);
        engine::SetupDefaults();
        engine::ResetDrawHelpers();
        engine::ResetFrameEnd();
        engine::VirtualWidth = kVW;
        engine::VirtualHeight = kVH;
        engine::IconsImage = Sheet(16, 64);
        engine::BadgesImage = Sheet(64, 16);
        // Every font slot holds the built-in font itself (see TearDown).
        engine::UIFonts.fill(media::DefaultImageFont());
        media::SetImageFont(media::DefaultImageFont());
        ResetScoreGlobals();
        ResetScorePanel();
        ScorePanelMouseDown = [this](int button) { return button == 1 && held_ ? 1 : 0; };
        PointAt(0, 0);
    }
    void TearDown() override {
        // Nothing may keep the built-in font past the test: the media layer's
        // font cache is released after FreeType at exit.
        engine::UIFonts.fill(nullptr);
        media::SetImageFont(nullptr);
        ResetScorePanel();
        ResetScoreGlobals();
        engine::IconsImage = nullptr;
        engine::BadgesImage = nullptr;
        media::CloseGraphics();
        media::SetGraphicsDriver(nullptr, 2);
    }

    static std::shared_ptr<media::TImage> Sheet(int size, int frames) {
        auto pm = media::CreatePixmap(size, size);
        std::vector<std::shared_ptr<media::TPixmap>> list(static_cast<size_t>(frames), pm);
        return media::LoadImageFromPixmaps(list, 0);
    }
    // Appends a run older than every run already in the list.
    static Scores& AddOlder(int64_t score, const std::string& name = "Run", int mode = 0) {
        Scores run;
        run.Score = score;
        run.Name = name;
        run.GameMode = mode;
        run.Timestamp =
            DateTimeNumber(2026, 12, 8, 12, 0, 0) - static_cast<int64_t>(ScoreList.size());
        ScoreList.push_back(run);
        return ScoreList.back();
    }
    static void PointAt(int x, int y) {
        engine::PointerX = x;
        engine::PointerY = y;
    }
    void Draw(int mode = 0) {
        rec_->Clear();
        DrawScorePanel(kPanelLeft, kWidth, mode, 0, 0, 1);
    }
    std::vector<DrawRecord> Kind(DrawKind kind) const { return rec_->OfKind(kind); }
    bool DrewText(const std::string& text) const {
        auto texts = Kind(DrawKind::Text);
        return std::any_of(texts.begin(), texts.end(),
                           [&](const DrawRecord& r) { return r.text == text; });
    }
    // The x of the graph column of the i-th run (1 = newest), with no scroll.
    static int ColumnX(int i) { return kVW - 24 - 18 * (i - 1); }

    zqtest::VirtualClockInPlace<> clock_;
    std::shared_ptr<media::TRecordingDriver> rec_;
    bool held_ = false;
};

// --- Ranking ---------------------------------------------------------------

TEST_F(ScorePanelTest, TopListRanksByScoreAndEqualScoresKeepListOrder) {
    Scores& newest = AddOlder(100, "newest");
    Scores& best = AddOlder(500, "best");
    Scores& middle = AddOlder(100, "middle");
    Scores& oldest = AddOlder(100, "oldest");
    AddOlder(900, "other mode", 2);

    EXPECT_EQ(RankTopList(ScoreList, 0, 0, 0), 500);
    EXPECT_EQ(TopList[1], &best);
    EXPECT_EQ(TopList[2], &newest);
    EXPECT_EQ(TopList[3], &middle);
    EXPECT_EQ(TopList[4], &oldest);
    EXPECT_EQ(TopList[5], nullptr);
}

TEST_F(ScorePanelTest, TopListKeepsOnlyTheBest25AndAnEmptyCombinationScalesByOne) {
    for (int n = 1; n <= 30; ++n) AddOlder(n * 10);
    EXPECT_EQ(RankTopList(ScoreList, 0, 0, 0), 300);
    EXPECT_EQ(TopList[1]->Score, 300);
    EXPECT_EQ(TopList[25]->Score, 60);
    for (int n = 2; n <= 25; ++n) EXPECT_GT(TopList[n - 1]->Score, TopList[n]->Score);

    EXPECT_EQ(RankTopList(ScoreList, 1, 0, 0), 1);
    EXPECT_TRUE(std::all_of(TopList.begin(), TopList.end(), [](Scores* s) { return !s; }));
}

TEST_F(ScorePanelTest, GraphHeightStaysInRangeForHugeAndNegativeScores) {
    EXPECT_EQ(GraphHeight(500, 500), 150);
    EXPECT_EQ(GraphHeight(250, 500), 75);
    EXPECT_EQ(GraphHeight(1, 3), 50);
    const int64_t huge = INT64_MAX / 2;
    EXPECT_EQ(GraphHeight(huge, huge), 150);
    EXPECT_EQ(GraphHeight(huge / 2, huge), 74);
    EXPECT_EQ(GraphHeight(-40, 500), 0);
}

// --- Thinning --------------------------------------------------------------

TEST_F(ScorePanelTest, ThinningKeepsThe50NewestAndTheOldTopRunInListAndFile) {
    zqtest::TempDir dir;
    zqtest::CwdGuard cwd;
    ASSERT_TRUE(media::ChangeDir(dir.path()));
    ResetScores();
    std::vector<const Scores*> newest;
    for (int i = 1; i <= 59; ++i) newest.push_back(&AddOlder(10, "low" + std::to_string(i)));
    Scores& oldest = AddOlder(1000, "old champion");
    AddOlder(5, "another mode", 1);  // not of the combination: never thinned

    Draw();
    ASSERT_EQ(ScoreList.size(), 52u);
    auto it = ScoreList.begin();
    for (int i = 0; i < 50; ++i, ++it) EXPECT_EQ(&*it, newest[static_cast<size_t>(i)]);
    EXPECT_EQ(&*it, &oldest);
    EXPECT_EQ(std::next(it)->Name, "another mode");

    ASSERT_TRUE(SaveScores());
    ResetScoreGlobals();
    LoadScores();
    EXPECT_EQ(ScoreList.size(), 52u);
    EXPECT_EQ(std::count_if(ScoreList.begin(), ScoreList.end(),
                            [](const Scores& s) { return s.Name == "low51"; }),
              0);
    ResetScores();
}

TEST_F(ScorePanelTest, ThinningKeepsOldRunsThatAreInTheTop25) {
    for (int i = 1; i <= 50; ++i) AddOlder(1);
    for (int i = 1; i <= 10; ++i) AddOlder(100 + i);
    Draw();
    EXPECT_EQ(ScoreList.size(), 60u);
}

TEST_F(ScorePanelTest, PinnedRunThatIsThinnedAwayShowsNoDetails) {
    for (int i = 1; i <= 60; ++i) AddOlder(10, "run" + std::to_string(i));
    SelectedIndex = 55;
    Draw();
    EXPECT_EQ(SelectedRecord, nullptr);
    EXPECT_FALSE(DrewText("run55"));
}

TEST_F(ScorePanelTest, HiddenPanelChangesAndDrawsNothing) {
    for (int i = 1; i <= 60; ++i) AddOlder(10);
    rec_->Clear();
    DrawScorePanel(kPanelLeft, kWidth, 0, 0, 0, 0);
    EXPECT_TRUE(rec_->records.empty());
    EXPECT_EQ(ScoreList.size(), 60u);
}

// --- What is drawn ---------------------------------------------------------

TEST_F(ScorePanelTest, EmptyCombinationDrawsBackgroundAndTopEdgeOnly) {
    AddOlder(300, "other", 2);
    Draw(0);
    ASSERT_EQ(rec_->records.size(), 2u);
    const DrawRecord& back = rec_->records[0];
    EXPECT_EQ(back.kind, DrawKind::Rect);
    EXPECT_EQ(back.x, kX + 2);
    EXPECT_EQ(back.y, kVH - 585);
    EXPECT_EQ(back.w, kWidth + 2);
    EXPECT_EQ(back.h, 575);
    EXPECT_FLOAT_EQ(back.state.color_alpha, 0.6f);
    const DrawRecord& edge = rec_->records[1];
    EXPECT_EQ(edge.kind, DrawKind::Line);
    EXPECT_EQ(edge.y, kVH - 160);
    EXPECT_EQ(edge.w, kVW - 8);
    EXPECT_EQ(edge.state.color_blue, 80);
}

TEST_F(ScorePanelTest, SingleRunIsOneDotAtFullHeightWithoutAConnectingLine) {
    AddOlder(4321);
    Draw();
    auto images = Kind(DrawKind::Image);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].frame, 7);
    // DrawSprite puts the 16-pixel frame's top-left at (gx - 8, gy - 8).
    const int gx = ColumnX(1);
    const int gy = kVH - 10 - 150;
    EXPECT_FLOAT_EQ(images[0].x, gx - 8 + 8);
    EXPECT_FLOAT_EQ(images[0].y, gy - 8 + 8);
    EXPECT_EQ(images[0].state.color_red, 255 - 150);
    // The top edge and the column's guide line only.
    EXPECT_EQ(Kind(DrawKind::Line).size(), 2u);
}

TEST_F(ScorePanelTest, RunsAreJoinedNewestRightAndOlderLeft) {
    AddOlder(100);
    AddOlder(50);
    Draw();
    auto images = Kind(DrawKind::Image);
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].x - images[1].x, 18);
    EXPECT_EQ(images[1].y - images[0].y, 75);  // half the score, half the height
    auto lines = Kind(DrawKind::Line);
    ASSERT_EQ(lines.size(), 4u);  // edge, guide, joint, guide
    EXPECT_EQ(lines[2].x, ColumnX(2));
    EXPECT_EQ(lines[2].w, ColumnX(1));
}

TEST_F(ScorePanelTest, TableCutsNamesAt24AndScoresTo12DigitsDetailsShowThemWhole) {
    const std::string longName = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123";
    Scores& run = AddOlder(1234567890123456LL, longName);
    run.Timestamp = DateTimeNumber(2026, 12, 8, 13, 5, 9);
    AddOlder(42, "small");
    Draw();
    EXPECT_TRUE(DrewText(longName.substr(0, 24)));
    EXPECT_FALSE(DrewText(longName));
    EXPECT_TRUE(DrewText("567890123456"));
    EXPECT_TRUE(DrewText("000000000042"));

    // Hover the first table row.
    PointAt(kX + 10, kVH - 589 + 5);
    Draw();
    EXPECT_EQ(SelectedRecord, &run);
    EXPECT_TRUE(DrewText(longName));
    EXPECT_TRUE(DrewText("1234567890123456"));
    EXPECT_TRUE(DrewText("13:05:09, 08-12-2026"));
    EXPECT_FALSE(DrewText("Complete!"));
}

TEST_F(ScorePanelTest, DetailBoxShowsCompletionAndEarnedBadges) {
    Scores& run = AddOlder(10, "done");
    run.Best[30] = 1;
    run.Badges = 0b1001;  // badges 1 and 4
    SelectedIndex = 1;
    Draw();
    EXPECT_TRUE(DrewText("Complete!"));
    std::vector<int> badgeFrames;
    for (const DrawRecord& r : Kind(DrawKind::Image)) {
        if (r.image == engine::BadgesImage.get()) badgeFrames.push_back(r.frame);
    }
    EXPECT_EQ(badgeFrames, (std::vector<int>{0, 3}));
}

// --- Selection -------------------------------------------------------------

TEST_F(ScorePanelTest, HoveredGraphColumnShowsOnlyWhileThePointerIsThere) {
    AddOlder(10, "first");
    Scores& second = AddOlder(20, "second");
    PointAt(ColumnX(2), kVH - 100);
    Draw();
    EXPECT_EQ(SelectedRecord, &second);
    EXPECT_EQ(SelectedIndex, 0);
    EXPECT_TRUE(DrewText("second"));

    PointAt(10, 10);
    Draw();
    EXPECT_EQ(SelectedRecord, nullptr);
}

TEST_F(ScorePanelTest, AHeldGraphColumnOrTableRowStaysShownAfterThePointerLeaves) {
    struct Case {
        const char* what;
        int x, y;
        int index;  // SelectedIndex while held
    };
    const Case cases[] = {
        {"graph column 2", ColumnX(2), kVH - 100, 2},
        {"table row 1, the best run", kX + 10, kVH - 589 + 5, 1001},
    };
    for (const Case& c : cases) {
        ResetScoreGlobals();
        AddOlder(10, "low");
        Scores& high = AddOlder(20, "high");
        PointAt(c.x, c.y);
        held_ = true;
        Draw();
        EXPECT_EQ(SelectedIndex, c.index) << c.what;
        EXPECT_EQ(SelectedRecord, &high) << c.what;

        held_ = false;
        PointAt(10, 10);
        Draw();
        EXPECT_EQ(SelectedRecord, &high) << c.what;
    }
}

TEST_F(ScorePanelTest, RowEdgesAreOutsideTheRow) {
    AddOlder(10, "only");
    PointAt(kX + 4, kVH - 589 + 5);  // on the left edge
    Draw();
    EXPECT_EQ(SelectedRecord, nullptr);
}

TEST_F(ScorePanelTest, WatchShowsOnlyForARunWithAReplayAndActsOncePerPress) {
    zqtest::TempDir dir;
    media::TProgramPaths paths;
    paths.scoreFile = dir / "nuscores.dat";
    media::SetProgramPaths(paths);
    std::vector<Scores> watched;
    WatchReplayHook = [&watched](const Scores& run) { watched.push_back(run); };
    AddOlder(10, "no replay");
    Scores& high = AddOlder(20, "with replay");
    ASSERT_TRUE(media::MakeFolders(ReplayFolder()));
    ASSERT_TRUE(zqtest::WriteWholeFile(ReplayPath(high), "replay"));

    // Pin each run by its row, then press on the button's place.
    const int buttonX = kX + kWidth - 96 + 40, buttonY = kVH - 628 + 15;
    for (int row : {2, 1}) {
        PointAt(kX + 10, kVH - 589 + 17 * (row - 1) + 5);
        held_ = true;
        Draw();
        held_ = false;
        Draw();
        PointAt(buttonX, buttonY);
        Draw();
        EXPECT_EQ(DrewText("Watch"), row == 1) << "row " << row;
        held_ = true;
        Draw();  // the press
        Draw();  // still held: not a second press
        held_ = false;
        Draw();
    }
    ASSERT_EQ(watched.size(), 1u);
    EXPECT_EQ(watched[0].Name, "with replay");

    WatchReplayHook = nullptr;
    media::SetProgramPaths({});
}

TEST_F(ScorePanelTest, BoardLineAndShareShowForTheSelectedRunAndShareActsOncePerPress) {
    std::vector<std::string> shared;
    BoardLineHook = [](const Scores& run) {
        return run.Name == "ranked" ? std::string("Board: rank 3 on Hard") : std::string();
    };
    CanShareHook = [](const Scores& run) { return run.Name == "old"; };
    ShareRunHook = [&shared](const Scores& run) { shared.push_back(run.Name); };
    AddOlder(10, "old");
    AddOlder(20, "ranked");

    const int shareX = kX + kWidth - 96 - 88 - 8 + 40, buttonY = kVH - 628 + 15;
    for (int row : {2, 1}) {  // "old", then "ranked"
        PointAt(kX + 10, kVH - 589 + 17 * (row - 1) + 5);
        held_ = true;
        Draw();
        held_ = false;
        PointAt(shareX, buttonY);
        Draw();
        EXPECT_EQ(DrewText("Share"), row == 2) << "row " << row;
        EXPECT_EQ(DrewText("Board: rank 3 on Hard"), row == 1) << "row " << row;
        held_ = true;
        Draw();  // the press
        Draw();  // still held: not a second press
        held_ = false;
        Draw();
    }
    EXPECT_EQ(shared, std::vector<std::string>{"old"});

    BoardLineHook = nullptr;
    CanShareHook = nullptr;
    ShareRunHook = nullptr;
}

// --- Scrolling -------------------------------------------------------------

TEST_F(ScorePanelTest, GraphScrollsWhileThePointerRestsAtEitherEndWithinItsRange) {
    AddOlder(10);
    PointAt(kVW - (kWidth + 32) + 10, kVH - 100);
    for (int i = 0; i < 130; ++i) Draw();
    EXPECT_EQ(GraphScroll, 1000);

    PointAt(kVW - 10, kVH - 100);
    Draw();
    EXPECT_EQ(GraphScroll, 992);
    for (int i = 0; i < 130; ++i) Draw();
    EXPECT_EQ(GraphScroll, 0);
}

TEST_F(ScorePanelTest, RunsPastThePanelsLeftEdgeAreNotDrawn) {
    for (int i = 1; i <= 40; ++i) AddOlder(10);
    Draw();
    const auto images = Kind(DrawKind::Image);
    // Columns at gx = 1256 - 18(i-1) are drawn while gx > X - 4.
    int expected = 0;
    for (int i = 1; i <= 40; ++i) expected += ColumnX(i) > kX - 4 ? 1 : 0;
    EXPECT_EQ(static_cast<int>(images.size()), expected);
    EXPECT_LT(expected, 40);
}

}  // namespace
}  // namespace app

// Tests of the engine test: the measured budgets, the floors and slow-system
// switch, and its log lines. The frame rate is made by a drawing driver that
// charges the virtual clock for every sprite drawn when the frame is presented.
#include <algorithm>

#include "tests/engine/engine_fixture.h"

using namespace engine;

namespace {

// A drawing driver whose presents take time in proportion to the sprites drawn.
class CostlyDriver : public media::TRecordingDriver {
  public:
    CostlyDriver(std::shared_ptr<media::VirtualClock> clock, int nanosPerSprite)
        : clock_(std::move(clock)), nanos_(nanosPerSprite) {}
    void DrawFrame(media::TImage&, int, float, float, const media::TDraw2DGraphics&) override {
        ++pending_;
    }
    void Flip(int sync) override {
        clock_->Advance(pending_ * nanos_ / 1000000);
        pending_ = 0;
        TRecordingDriver::Flip(sync);
        Clear();
    }

  private:
    std::shared_ptr<media::VirtualClock> clock_;
    int64_t nanos_;
    int64_t pending_ = 0;
};

class EngineBudgetTest : public zqtest::EngineFixture {
  protected:
    void SetUp() override {
        EngineFixture::SetUp();
        ASSERT_TRUE(OpenLog(dir_ / "Debug.txt"));
    }
    // Runs the engine test on a machine where each sprite costs this many nanoseconds.
    void Run(int nanosPerSprite) {
        auto driver = std::make_shared<CostlyDriver>(clock_.get(), nanosPerSprite);
        media::SetGraphicsDriver(driver, 2);
        ASSERT_NE(media::OpenGraphics(1024, 768, 0, 60, 0), nullptr);
        media::SetVirtualResolution(1280, 960);
        IconsSharpImage = Sheet(64);
        bool done = false;
        zqtest::RunScreen(MakeEngineTest(60, 2, [&done] { done = true; }));
        EXPECT_TRUE(done);
        CloseLog();
        log_ = LogLines(dir_ / "Debug.txt");
    }
    bool Logged(const std::string& line) const {
        return std::find(log_.begin(), log_.end(), line) != log_.end();
    }

    zqtest::TempDir dir_;
    std::vector<std::string> log_;
};

}  // namespace

TEST_F(EngineBudgetTest, FastMachineHoldsTheRateAtTheLargestLoad) {
    Run(0);
    EXPECT_EQ(BestLoad, 20000);
    EXPECT_EQ(DrawBudgets[1], 8000);
    EXPECT_EQ(DrawBudgets[2], 8000);
    EXPECT_EQ(DrawBudgets[3], 4000);
    EXPECT_EQ(TargetRate, 60);
    EXPECT_EQ(engine::Setup[SETUP_ESS], 0);
    EXPECT_EQ(OverlayOn, 0);
    std::vector<std::string> want = {"Starting Engine Test",
                                     "Aiming for 60,2",
                                     "Test Complete",
                                     "",
                                     "Engine Test Results",
                                     "",
                                     "\tMaximum Sprites Allowed for 60 Frames Per Second",
                                     "\tMain sprites : 8000",
                                     "\tGlowy Sprites : 8000",
                                     "\tParticles : 4000",
                                     "",
                                     ""};
    EXPECT_EQ(log_, want);
}

TEST_F(EngineBudgetTest, LoadOfThreeThousandGivesTwelveHundredBudgets) {
    // 0.7 ms per thousand sprites: 2 ms extra (58 fps) at 3000, more beyond.
    Run(700);
    EXPECT_EQ(BestLoad, 3000);
    EXPECT_EQ(DrawBudgets[1], 1200);
    EXPECT_EQ(DrawBudgets[2], 1200);
    EXPECT_EQ(DrawBudgets[3], 600);
    EXPECT_EQ(TargetRate, 60);
    EXPECT_EQ(engine::Setup[SETUP_ESS], 0);
    EXPECT_FALSE(Logged("Settings Overwritten, Set to Default Lower Limits at 30fps."));
}

TEST_F(EngineBudgetTest, SlowMachineGetsTheFloorsAndSlowSystemMode) {
    Run(10000);
    EXPECT_EQ(BestLoad, 0);
    EXPECT_EQ(DrawBudgets[1], 1000);
    EXPECT_EQ(DrawBudgets[2], 500);
    EXPECT_EQ(DrawBudgets[3], 250);
    EXPECT_EQ(TargetRate, 30);
    EXPECT_EQ(engine::Setup[SETUP_ESS], 1);
    // The logged figures are the measured ones, before the floors.
    EXPECT_TRUE(Logged("\tMain sprites : 0"));
    EXPECT_TRUE(Logged("\tParticles : 0"));
    ASSERT_GE(log_.size(), 2u);
    EXPECT_EQ(log_[log_.size() - 2], "Settings Overwritten, Set to Default Lower Limits at 30fps.");
    EXPECT_EQ(log_.back(), "");
}

TEST_F(EngineBudgetTest, SlowSystemAlreadySetAimsAtThirty) {
    engine::Setup[SETUP_ESS] = 1;
    Run(0);
    EXPECT_TRUE(Logged("Aiming for 30,2"));
    EXPECT_TRUE(Logged("\tMaximum Sprites Allowed for 30 Frames Per Second"));
    EXPECT_EQ(DrawBudgets[1], 8000);
    EXPECT_EQ(TargetRate, 30);
    EXPECT_TRUE(Logged("Settings Overwritten, Set to Default Lower Limits at 30fps."));
}

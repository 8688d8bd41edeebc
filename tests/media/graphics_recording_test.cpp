// Tests of the public drawing calls through the recording driver (no X display):
// call order and captured state, the draw-state rules, the pacing of Flip(-1),
// images and frames, virtual resolution and pointer scaling, the mode queries.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/media/clock.h"
#include "engine/media/desktop/x11_bridge.h"
#include "engine/media/graphics.h"
#include "engine/media/recording_driver.h"
#include "tests/support/clocks.h"

using namespace media;

namespace {

class RecordingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        rec_ = UseRecordingDriver();
        SetRotation(0);
        SetScale(1, 1);
        SetColor(255, 255, 255);
        SetAlpha(1);
        SetBlend(ALPHABLEND);
        SetImageFont(nullptr);
        AutoMidHandle(false);
    }
    void TearDown() override {
        CloseGraphics();
        SetGraphicsDriver(nullptr, 2);
    }
    std::shared_ptr<TImage> Sheet(int frames) {
        auto pm = CreatePixmap(16, 16);
        std::vector<std::shared_ptr<TPixmap>> list(static_cast<size_t>(frames), pm);
        return LoadImageFromPixmaps(list, 0);
    }

    zqtest::VirtualClockInPlace<> clock_;
    std::shared_ptr<TRecordingDriver> rec_;
};

}  // namespace

TEST_F(RecordingTest, DrawingWithoutAWindowIsHarmless) {
    auto img = Sheet(1);
    DrawImage(img, 1, 2, 0);
    DrawRect(0, 0, 5, 5);
    DrawLine(0, 0, 5, 5);
    Plot(1, 1);
    DrawOval(0, 0, 4, 4);
    DrawText("x", 0, 0);
    Cls();
    Flip(-1);
    EXPECT_EQ(GrabPixmap(0, 0, 4, 4), nullptr);
    EXPECT_TRUE(rec_->records.empty());
    EXPECT_EQ(rec_->presents, 0);
}

TEST_F(RecordingTest, RecordsEveryCallInOrderWithItsState) {
    ASSERT_NE(OpenGraphics(800, 600, 0, 60, 0), nullptr);
    auto img = Sheet(4);
    auto font = LoadImageFont("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 20);
    ASSERT_NE(font, nullptr);
    SetColor(10, 20, 30);
    SetAlpha(0.5f);
    SetBlend(LIGHTBLEND);
    SetRotation(30);
    SetScale(2, 3);
    DrawImage(img, 100, 50, 3);
    SetBlend(SHADEBLEND);
    DrawRect(1, 2, 3, 4);
    DrawLine(5, 6, 7, 8);
    Plot(9, 10);
    DrawOval(11, 12, 13, 14);
    SetImageFont(font);
    DrawText("Hi", 15, 16);
    Flip(0);

    ASSERT_EQ(rec_->records.size(), 6u);
    const DrawRecord& a = rec_->records[0];
    EXPECT_EQ(a.kind, DrawKind::Image);
    EXPECT_EQ(a.image, img.get());
    EXPECT_EQ(a.frame, 3);
    EXPECT_FLOAT_EQ(a.x, 100);
    EXPECT_FLOAT_EQ(a.y, 50);
    EXPECT_EQ(a.state.color_red, 10);
    EXPECT_EQ(a.state.color_green, 20);
    EXPECT_EQ(a.state.color_blue, 30);
    EXPECT_FLOAT_EQ(a.state.color_alpha, 0.5f);
    EXPECT_EQ(a.state.blend_mode, LIGHTBLEND);
    EXPECT_FLOAT_EQ(a.state.tform_rot, 30);
    EXPECT_FLOAT_EQ(a.state.tform_scale_x, 2);
    EXPECT_FLOAT_EQ(a.state.tform_scale_y, 3);
    EXPECT_EQ(rec_->records[1].kind, DrawKind::Rect);
    EXPECT_EQ(rec_->records[1].state.blend_mode, SHADEBLEND);
    EXPECT_FLOAT_EQ(rec_->records[1].w, 3);
    EXPECT_EQ(rec_->records[2].kind, DrawKind::Line);
    EXPECT_FLOAT_EQ(rec_->records[2].w, 7);
    EXPECT_EQ(rec_->records[3].kind, DrawKind::Plot);
    EXPECT_EQ(rec_->records[4].kind, DrawKind::Oval);
    const DrawRecord& t = rec_->records[5];
    EXPECT_EQ(t.kind, DrawKind::Text);
    EXPECT_EQ(t.text, "Hi");
    EXPECT_EQ(t.state.image_font, font);
    EXPECT_EQ(static_cast<int>(t.w), TextWidth("Hi"));
    EXPECT_EQ(rec_->presents, 1);
    EXPECT_EQ(rec_->flip_syncs, std::vector<int>{0});

    rec_->Clear();
    EXPECT_TRUE(rec_->records.empty());
    EXPECT_EQ(rec_->presents, 0);
}

TEST_F(RecordingTest, NullImageAndOutOfRangeFramesDrawNothing) {
    ASSERT_NE(OpenGraphics(320, 240), nullptr);
    auto img = Sheet(3);
    DrawImage(nullptr, 0, 0, 0);
    DrawImage(img, 0, 0, 3);  // frame equal to the frame count
    DrawImage(img, 0, 0, -1);
    EXPECT_TRUE(rec_->records.empty());
    DrawImage(img, 0, 0, 2);
    EXPECT_EQ(rec_->records.size(), 1u);
}

TEST_F(RecordingTest, AlphaIsClampedAndSentAsATruncatedByte) {
    SetAlpha(1.7f);
    EXPECT_FLOAT_EQ(GetAlpha(), 1.0f);
    SetAlpha(-0.2f);
    EXPECT_FLOAT_EQ(GetAlpha(), 0.0f);
    SetAlpha(std::nanf(""));
    EXPECT_FLOAT_EQ(GetAlpha(), 0.0f);
    SetAlpha(0.5f);
    EXPECT_EQ(DrawState().AlphaByte(), 127);
    SetAlpha(1.0f);
    EXPECT_EQ(DrawState().AlphaByte(), 255);
}

TEST_F(RecordingTest, RotationMatrixTurnsClockwiseAndScales) {
    SetScale(2, 3);
    SetRotation(90);
    const TDraw2DGraphics& g = DrawState();
    // The image's x axis (ix, jx) points down the screen after +90 degrees.
    EXPECT_NEAR(g.tform_ix, 0, 1e-5);
    EXPECT_NEAR(g.tform_jx, 2, 1e-5);
    EXPECT_NEAR(g.tform_iy, -3, 1e-5);
    EXPECT_NEAR(g.tform_jy, 0, 1e-5);
    float sx = 0, sy = 0;
    GetScale(sx, sy);
    EXPECT_FLOAT_EQ(sx, 2);
    EXPECT_FLOAT_EQ(sy, 3);
}

TEST_F(RecordingTest, FontDrawUsesItsOwnMatrixAndLeavesTheStateAlone) {
    ASSERT_NE(OpenGraphics(640, 480, 0, 0, 0), nullptr);
    SetRotation(30);
    SetColor(10, 20, 30);
    auto font = DefaultImageFont();
    font->Draw("Hi", 5, 6, 2, 0.5f, -0.5f, 3);
    DrawText("Hi", 7, 8);
    ASSERT_EQ(rec_->records.size(), 2u);
    const DrawRecord& own = rec_->records[0];
    EXPECT_EQ(own.text, "Hi");
    EXPECT_FLOAT_EQ(own.x, 5);
    EXPECT_FLOAT_EQ(own.y, 6);
    EXPECT_FLOAT_EQ(own.state.tform_ix, 2);
    EXPECT_FLOAT_EQ(own.state.tform_iy, 0.5f);
    EXPECT_FLOAT_EQ(own.state.tform_jx, -0.5f);
    EXPECT_FLOAT_EQ(own.state.tform_jy, 3);
    EXPECT_EQ(own.state.color_green, 20);
    // DrawText keeps drawing with the state's rotation.
    EXPECT_EQ(rec_->records[1].state.tform_ix, DrawState().tform_ix);
    EXPECT_NEAR(DrawState().tform_jx, 0.5, 1e-5);
}

TEST_F(RecordingTest, BlendModeIsStoredAsGiven) {
    for (int m : {MASKBLEND, SOLIDBLEND, ALPHABLEND, LIGHTBLEND, SHADEBLEND, 9}) {
        SetBlend(m);
        EXPECT_EQ(GetBlend(), m);
    }
}

TEST_F(RecordingTest, AutoMidHandleCentresImagesLoadedAfterwards) {
    auto before = CreateImage(10, 6);
    AutoMidHandle(true);
    auto after = CreateImage(10, 6);
    AutoMidHandle(false);
    EXPECT_FLOAT_EQ(before->handle_x, 0);
    EXPECT_FLOAT_EQ(after->handle_x, 5);
    EXPECT_FLOAT_EQ(after->handle_y, 3);
    EXPECT_TRUE(after->flags & DYNAMICIMAGE);
    ASSERT_NE(OpenGraphics(100, 100), nullptr);
    DrawImage(after, 50, 50);
    ASSERT_EQ(rec_->records.size(), 1u);
    EXPECT_FLOAT_EQ(rec_->records[0].image_handle_x, 5);
}

TEST_F(RecordingTest, FlipMinusOneAt60HertzPresents60FramesASecond) {
    // From the start of the clock, and across the wrap of the 32-bit Millisecs.
    for (int64_t start : {int64_t{0}, int64_t{2147483647} - 500}) {
        clock_->Advance(start - clock_->NowMs());
        rec_->flip_times.clear();
        rec_->flip_syncs.clear();
        ASSERT_NE(OpenGraphics(640, 480, 0, 60, 0), nullptr);
        for (int i = 0; i < 121; ++i) Flip(-1);
        ASSERT_EQ(rec_->flip_times.size(), 121u);
        auto since = [&](size_t i) {
            return MillisecsBetween(rec_->flip_times[0], rec_->flip_times[i]);
        };
        int in_first_second = 0;
        for (size_t i = 0; i < rec_->flip_times.size(); ++i) in_first_second += since(i) < 1000;
        EXPECT_EQ(in_first_second, 60) << start;
        EXPECT_EQ(since(60), 1000) << start;
        EXPECT_EQ(since(120), 2000) << start;
        for (size_t i = 1; i < rec_->flip_times.size(); ++i) {
            int gap = since(i) - since(i - 1);
            EXPECT_TRUE(gap == 16 || gap == 17)
                << "gap " << gap << " at " << i << " from " << start;
        }
        for (int s : rec_->flip_syncs) EXPECT_EQ(s, 0);
    }
}

TEST_F(RecordingTest, FlipMinusOneResynchronisesAfterAMissedTick) {
    ASSERT_NE(OpenGraphics(640, 480, 0, 60, 0), nullptr);
    Flip(-1);  // at 0; next tick 16
    clock_->Advance(40);
    Flip(-1);  // late: presents at once
    EXPECT_EQ(rec_->flip_times.back(), 40);
    Flip(-1);  // the next tick counts from the late frame
    EXPECT_EQ(rec_->flip_times.back(), 56);
}

TEST_F(RecordingTest, FlipMinusOneWithoutHertzOrInFullScreen) {
    ASSERT_NE(OpenGraphics(640, 480, 0, 0, 0), nullptr);
    Flip(-1);
    Flip(-1);
    EXPECT_EQ(rec_->flip_times, (std::vector<int>{0, 0}));
    ASSERT_NE(OpenGraphics(800, 600, 32, 60, 0), nullptr);
    rec_->Clear();
    Flip(-1);
    EXPECT_EQ(rec_->flip_syncs, std::vector<int>{1});
}

TEST_F(RecordingTest, VirtualResolutionScalesThePointer) {
    ASSERT_NE(OpenGraphics(800, 600), nullptr);
    SetVirtualResolution(1600, 900);
    EXPECT_FLOAT_EQ(rec_->res_width, 1600);
    detail::SetPointerWindowPosition(400, 300);
    EXPECT_FLOAT_EQ(VirtualMouseX(), 800);
    EXPECT_FLOAT_EQ(VirtualMouseY(), 450);
    MoveVirtualMouse(1200, 225);
    EXPECT_EQ(rec_->pointer_x, 600);
    EXPECT_EQ(rec_->pointer_y, 150);
    EXPECT_EQ(detail::PointerWindowX(), 600);
    EXPECT_EQ(detail::PointerWindowY(), 150);
}

TEST_F(RecordingTest, FullScreenCentresThePointer) {
    ASSERT_NE(OpenGraphics(1024, 768, 32, 60, 0), nullptr);
    EXPECT_EQ(rec_->pointer_x, 512);
    EXPECT_EQ(rec_->pointer_y, 384);
}

TEST_F(RecordingTest, HiddenPointerStaysHiddenInEveryNewWindow) {
    HideMouse();  // before any window, as start-up does
    ASSERT_NE(OpenGraphics(800, 600), nullptr);
    EXPECT_FALSE(rec_->pointer_visible);
    ASSERT_NE(OpenGraphics(1024, 768, 32, 60, 0), nullptr);  // each Apply reopens
    EXPECT_FALSE(rec_->pointer_visible);
    ShowMouse();
    EXPECT_TRUE(rec_->pointer_visible);
    ASSERT_NE(OpenGraphics(800, 600), nullptr);
    EXPECT_TRUE(rec_->pointer_visible);
}

TEST_F(RecordingTest, OpenFailsForUnlistedFullScreenAndFailedDisplay) {
    EXPECT_EQ(OpenGraphics(1000, 700, 32, 60, 0), nullptr);
    EXPECT_FALSE(GraphicsOpen());
    EXPECT_NE(OpenGraphics(1000, 700, 0, 60, 0), nullptr);  // any size in a window
    rec_->fail_open = true;
    EXPECT_EQ(OpenGraphics(800, 600), nullptr);
    EXPECT_FALSE(GraphicsOpen());
}

TEST_F(RecordingTest, DefaultFlagsAreAddedAndTitleIsPassed) {
    SetGraphicsDriver(rec_, 2);
    SetAppTitle("Zarquill \xA7");
    ASSERT_NE(OpenGraphics(640, 480, 0, 60, 1), nullptr);
    EXPECT_EQ(rec_->flags, 3);
    EXPECT_EQ(rec_->title, "Zarquill \xA7");
    SetAppTitle("Other");
    EXPECT_EQ(rec_->title, "Other");
}

TEST_F(RecordingTest, ModeQueriesMatchZeroAsAnyValue) {
    rec_->modes = {{1024, 768, 32, 60}, {1280, 1024, 24, 75}};
    EXPECT_EQ(CountGraphicsModes(), 2);
    int w, h, d, hz;
    EXPECT_TRUE(GetGraphicsMode(1, w, h, d, hz));
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(hz, 75);
    EXPECT_FALSE(GetGraphicsMode(2, w, h, d, hz));
    EXPECT_EQ(w, 0);
    EXPECT_TRUE(GraphicsModeExists(1024, 768, 0, 0));
    EXPECT_TRUE(GraphicsModeExists(0, 0, 24, 0));
    EXPECT_FALSE(GraphicsModeExists(1024, 768, 24, 0));
    EXPECT_FALSE(GraphicsModeExists(800, 600));
}

TEST_F(RecordingTest, GrabImageFillsTheFrameAndMasks) {
    ASSERT_NE(OpenGraphics(64, 64), nullptr);
    auto img = CreateImage(8, 8, 2, MASKEDIMAGE);
    int version = img->version;
    GrabImage(img, 0, 0, 1);  // the recording driver reads opaque black
    EXPECT_GT(img->version, version);
    ASSERT_NE(img->pixmaps[1], nullptr);
    // Black is the mask colour: every grabbed pixel became transparent.
    EXPECT_EQ(img->pixmaps[1]->ReadPixel(3, 3), 0x00000000u);
    GrabImage(img, 0, 0, 2);  // no such frame: ignored
}

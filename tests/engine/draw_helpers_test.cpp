// Tests of the drawing helpers through the recording driver: colour clamping,
// scale and font selection, pointer rectangles, text alignment, the sprite
// budgets and the slow-system skip, the glow sprite and the backdrop.
#include <cmath>

#include "tests/engine/engine_fixture.h"

using namespace engine;
using media::DrawKind;

namespace {

class DrawHelpersTest : public zqtest::EngineFixture {
  protected:
    void SetUp() override {
        EngineFixture::SetUp();
        OpenWindow();
        sheet_ = Sheet(4);
    }
    std::shared_ptr<media::TImage> sheet_;
};

}  // namespace

TEST_F(DrawHelpersTest, ColourIsClampedAndTruncatedAlphaKeptUnlessGiven) {
    media::SetAlpha(0.3f);
    SetColourAlpha(300, -5, 12.9);
    int r, g, b;
    media::GetColor(r, g, b);
    EXPECT_EQ(r, 255);
    EXPECT_EQ(g, 0);
    EXPECT_EQ(b, 12);
    EXPECT_FLOAT_EQ(media::GetAlpha(), 0.3f);

    SetColourAlpha(1, 2, 3, 7.5);
    EXPECT_FLOAT_EQ(media::GetAlpha(), 1.0f);
    SetColourAlpha(1, 2, 3, -1);
    EXPECT_FLOAT_EQ(media::GetAlpha(), 0.0f);
}

TEST_F(DrawHelpersTest, ScaleAngleAndReset) {
    SetScaleXY(2);
    float sx, sy;
    media::GetScale(sx, sy);
    EXPECT_FLOAT_EQ(sx, 2);
    EXPECT_FLOAT_EQ(sy, 2);
    SetScaleXY(3, 0.5);
    media::GetScale(sx, sy);
    EXPECT_FLOAT_EQ(sx, 3);
    EXPECT_FLOAT_EQ(sy, 0.5);
    SetAngle(33);
    EXPECT_FLOAT_EQ(media::GetRotation(), 33);

    SetColourAlpha(10, 20, 30, 0.2);
    SetBlendKind(3);
    ResetDrawState();
    media::GetScale(sx, sy);
    EXPECT_FLOAT_EQ(sx, 1);
    EXPECT_FLOAT_EQ(sy, 1);
    EXPECT_FLOAT_EQ(media::GetRotation(), 0);
    EXPECT_FLOAT_EQ(media::GetAlpha(), 1);
    int r, g, b;
    media::GetColor(r, g, b);
    EXPECT_EQ(r + g + b, 3 * 255);
    EXPECT_EQ(media::GetBlend(), media::ALPHABLEND);
    EXPECT_EQ(BlendKind, 1);
}

TEST_F(DrawHelpersTest, BlendKindsMapToModesAndUnknownKindsOnlyStore) {
    SetBlendKind(0);
    EXPECT_EQ(media::GetBlend(), media::SOLIDBLEND);
    SetBlendKind(2);
    EXPECT_EQ(media::GetBlend(), media::SHADEBLEND);
    SetBlendKind(3);
    EXPECT_EQ(media::GetBlend(), media::LIGHTBLEND);
    SetBlendKind(7);
    EXPECT_EQ(media::GetBlend(), media::LIGHTBLEND);
    EXPECT_EQ(BlendKind, 7);
}

TEST_F(DrawHelpersTest, FontOutOfRangeFallsBackToFamilyOneSizeZero) {
    for (auto& font : FontGrid) font = media::DefaultImageFont();
    auto first = std::make_shared<media::TImageFont>();
    auto other = std::make_shared<media::TImageFont>();
    FontGrid[0] = first;
    FontGrid[2 * 10 + 8] = other;
    SetFont(4, 9);
    EXPECT_EQ(media::GetImageFont(), first);
    SetFont(0, -1);
    EXPECT_EQ(media::GetImageFont(), first);
    SetFont(3, 8);
    EXPECT_EQ(media::GetImageFont(), other);
}

TEST_F(DrawHelpersTest, ClampsLimitHighThenLow) {
    EXPECT_EQ(ClampInt(5, 0, 3), 3);
    EXPECT_EQ(ClampInt(-5, 0, 3), 0);
    EXPECT_EQ(ClampInt(2, 0, 3), 2);
    // With lo above hi the low bound wins, as the order of the tests says.
    EXPECT_EQ(ClampInt(5, 4, 2), 4);
    EXPECT_DOUBLE_EQ(ClampReal(1.5, -1, 1), 1);
    EXPECT_DOUBLE_EQ(ClampReal(-1.5, -1, 1), -1);
}

TEST_F(DrawHelpersTest, MouseInRectIsStrictOnEveryEdge) {
    PointerX = 10;
    PointerY = 20;
    EXPECT_EQ(MouseInRect(5, 15, 10, 10), 1);
    EXPECT_EQ(MouseInRect(10, 15, 10, 10), 0);  // left edge
    EXPECT_EQ(MouseInRect(0, 15, 10, 10), 0);   // right edge
    EXPECT_EQ(MouseInRect(5, 20, 10, 10), 0);   // top edge
    EXPECT_EQ(MouseInRect(5, 10, 10, 10), 0);   // bottom edge
    EXPECT_EQ(MouseWasInRect(5, 15, 10, 10), 0);
    PrevPointerX = 10;
    PrevPointerY = 20;
    EXPECT_EQ(MouseWasInRect(5, 15, 10, 10), 1);
    EXPECT_EQ(MouseWasInRect(10, 15, 10, 10), 0);
}

TEST_F(DrawHelpersTest, TextAlignmentSubtractsHalfOrWholeSize) {
    media::SetImageFont(nullptr);
    const std::string text = "abc";
    int w = media::TextWidth(text), h = media::TextHeight();
    ASSERT_GT(w, 0);
    DrawTextAligned(100, 100, text, 0, 0);
    DrawTextAligned(100, 100, text, 1, 1);
    DrawTextAligned(100, 100, text, 2, 2);
    DrawTextAligned(100, 100, text, 5, -1);
    auto texts = rec_->OfKind(DrawKind::Text);
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_FLOAT_EQ(texts[0].x, 100);
    EXPECT_FLOAT_EQ(texts[1].x, 100 - w / 2);
    EXPECT_FLOAT_EQ(texts[1].y, 100 - h / 2);
    EXPECT_FLOAT_EQ(texts[2].x, 100 - w);
    EXPECT_FLOAT_EQ(texts[2].y, 100 - h);
    EXPECT_FLOAT_EQ(texts[3].x, 100);
    EXPECT_FLOAT_EQ(texts[3].y, 100);
}

TEST_F(DrawHelpersTest, SpritePutsScaledTopLeftOnThePoint) {
    SetScaleXY(2, 3);
    DrawSprite(sheet_, 10, 20, 1, KIND_IMAGE);
    auto images = rec_->OfKind(DrawKind::Image);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_FLOAT_EQ(images[0].x, 10 + 16 * 2 / 2.0f);
    EXPECT_FLOAT_EQ(images[0].y, 20 + 16 * 3 / 2.0f);
    EXPECT_EQ(images[0].frame, 1);
}

TEST_F(DrawHelpersTest, BudgetRefusesThe501stSpriteUntilTheNextFrame) {
    DrawBudgets[KIND_IMAGE] = 500;
    for (int i = 0; i < 501; ++i) DrawSprite(sheet_, 0, 0, 0, KIND_IMAGE);
    EXPECT_EQ(rec_->OfKind(DrawKind::Image).size(), 500u);
    EXPECT_EQ(DrawnCounts[KIND_IMAGE], 500);
    // Other kinds keep their own budgets.
    DrawSprite(sheet_, 0, 0, 0, KIND_PARTICLE);
    EXPECT_EQ(rec_->OfKind(DrawKind::Image).size(), 501u);

    BeginFrame(0);
    EXPECT_EQ(DrawnCounts[KIND_IMAGE], 0);
    EXPECT_EQ(DrawnCounts[KIND_PARTICLE], 0);
    DrawSprite(sheet_, 0, 0, 0, KIND_IMAGE);
    EXPECT_EQ(rec_->OfKind(DrawKind::Image).size(), 502u);
    EXPECT_TRUE(rec_->OfKind(DrawKind::Cls).empty());
    BeginFrame(1);
    EXPECT_EQ(rec_->OfKind(DrawKind::Cls).size(), 1u);
}

TEST_F(DrawHelpersTest, SpriteWithAnUnknownKindDrawsNothing) {
    DrawSprite(sheet_, 0, 0, 0, 0);
    DrawSprite(sheet_, 0, 0, 0, 11);
    DrawSprite(sheet_, 0, 0, 0, -3);
    EXPECT_TRUE(rec_->OfKind(DrawKind::Image).empty());
}

TEST_F(DrawHelpersTest, SlowSystemDrawsOnlyOnShownFrames) {
    engine::Setup[SETUP_ESS] = 1;
    FrameParity = 1;
    DrawSprite(sheet_, 0, 0, 0, KIND_IMAGE);
    DrawGlowSprite(sheet_, 0, 0, 0, sheet_, 1.1, 1);
    EXPECT_TRUE(rec_->OfKind(DrawKind::Image).empty());
    EXPECT_EQ(DrawnCounts[KIND_IMAGE], 0);
    FrameParity = 0;
    DrawSprite(sheet_, 0, 0, 0, KIND_IMAGE);
    EXPECT_EQ(rec_->OfKind(DrawKind::Image).size(), 1u);
    // Any other non-zero slow-system value skips every frame.
    engine::Setup[SETUP_ESS] = 2;
    DrawSprite(sheet_, 0, 0, 0, KIND_IMAGE);
    EXPECT_EQ(rec_->OfKind(DrawKind::Image).size(), 1u);
}

TEST_F(DrawHelpersTest, GlowDrawsAdditiveOverTheSpriteAndRestoresState) {
    auto glow = Sheet(4, 32);
    SetScaleXY(2);
    media::SetAlpha(0.5f);
    SetBlendKind(1);
    DrawGlowSprite(sheet_, 10, 10, 2, glow, 1.5, 0.8);
    auto images = rec_->OfKind(DrawKind::Image);
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].image, sheet_.get());
    EXPECT_FLOAT_EQ(images[0].x, 26);
    EXPECT_EQ(images[0].state.blend_mode, media::ALPHABLEND);
    EXPECT_EQ(images[1].image, glow.get());
    EXPECT_EQ(images[1].frame, 2);
    EXPECT_FLOAT_EQ(images[1].x, 26);  // centred on the base sprite, not the glow image
    EXPECT_FLOAT_EQ(images[1].state.tform_scale_x, 3);
    EXPECT_NEAR(images[1].state.color_alpha, 0.4f, 1e-6);
    EXPECT_EQ(images[1].state.blend_mode, media::LIGHTBLEND);

    float sx, sy;
    media::GetScale(sx, sy);
    EXPECT_FLOAT_EQ(sx, 2);
    EXPECT_FLOAT_EQ(media::GetAlpha(), 0.5f);
    EXPECT_EQ(media::GetBlend(), media::ALPHABLEND);
    EXPECT_EQ(BlendKind, 3);
}

TEST_F(DrawHelpersTest, GlowWithoutAGlowImageUsesTheSpriteItself) {
    DrawGlowSprite(sheet_, 0, 0, 1, nullptr, 1.1, 1);
    auto images = rec_->OfKind(DrawKind::Image);
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[1].image, sheet_.get());
}

TEST_F(DrawHelpersTest, GlowBudgetsAreIndependent) {
    DrawBudgets[KIND_IMAGE] = 1;
    DrawBudgets[KIND_GLOW] = 1;
    DrawGlowSprite(sheet_, 0, 0, 0, nullptr, 1.1, 1);
    DrawGlowSprite(sheet_, 0, 0, 0, nullptr, 1.1, 1);
    EXPECT_EQ(rec_->OfKind(DrawKind::Image).size(), 2u);

    // Over the glow budget the base sprite still draws.
    BeginFrame(0);
    rec_->Clear();
    DrawBudgets[KIND_IMAGE] = 10;
    DrawBudgets[KIND_GLOW] = 0;
    DrawGlowSprite(sheet_, 0, 0, 0, nullptr, 1.1, 1);
    auto images = rec_->OfKind(DrawKind::Image);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_NE(images[0].state.blend_mode, media::LIGHTBLEND);

    // Over the image budget the glow still draws.
    BeginFrame(0);
    rec_->Clear();
    DrawBudgets[KIND_IMAGE] = 0;
    DrawBudgets[KIND_GLOW] = 10;
    DrawGlowSprite(sheet_, 0, 0, 0, nullptr, 1.1, 1);
    images = rec_->OfKind(DrawKind::Image);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].state.blend_mode, media::LIGHTBLEND);
}

TEST_F(DrawHelpersTest, BackdropDrawsBrighteningTurnedBands) {
    BackdropColour = {0.2, 0.0, 1.0};
    BackdropTarget = BackdropColour;
    Backdrop();
    auto rects = rec_->OfKind(DrawKind::Rect);
    ASSERT_EQ(rects.size(), static_cast<size_t>(VirtualHeight / 10 + 1));
    EXPECT_FLOAT_EQ(rects[0].x, -100);
    EXPECT_FLOAT_EQ(rects[0].y, 0);
    EXPECT_FLOAT_EQ(rects[0].w, VirtualWidth + 1800);
    EXPECT_FLOAT_EQ(rects[0].h, 30);
    EXPECT_FLOAT_EQ(rects[1].y, 30);
    EXPECT_FLOAT_EQ(rects[0].state.tform_rot, -45);
    EXPECT_EQ(rects[0].state.color_red, 5);  // 26 x 0.2 truncated
    EXPECT_EQ(rects[0].state.color_blue, 26);
    EXPECT_EQ(rects.back().state.color_red, static_cast<int>(122 * 0.2));
    EXPECT_EQ(rects.back().state.color_blue, 122);
    EXPECT_FLOAT_EQ(media::GetRotation(), 0);
}

TEST_F(DrawHelpersTest, BackdropEasesBySixteenthsAndSnapsOntoItsTarget) {
    BackdropColour = {0.0, 0.0, 0.0};
    BackdropTarget = {1.0, 0.0, 0.5};
    Backdrop();
    EXPECT_DOUBLE_EQ(BackdropColour[0], 1.0 / 16);
    EXPECT_DOUBLE_EQ(BackdropColour[2], 0.5 / 16);
    int frames = 1;
    while (BackdropColour[0] != BackdropTarget[0] && frames < 1000) {
        double gap = std::fabs(BackdropColour[0] - BackdropTarget[0]);
        Backdrop();
        ++frames;
        double newGap = std::fabs(BackdropColour[0] - BackdropTarget[0]);
        // Either a sixteenth of the gap closed, or the colour snapped once under 0.005.
        if (newGap != 0) {
            EXPECT_NEAR(newGap, gap * 15 / 16, 1e-12);
            EXPECT_GE(newGap, 0.005);
        } else {
            EXPECT_LT(gap * 15 / 16, 0.005);
        }
    }
    EXPECT_LT(frames, 1000);
    EXPECT_EQ(BackdropColour[0], 1.0);
}

TEST_F(DrawHelpersTest, DrawingOffDrawsNothingAndLeavesTheDrawStateButKeepsTheBookkeeping) {
    SetColourAlpha(10, 20, 30, 0.5);
    SetScaleXY(2);
    SetAngle(30);
    SetBlendKind(0);
    const media::TDraw2DGraphics before = media::DrawState();
    BackdropColour = {0.0, 0.0, 0.0};
    BackdropTarget = {1.0, 0.0, 0.5};
    DrawingOff = true;

    BeginFrame(1);
    ResetDrawState();
    EXPECT_EQ(BlendKind, 1);
    SetColourAlpha(200, 200, 200, 1);
    SetScaleXY(0.5);
    SetAngle(90);
    SetBlendKind(3);
    EXPECT_EQ(BlendKind, 3);
    SetFont(2, 4);
    DrawTextAligned(10, 10, "Score", 1, 1);
    DrawSprite(sheet_, 0, 0, 0, KIND_IMAGE);
    DrawGlowSprite(sheet_, 0, 0, 0, nullptr, 2, 0.5);
    Backdrop();
    EXPECT_DOUBLE_EQ(BackdropColour[0], 1.0 / 16);

    EXPECT_TRUE(rec_->records.empty());
    EXPECT_EQ(DrawnCounts[KIND_IMAGE], 0);
    const media::TDraw2DGraphics& after = media::DrawState();
    EXPECT_EQ(after.color_red, before.color_red);
    EXPECT_EQ(after.color_alpha, before.color_alpha);
    EXPECT_EQ(after.tform_rot, before.tform_rot);
    EXPECT_EQ(after.tform_scale_x, before.tform_scale_x);
    EXPECT_EQ(after.blend_mode, before.blend_mode);
    EXPECT_EQ(after.image_font, before.image_font);

    // Resetting the helpers turns drawing back on.
    ResetDrawHelpers();
    EXPECT_FALSE(DrawingOff);
    DrawSprite(sheet_, 0, 0, 0, KIND_IMAGE);
    EXPECT_EQ(rec_->OfKind(DrawKind::Image).size(), 1u);
}

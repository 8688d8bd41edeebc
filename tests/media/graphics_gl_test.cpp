// Pixel tests of the OpenGL driver on a private Xvfb with Mesa's llvmpipe:
// blend modes, masking, filtering, rotation direction, virtual resolution,
// handles, frames, batching order, text and read-back orientation.
#include <gtest/gtest.h>

#include <cstdlib>

#include "engine/media/desktop/desktop.h"
#include "engine/media/desktop/gl_driver.h"
#include "engine/media/graphics.h"
#include "tests/support/xvfb.h"

using namespace media;

namespace {

constexpr int kTolerance = 3;
constexpr const char* kFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

struct Rgb {
    int r, g, b;
};

Rgb At(const std::shared_ptr<TPixmap>& pm, int x, int y) {
    uint32_t p = pm->ReadPixel(x, y);
    return {int((p >> 16) & 255), int((p >> 8) & 255), int(p & 255)};
}

::testing::AssertionResult Near(Rgb got, Rgb want) {
    if (std::abs(got.r - want.r) <= kTolerance && std::abs(got.g - want.g) <= kTolerance &&
        std::abs(got.b - want.b) <= kTolerance) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "got " << got.r << "," << got.g << "," << got.b
                                         << " want " << want.r << "," << want.g << "," << want.b;
}

// An image of w × h filled with one ARGB colour.
std::shared_ptr<TImage> Solid(int w, int h, uint32_t argb, int flags) {
    auto pm = CreatePixmap(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) pm->WritePixel(x, y, argb);
    }
    return LoadImageFromPixmaps({pm}, flags);
}

class GLDrawTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ZQ_REQUIRE_X(zqtest::SharedXvfb().Ok(), "Xvfb did not start");
        SetGraphicsDriver(GLDraw2DDriver(), 2);
        ASSERT_NE(OpenGraphics(64, 64, 0, 0, 0), nullptr);
        AutoMidHandle(false);
        SetRotation(0);
        SetScale(1, 1);
        SetColor(255, 255, 255);
        SetAlpha(1);
        SetBlend(SOLIDBLEND);
        SetImageFont(nullptr);
        SetClsColor(0, 0, 0);
        Cls();
    }
    void TearDown() override {
        SetClsColor(0, 0, 0);
        CloseGraphics();
    }
    std::shared_ptr<TPixmap> Grab() { return GrabPixmap(0, 0, 64, 64); }
};

}  // namespace

TEST_F(GLDrawTest, BlendModesGiveTheirPixels) {
    struct Case {
        int mode;
        float alpha;
        Rgb want;
    };
    // Background 200,100,50; source 100,200,40. Alpha 0.5 is the byte 127.
    const float a = 127.0f / 255.0f;
    const Case cases[] = {
        {SOLIDBLEND, 0.5f, {100, 200, 40}},
        {ALPHABLEND,
         0.5f,
         {int(100 * a + 200 * (1 - a) + 0.5f), int(200 * a + 100 * (1 - a) + 0.5f),
          int(40 * a + 50 * (1 - a) + 0.5f)}},
        {LIGHTBLEND,
         0.5f,
         {int(200 + 100 * a + 0.5f), int(100 + 200 * a + 0.5f), int(50 + 40 * a + 0.5f)}},
        {SHADEBLEND, 0.5f, {int(100 * 200 / 255.0f + 0.5f), int(200 * 100 / 255.0f + 0.5f), 8}},
        {MASKBLEND, 0.4f, {200, 100, 50}},  // below the alpha test: nothing drawn
        {MASKBLEND, 0.6f, {100, 200, 40}},  // passes: drawn without blending
        {77, 0.5f, {100, 200, 40}},         // unknown modes behave as solid
    };
    for (const Case& c : cases) {
        SetClsColor(200, 100, 50);
        Cls();
        SetBlend(c.mode);
        SetColor(100, 200, 40);
        SetAlpha(c.alpha);
        DrawRect(8, 8, 16, 16);
        auto pm = Grab();
        ASSERT_NE(pm, nullptr);
        EXPECT_TRUE(Near(At(pm, 12, 12), c.want)) << "mode " << c.mode << " alpha " << c.alpha;
        EXPECT_TRUE(Near(At(pm, 40, 40), {200, 100, 50})) << "mode " << c.mode;
    }
}

TEST_F(GLDrawTest, ImagesBlendWithTheirOwnAlphaAndTheColour) {
    SetClsColor(0, 0, 200);
    Cls();
    auto img = Solid(8, 8, 0x80FF0000u, 0);  // half-transparent red
    SetBlend(ALPHABLEND);
    SetColor(255, 255, 255);
    DrawImage(img, 0, 0);
    SetColor(0, 255, 0);  // the colour tints: green × red = black
    DrawImage(img, 16, 0);
    auto pm = Grab();
    float a = 128 / 255.0f;
    EXPECT_TRUE(Near(At(pm, 4, 4), {int(255 * a + 0.5f), 0, int(200 * (1 - a) + 0.5f)}));
    EXPECT_TRUE(Near(At(pm, 20, 4), {0, 0, int(200 * (1 - a) + 0.5f)}));
}

TEST_F(GLDrawTest, MaskColourBecomesTransparent) {
    SetClsColor(0, 0, 255);
    Cls();
    auto pm = CreatePixmap(4, 1);
    pm->WritePixel(0, 0, 0xFF000000u);  // black: the mask colour
    pm->WritePixel(1, 0, 0xFFFF0000u);
    pm->WritePixel(2, 0, 0xFF000000u);
    pm->WritePixel(3, 0, 0xFFFF0000u);
    auto masked = LoadImageFromPixmaps({pm}, MASKEDIMAGE);
    auto plain = LoadImageFromPixmaps({pm}, 0);
    SetBlend(MASKBLEND);
    DrawImage(masked, 0, 0);
    DrawImage(plain, 0, 4);
    auto out = Grab();
    EXPECT_TRUE(Near(At(out, 0, 0), {0, 0, 255}));
    EXPECT_TRUE(Near(At(out, 1, 0), {255, 0, 0}));
    EXPECT_TRUE(Near(At(out, 2, 0), {0, 0, 255}));
    EXPECT_TRUE(Near(At(out, 0, 4), {0, 0, 0}));
}

TEST_F(GLDrawTest, NearestStaysSharpAndFilteredBlends) {
    auto pm = CreatePixmap(2, 1);
    pm->WritePixel(0, 0, 0xFF000000u);
    pm->WritePixel(1, 0, 0xFFFFFFFFu);
    auto sharp = LoadImageFromPixmaps({pm}, 0);
    auto smooth = LoadImageFromPixmaps({pm}, FILTEREDIMAGE);
    SetScale(16, 16);
    DrawImage(sharp, 0, 0);
    DrawImage(smooth, 0, 32);
    auto out = Grab();
    int sharp_mid = 0, smooth_mid = 0;
    for (int x = 0; x < 32; ++x) {
        int s = At(out, x, 8).r, f = At(out, x, 40).r;
        sharp_mid += (s > 20 && s < 235) ? 1 : 0;
        smooth_mid += (f > 20 && f < 235) ? 1 : 0;
    }
    EXPECT_EQ(sharp_mid, 0);
    EXPECT_GE(smooth_mid, 8);
    EXPECT_TRUE(Near(At(out, 15, 8), {0, 0, 0}));
    EXPECT_TRUE(Near(At(out, 16, 8), {255, 255, 255}));
}

TEST_F(GLDrawTest, FramesDoNotBleedIntoNeighboursWhenFiltered) {
    auto red = CreatePixmap(4, 4), blue = CreatePixmap(4, 4);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            red->WritePixel(x, y, 0xFFFF0000u);
            blue->WritePixel(x, y, 0xFF0000FFu);
        }
    }
    auto img = LoadImageFromPixmaps({red, blue, red, blue}, FILTEREDIMAGE);
    SetScale(7.3f, 7.3f);
    SetRotation(10);
    DrawImage(img, 20, 10, 0);
    auto out = Grab();
    int red_pixels = 0;
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            Rgb c = At(out, x, y);
            EXPECT_EQ(c.b, 0) << x << "," << y;
            red_pixels += c.r > 0 ? 1 : 0;
        }
    }
    EXPECT_GT(red_pixels, 400);
}

TEST_F(GLDrawTest, PositiveRotationTurnsClockwise) {
    auto bar = Solid(16, 2, 0xFFFF0000u, 0);
    SetImageHandle(bar, 0, 1);
    SetRotation(90);
    DrawImage(bar, 32, 8);
    auto out = Grab();
    EXPECT_TRUE(Near(At(out, 32, 18), {255, 0, 0}));  // the bar points down
    EXPECT_TRUE(Near(At(out, 42, 8), {0, 0, 0}));
    EXPECT_TRUE(Near(At(out, 32, 2), {0, 0, 0}));
}

TEST_F(GLDrawTest, AutoMidHandleCentresOnThePoint) {
    AutoMidHandle(true);
    auto img = Solid(4, 4, 0xFF00FF00u, 0);
    AutoMidHandle(false);
    DrawImage(img, 20, 20);
    auto out = Grab();
    EXPECT_TRUE(Near(At(out, 18, 18), {0, 255, 0}));
    EXPECT_TRUE(Near(At(out, 21, 21), {0, 255, 0}));
    EXPECT_TRUE(Near(At(out, 17, 18), {0, 0, 0}));
    EXPECT_TRUE(Near(At(out, 22, 21), {0, 0, 0}));
}

TEST_F(GLDrawTest, VirtualResolutionStretchesDrawing) {
    SetVirtualResolution(32, 32);
    DrawRect(8, 8, 4, 4);
    auto out = Grab();
    EXPECT_TRUE(Near(At(out, 16, 16), {255, 255, 255}));
    EXPECT_TRUE(Near(At(out, 23, 23), {255, 255, 255}));
    EXPECT_TRUE(Near(At(out, 15, 16), {0, 0, 0}));
    EXPECT_TRUE(Near(At(out, 24, 23), {0, 0, 0}));
}

TEST_F(GLDrawTest, OutOfRangeFrameAndNullImageDrawNothing) {
    auto img = Solid(8, 8, 0xFFFFFFFFu, 0);
    DrawImage(img, 0, 0, 1);
    DrawImage(nullptr, 0, 0, 0);
    auto out = Grab();
    EXPECT_TRUE(Near(At(out, 4, 4), {0, 0, 0}));
}

TEST_F(GLDrawTest, BatchingKeepsCallOrder) {
    auto img = Solid(8, 8, 0xFFFF0000u, 0);
    SetBlend(ALPHABLEND);
    for (int i = 0; i < 50; ++i) {
        DrawImage(img, 0, 0);
        SetColor(0, 0, 255);
        DrawRect(0, 0, 8, 8);
        SetColor(255, 255, 255);
    }
    DrawImage(img, 0, 0);
    SetColor(0, 255, 0);
    DrawRect(4, 0, 4, 8);
    auto out = Grab();
    EXPECT_TRUE(Near(At(out, 1, 1), {255, 0, 0}));
    EXPECT_TRUE(Near(At(out, 6, 1), {0, 255, 0}));
}

TEST_F(GLDrawTest, AnImageFreedWhileItsQuadsWaitStillDrawsThem) {
    auto red = Solid(8, 8, 0xFFFF0000u, 0);
    DrawImage(red, 0, 0);
    red.reset();                               // its texture goes while the quad is still queued
    auto green = Solid(8, 8, 0xFF00FF00u, 0);  // free to take the same texture name
    DrawImage(green, 16, 0);
    auto out = Grab();
    EXPECT_TRUE(Near(At(out, 1, 1), {255, 0, 0}));
    EXPECT_TRUE(Near(At(out, 17, 1), {0, 255, 0}));
}

TEST_F(GLDrawTest, GrabPixmapIsTheRightWayUpAndOpaque) {
    SetColor(255, 0, 0);
    DrawRect(0, 0, 4, 4);
    SetColor(0, 0, 255);
    DrawRect(60, 60, 4, 4);
    auto out = GrabPixmap(0, 0, 64, 64);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->ReadPixel(1, 1), 0xFFFF0000u);
    EXPECT_EQ(out->ReadPixel(62, 62), 0xFF0000FFu);
    EXPECT_EQ(out->ReadPixel(30, 30) >> 24, 255u);
    // Whatever alpha the framebuffer keeps from drawing, a read-back is opaque.
    SetBlend(SOLIDBLEND);
    SetAlpha(0.25f);
    DrawRect(20, 20, 4, 4);
    EXPECT_EQ(GrabPixmap(20, 20, 1, 1)->ReadPixel(0, 0) >> 24, 255u);
    auto part = GrabPixmap(58, 58, 10, 10);  // partly outside the window
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(part->ReadPixel(3, 3), 0xFF0000FFu);
    EXPECT_EQ(part->ReadPixel(8, 8), 0u);
}

TEST_F(GLDrawTest, GrabImageCopiesTheFrameForDrawingElsewhere) {
    SetColor(255, 255, 0);
    DrawRect(0, 0, 8, 8);
    auto snap = CreateImage(8, 8, 1, 0);
    GrabImage(snap, 0, 0, 0);
    SetColor(255, 255, 255);
    DrawImage(snap, 32, 32);
    auto out = Grab();
    EXPECT_TRUE(Near(At(out, 35, 35), {255, 255, 0}));
}

TEST_F(GLDrawTest, TextDrawsWithinItsWidth) {
    auto font = LoadImageFont(kFont, 16);
    ASSERT_NE(font, nullptr);
    SetImageFont(font);
    SetBlend(ALPHABLEND);
    int w = TextWidth("Hello");
    ASSERT_GT(w, 10);
    DrawText("Hello", 2, 2);
    auto out = Grab();
    int lit = 0, outside = 0;
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            bool on = At(out, x, y).r > 60;
            bool inside = x >= 2 && x < 2 + w + 1 && y >= 2 && y < 2 + TextHeight();
            lit += on && inside ? 1 : 0;
            outside += on && !inside ? 1 : 0;
        }
    }
    EXPECT_GT(lit, 20);
    EXPECT_EQ(outside, 0);
    SetImageFont(nullptr);
    Cls();
    DrawText("AB", 0, 0);  // the built-in font draws too
    out = Grab();
    int builtin_lit = 0;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) builtin_lit += At(out, x, y).r > 60 ? 1 : 0;
    }
    EXPECT_GT(builtin_lit, 5);
}

TEST_F(GLDrawTest, ImagesSurviveReopeningTheWindow) {
    auto img = Solid(4, 4, 0xFF00FFFFu, 0);
    DrawImage(img, 0, 0);
    ASSERT_NE(OpenGraphics(64, 64, 0, 0, 0), nullptr);
    SetBlend(SOLIDBLEND);
    DrawImage(img, 0, 0);
    EXPECT_TRUE(Near(At(Grab(), 1, 1), {0, 255, 255}));
}

TEST_F(GLDrawTest, LinesPlotsAndOvalsLightTheirPixels) {
    DrawLine(0, 10, 20, 10);
    Plot(40, 40);
    DrawOval(30, 0, 20, 20);
    auto out = Grab();
    EXPECT_TRUE(Near(At(out, 10, 10), {255, 255, 255}));
    EXPECT_TRUE(Near(At(out, 10, 12), {0, 0, 0}));
    EXPECT_TRUE(Near(At(out, 40, 40), {255, 255, 255}));
    EXPECT_TRUE(Near(At(out, 41, 41), {0, 0, 0}));
    EXPECT_TRUE(Near(At(out, 40, 10), {255, 255, 255}));  // the oval's centre
    EXPECT_TRUE(Near(At(out, 31, 1), {0, 0, 0}));         // its box corner
}

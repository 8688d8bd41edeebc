// Tests of image fonts without a window: text width as the running sum of
// advances truncated per glyph, missing glyphs, line height, the built-in
// font's fixed metrics and glyphs made once and kept in the atlas.
#include <gtest/gtest.h>

#include "engine/media/graphics.h"
#include "engine/media/image_font.h"
#include "engine/media/text.h"

using namespace media;

namespace {

constexpr const char* kSans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

class FontTest : public ::testing::Test {
  protected:
    void SetUp() override {
        font_ = LoadImageFont(kSans, 23, 4);
        if (!font_) GTEST_SKIP() << "DejaVu Sans not installed";
    }
    void TearDown() override { SetImageFont(nullptr); }
    std::shared_ptr<TImageFont> font_;
};

}  // namespace

TEST_F(FontTest, WidthIsTheRunningSumTruncatedPerGlyph) {
    SetImageFont(font_);
    EXPECT_EQ(TextWidth(""), 0);
    std::string text = "Zarquill \xE9t\xE9 99";  // with Latin-1 letters
    int expect = 0;
    for (char c : text) {
        const TGlyph& g = font_->Glyph(CharCode(c));
        ASSERT_TRUE(g.present) << CharCode(c);
        expect = static_cast<int>(expect + g.advance);
    }
    EXPECT_EQ(TextWidth(text), expect);
    EXPECT_GT(expect, 100);
    EXPECT_EQ(TextWidth("ab"), TextWidth("a") + TextWidth("b"));
}

TEST_F(FontTest, CharactersWithoutAGlyphAddNothing) {
    SetImageFont(font_);
    // Code 0x01 is a control character DejaVu has no glyph for.
    EXPECT_LT(font_->CharToGlyph(1), 0);
    EXPECT_EQ(TextWidth(std::string("A\x01"
                                    "B")),
              TextWidth("AB"));
    EXPECT_EQ(TextWidth(std::string(1, '\x01')), 0);
    EXPECT_GE(font_->CharToGlyph('A'), 0);
}

TEST_F(FontTest, HeightCoversAscentAndDescent) {
    SetImageFont(font_);
    EXPECT_GE(TextHeight(), 23);
    EXPECT_LE(TextHeight(), 32);
    auto big = LoadImageFont(kSans, 96);
    ASSERT_NE(big, nullptr);
    EXPECT_GT(big->Height(), 3 * TextHeight());
}

TEST_F(FontTest, GlyphsAreMadeOnceAndKept) {
    EXPECT_TRUE(font_->atlas.empty());
    font_->TextWidth("AAAA");
    int version = font_->atlas_version;
    EXPECT_EQ(version, 1);  // one glyph placed
    font_->TextWidth("AAAA");
    EXPECT_EQ(font_->atlas_version, version);
    const TGlyph& a = font_->Glyph('A');
    EXPECT_GT(a.w, 0);
    EXPECT_GT(a.h, 0);
    // The glyph's pixels are in the atlas where it says.
    int lit = 0;
    for (int y = 0; y < a.h; ++y) {
        for (int x = 0; x < a.w; ++x) {
            lit += font_->atlas[size_t(a.atlas_y + y) * font_->atlas_w + a.atlas_x + x] > 128;
        }
    }
    EXPECT_GT(lit, 10);
}

TEST_F(FontTest, AtlasGrowsForLargeFontsWithoutLosingGlyphs) {
    auto big = LoadImageFont(kSans, 112);
    ASSERT_NE(big, nullptr);
    big->TextWidth("A");
    const TGlyph first = big->Glyph('A');
    uint8_t sample = big->atlas[size_t(first.atlas_y + first.h / 2) * big->atlas_w + first.atlas_x +
                                first.w / 2];
    std::string all;
    for (int c = 32; c < 256; ++c) all += static_cast<char>(c);
    big->TextWidth(all);
    EXPECT_GT(big->atlas_w, 256);
    EXPECT_EQ(big->atlas[size_t(first.atlas_y + first.h / 2) * big->atlas_w + first.atlas_x +
                         first.w / 2],
              sample);
    for (int c = 33; c < 127; ++c) {
        const TGlyph& g = big->Glyph(c);
        EXPECT_TRUE(g.present);
        EXPECT_LE(g.atlas_x + g.w, big->atlas_w);
        EXPECT_LE(g.atlas_y + g.h, big->atlas_h);
    }
}

TEST(BuiltinFontTest, FixedMetricsWithoutAnyFontLoaded) {
    SetImageFont(nullptr);
    EXPECT_EQ(TextHeight(), 16);
    EXPECT_EQ(TextWidth("Hello"), 40);
    EXPECT_EQ(TextWidth("\xA3"
                        "5"),
              16);  // Latin-1 pound sign
    EXPECT_EQ(TextWidth(std::string("\x01\x7F\x85", 3)), 0);
    EXPECT_EQ(GetImageFont(), DefaultImageFont());
}

// Tests of pixmaps and the PNG codec (no window needed): pixel packing,
// bounds, format conversion, save and load round trips for grey, RGB and RGBA
// at several compression levels, failure results, and cutting sheets into
// animation frames with masking.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "engine/media/graphics.h"
#include "engine/media/pixmap.h"

using namespace media;

namespace {

class PixmapTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/zq_pixmap_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        for (const std::string& f : files_) std::remove(f.c_str());
        rmdir(dir_.c_str());
    }
    std::string Path(const std::string& name) {
        files_.push_back(dir_ + "/" + name);
        return files_.back();
    }
    std::string dir_;
    std::vector<std::string> files_;
};

}  // namespace

TEST_F(PixmapTest, PixelsPackAsArgbAndIgnoreOutOfRange) {
    auto pm = CreatePixmap(3, 2);
    ASSERT_NE(pm, nullptr);
    EXPECT_EQ(pm->pitch, 12);
    pm->WritePixel(2, 1, 0x80112233u);
    EXPECT_EQ(pm->ReadPixel(2, 1), 0x80112233u);
    const uint8_t* p = pm->Row(1) + 8;
    EXPECT_EQ(p[0], 0x11);  // red first in memory
    EXPECT_EQ(p[3], 0x80);
    pm->WritePixel(3, 0, 0xFFFFFFFFu);
    pm->WritePixel(-1, 0, 0xFFFFFFFFu);
    EXPECT_EQ(pm->ReadPixel(3, 0), 0u);
    EXPECT_EQ(pm->ReadPixel(0, -1), 0u);
    EXPECT_EQ(CreatePixmap(0, 5), nullptr);
    EXPECT_EQ(CreatePixmap(5, -1), nullptr);
}

TEST_F(PixmapTest, GreyAndRgbPixmapsReadOpaque) {
    auto grey = CreatePixmap(2, 2, PF_I8);
    grey->WritePixel(0, 0, 0x00306090u);  // stored as the mean, 0x60
    EXPECT_EQ(grey->ReadPixel(0, 0), 0xFF606060u);
    auto rgb = CreatePixmap(2, 2, PF_RGB888);
    rgb->WritePixel(1, 1, 0x00ABCDEFu);
    EXPECT_EQ(rgb->ReadPixel(1, 1), 0xFFABCDEFu);
    auto rgba = ConvertPixmap(*rgb, PF_RGBA8888);
    EXPECT_EQ(rgba->ReadPixel(1, 1), 0xFFABCDEFu);
}

TEST_F(PixmapTest, PngRoundTripsEveryFormatAndLevel) {
    for (int format : {PF_I8, PF_RGB888, PF_RGBA8888}) {
        auto pm = CreatePixmap(17, 5, format);
        for (int y = 0; y < 5; ++y) {
            for (int x = 0; x < 17; ++x) {
                uint32_t v = uint32_t(x * 15) << 16 | uint32_t(y * 50) << 8 | uint32_t(x * y);
                pm->WritePixel(x, y, v | uint32_t(40 + x * 10) << 24);
            }
        }
        for (int level : {0, 6, 9}) {
            std::string path =
                Path("rt_" + std::to_string(format) + "_" + std::to_string(level) + ".png");
            ASSERT_EQ(SavePixmapPNG(*pm, path, level), 1);
            auto back = LoadPixmap(path);
            ASSERT_NE(back, nullptr);
            EXPECT_EQ(back->format, PF_RGBA8888);
            ASSERT_EQ(back->width, 17);
            ASSERT_EQ(back->height, 5);
            for (int y = 0; y < 5; ++y) {
                for (int x = 0; x < 17; ++x) {
                    ASSERT_EQ(back->ReadPixel(x, y), pm->ReadPixel(x, y))
                        << "format " << format << " at " << x << "," << y;
                }
            }
        }
    }
}

TEST_F(PixmapTest, PngWritesTheColourTypeOfTheFormat) {
    // The colour type byte sits at offset 25 of a PNG file (in the IHDR chunk).
    struct Case {
        int format;
        int colour_type;
    } cases[] = {{PF_I8, 0}, {PF_RGB888, 2}, {PF_RGBA8888, 6}};
    for (const Case& c : cases) {
        std::string path = Path("type_" + std::to_string(c.format) + ".png");
        ASSERT_EQ(SavePixmapPNG(*CreatePixmap(4, 4, c.format), path, 9), 1);
        std::ifstream in(path, std::ios::binary);
        char header[26] = {};
        in.read(header, 26);
        EXPECT_EQ(header[24], 8);  // bit depth
        EXPECT_EQ(header[25], c.colour_type);
    }
}

TEST_F(PixmapTest, HigherCompressionIsNotLarger) {
    auto pm = CreatePixmap(64, 64);
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) pm->WritePixel(x, y, 0xFF000000u | uint32_t((x / 8) * 20));
    }
    std::string p0 = Path("l0.png"), p9 = Path("l9.png");
    ASSERT_EQ(SavePixmapPNG(*pm, p0, 0), 1);
    ASSERT_EQ(SavePixmapPNG(*pm, p9, 9), 1);
    std::ifstream a(p0, std::ios::binary | std::ios::ate), b(p9, std::ios::binary | std::ios::ate);
    EXPECT_LT(b.tellg(), a.tellg());
}

TEST_F(PixmapTest, FailuresGiveNullOrZero) {
    EXPECT_EQ(LoadPixmap(dir_ + "/missing.png"), nullptr);
    std::string junk = Path("junk.png");
    std::ofstream(junk) << "not a png";
    EXPECT_EQ(LoadPixmap(junk), nullptr);
    std::string empty = Path("empty.png");
    std::ofstream(empty).close();
    EXPECT_EQ(LoadPixmap(empty), nullptr);
    EXPECT_EQ(SavePixmapPNG(*CreatePixmap(2, 2), dir_ + "/no/such/dir.png", 9), 0);
    EXPECT_EQ(SavePixmapPNG(std::shared_ptr<TPixmap>(), Path("null.png"), 9), 0);
    EXPECT_EQ(LoadImage(dir_ + "/missing.png"), nullptr);
    EXPECT_EQ(LoadImageFont(dir_ + "/missing.ttf", 12), nullptr);
}

TEST_F(PixmapTest, SheetsAreCutLeftToRightThenTopToBottom) {
    // A 3 x 2 sheet of 2 x 2 cells; cell n is filled with the value n + 1.
    auto sheet = CreatePixmap(6, 4);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 6; ++x) {
            int cell = (y / 2) * 3 + x / 2;
            sheet->WritePixel(x, y, 0xFF000000u | uint32_t(cell + 1));
        }
    }
    sheet->WritePixel(7, 0, 0);
    std::string path = Path("sheet.png");
    ASSERT_EQ(SavePixmapPNG(*sheet, path, 9), 1);
    auto img = LoadAnimImage(path, 2, 2, 1, 4, 0);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(ImageWidth(img), 2);
    EXPECT_EQ(ImageHeight(img), 2);
    ASSERT_EQ(img->pixmaps.size(), 4u);
    for (int f = 0; f < 4; ++f) {
        EXPECT_EQ(img->pixmaps[f]->ReadPixel(1, 1) & 0xFF, uint32_t(f + 2)) << "frame " << f;
    }
    EXPECT_EQ(img->Frame(4), nullptr);
    EXPECT_EQ(LoadAnimImage(path, 2, 2, 0, 7, 0), nullptr);  // more cells than the sheet holds
    EXPECT_EQ(LoadAnimImage(path, 0, 2, 0, 1, 0), nullptr);
}

TEST_F(PixmapTest, MaskedImagesClearTheMaskColourOnly) {
    auto pm = CreatePixmap(2, 1);
    pm->WritePixel(0, 0, 0xFF000000u);
    pm->WritePixel(1, 0, 0xFF010000u);
    std::string path = Path("mask.png");
    ASSERT_EQ(SavePixmapPNG(*pm, path, 9), 1);
    auto masked = LoadImage(path, MASKEDIMAGE);
    auto plain = LoadImage(path, 0);
    auto dflt = LoadImage(path, -1);
    ASSERT_NE(masked, nullptr);
    EXPECT_EQ(masked->pixmaps[0]->ReadPixel(0, 0) >> 24, 0u);
    EXPECT_EQ(masked->pixmaps[0]->ReadPixel(1, 0) >> 24, 255u);
    EXPECT_EQ(plain->pixmaps[0]->ReadPixel(0, 0) >> 24, 255u);
    EXPECT_EQ(dflt->flags, MASKEDIMAGE | FILTEREDIMAGE);
}

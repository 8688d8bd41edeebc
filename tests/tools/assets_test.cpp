// Tests of the generated asset files in the runnable folder: image sizes and cell grids, shapes
// that survive black masking, light art for tinting, seamless terrain, sounds and music that
// decode with sane lengths and levels, the shipped fonts, and repeatable generator output.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/media/pixmap.h"
#include "engine/media/sound_decode.h"

namespace {

const std::string kFiles = std::string(ZQ_DIST_DIR) + "/Files";
const std::string kCommon = kFiles + "/Common/";
const std::string kGame = kFiles + "/274/";
const std::string kGenerator = std::string(ZQ_DIST_DIR) + "/../tools/zq_assetgen";

// One image of the asset list: its file, pixel size, cell size and the cells it must hold.
struct ImageSpec {
    std::string path;
    int width, height, cell_w, cell_h, cells;
    bool opaque;  // solid blocks: no transparent pixel at all
};

const std::vector<ImageSpec>& Images() {
    static const std::vector<ImageSpec> list = {
        {kCommon + "icons.png", 128, 128, 16, 16, 64, false},
        {kCommon + "logo.png", 320, 128, 320, 128, 1, false},
        {kCommon + "Codaloo.png", 320, 128, 320, 128, 1, false},
        {kGame + "badges.png", 256, 256, 64, 64, 16, false},
        {kGame + "logo.png", 768, 256, 768, 256, 1, false},
        {kGame + "grid.png", 640, 640, 64, 64, 100, true},
        {kGame + "ships.png", 512, 512, 64, 64, 64, false},
        {kGame + "stars.png", 16, 16, 1, 1, 256, true},
        {kGame + "ship.png", 64, 64, 64, 64, 1, false},
        {kGame + "orb.png", 128, 128, 128, 128, 1, false},
        {kGame + "orb2.png", 256, 256, 256, 256, 1, false},
        {kGame + "splodge.png", 1024, 1024, 256, 256, 16, false},
    };
    return list;
}

uint32_t Alpha(uint32_t p) {
    return p >> 24;
}
bool PureBlack(uint32_t p) {
    return (p & 0xffffff) == 0;
}
float Brightness(uint32_t p) {
    return (((p >> 16) & 255) + ((p >> 8) & 255) + (p & 255)) / (3.0f * 255);
}

// Counts pure black pixels of a cell that cannot be reached from the cell's border through
// pure black pixels: after black masking they would be holes inside a shape.
int CountHoles(const media::TPixmap& pm, int ox, int oy, int w, int h) {
    std::vector<char> seen(static_cast<size_t>(w) * h, 0);
    std::vector<std::pair<int, int>> stack;
    auto push = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= w || y >= h) return;
        size_t k = static_cast<size_t>(y) * w + x;
        if (seen[k] || !PureBlack(pm.ReadPixel(ox + x, oy + y))) return;
        seen[k] = 1;
        stack.emplace_back(x, y);
    };
    for (int i = 0; i < w; ++i) {
        push(i, 0);
        push(i, h - 1);
    }
    for (int j = 0; j < h; ++j) {
        push(0, j);
        push(w - 1, j);
    }
    while (!stack.empty()) {
        auto [x, y] = stack.back();
        stack.pop_back();
        push(x + 1, y);
        push(x - 1, y);
        push(x, y + 1);
        push(x, y - 1);
    }
    int holes = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (!seen[static_cast<size_t>(y) * w + x] && PureBlack(pm.ReadPixel(ox + x, oy + y)))
                ++holes;
    return holes;
}

// Counts the pixels of a cell whose alpha is above a level (half by default).
int Visible(const media::TPixmap& pm, int ox, int oy, int w, int h, uint32_t level = 128) {
    int n = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) n += Alpha(pm.ReadPixel(ox + x, oy + y)) > level;
    return n;
}

std::shared_ptr<media::TPixmap> Load(const std::string& path) {
    auto pm = media::LoadPixmap(path);
    EXPECT_TRUE(pm) << path;
    return pm;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// ----------------------------------------------------------------------------------------------
// Images

TEST(AssetImages, EveryImageHasItsExactSizeAndCellGrid) {
    for (const ImageSpec& s : Images()) {
        auto pm = Load(s.path);
        if (!pm) continue;
        EXPECT_EQ(pm->width, s.width) << s.path;
        EXPECT_EQ(pm->height, s.height) << s.path;
        EXPECT_EQ(pm->width % s.cell_w, 0) << s.path;
        EXPECT_EQ(pm->height % s.cell_h, 0) << s.path;
        EXPECT_EQ((pm->width / s.cell_w) * (pm->height / s.cell_h), s.cells) << s.path;
    }
}

TEST(AssetImages, MaskingLeavesNoHolesInsideShapes) {
    for (const ImageSpec& s : Images()) {
        auto pm = Load(s.path);
        if (!pm) continue;
        int cols = pm->width / s.cell_w;
        for (int c = 0; c < s.cells; ++c) {
            int ox = (c % cols) * s.cell_w, oy = (c / cols) * s.cell_h;
            EXPECT_EQ(CountHoles(*pm, ox, oy, s.cell_w, s.cell_h), 0) << s.path << " cell " << c;
        }
    }
}

TEST(AssetImages, TransparentPixelsAreExactlyTheBlackOnes) {
    // Visible pixels must never be the mask colour, and black must really be see-through.
    for (const ImageSpec& s : Images()) {
        auto pm = Load(s.path);
        if (!pm) continue;
        int bad = 0;
        for (int y = 0; y < pm->height; ++y) {
            for (int x = 0; x < pm->width; ++x) {
                uint32_t p = pm->ReadPixel(x, y);
                if ((Alpha(p) == 0) != PureBlack(p)) ++bad;
                if (s.opaque && Alpha(p) != 255) ++bad;
            }
        }
        EXPECT_EQ(bad, 0) << s.path;
    }
}

TEST(AssetImages, EveryCellTheProgramDrawsHasArt) {
    auto icons = Load(kCommon + "icons.png");
    auto ships = Load(kGame + "ships.png");
    auto badges = Load(kGame + "badges.png");
    auto splodge = Load(kGame + "splodge.png");
    ASSERT_TRUE(icons && ships && badges && splodge);
    for (int f :
         {0, 3, 7, 8, 9, 10, 11, 12, 13, 14, 18, 19, 21, 22, 23, 24, 25, 26, 27, 28, 29, 63})
        EXPECT_GT(Visible(*icons, (f % 8) * 16, (f / 8) * 16, 16, 16), 12) << "icon " << f;
    for (int c : {0, 1, 2, 3, 4, 5, 6, 7, 48, 49, 50, 51})
        EXPECT_GT(Visible(*ships, (c % 8) * 64, (c / 8) * 64, 64, 64), 40) << "ships cell " << c;
    for (int c = 0; c < 16; ++c) {
        EXPECT_GT(Visible(*badges, (c % 4) * 64, (c / 4) * 64, 64, 64), 1000) << "badge " << c;
        // Nebulae are soft and drawn at half alpha: count their denser parts.
        EXPECT_GT(Visible(*splodge, (c % 4) * 256, (c / 4) * 256, 256, 256, 96), 2000)
            << "nebula " << c;
    }
}

TEST(AssetImages, SevenCraftHaveDistinctSilhouettes) {
    auto ships = Load(kGame + "ships.png");
    ASSERT_TRUE(ships);
    auto mask = [&](int c) {
        std::vector<bool> m;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                m.push_back(Alpha(ships->ReadPixel((c % 8) * 64 + x, (c / 8) * 64 + y)) > 128);
        return m;
    };
    for (int a = 0; a < 8; ++a) {
        for (int b = a + 1; b < 8; ++b) {
            std::vector<bool> ma = mask(a), mb = mask(b);
            int differ = 0;
            for (size_t i = 0; i < ma.size(); ++i) differ += ma[i] != mb[i];
            EXPECT_GT(differ, 250) << "cells " << a << " and " << b << " look alike";
        }
    }
}

TEST(AssetImages, CraftTurretAndShipFaceUp) {
    // The nose (topmost solid row) sits on the centre line and high in the cell; the turret's
    // barrel reaches the top.
    auto ships = Load(kGame + "ships.png");
    auto ship = Load(kGame + "ship.png");
    ASSERT_TRUE(ships && ship);
    auto check = [](const media::TPixmap& pm, int ox, int oy, const std::string& what,
                    int max_top) {
        for (int y = 0; y < 64; ++y) {
            int n = 0, sum = 0;
            for (int x = 0; x < 64; ++x)
                if (Alpha(pm.ReadPixel(ox + x, oy + y)) > 200) {
                    ++n;
                    sum += x;
                }
            if (n == 0) continue;
            EXPECT_LE(y, max_top) << what;
            EXPECT_NEAR(sum / static_cast<float>(n), 31.5f, 2.0f) << what;
            return;
        }
        ADD_FAILURE() << what << " is empty";
    };
    for (int c = 0; c < 7; ++c) check(*ships, (c % 8) * 64, 0, "craft " + std::to_string(c), 16);
    check(*ships, 7 * 64, 0, "turret", 6);
    check(*ship, 0, 0, "player ship", 8);
}

TEST(AssetImages, TintedArtIsLightAndGrey) {
    // Craft, shots, sparks, glows and nebulae are tinted at run time: a multiplied tint only
    // shows on light, unsaturated pixels.
    struct Part {
        std::string path;
        std::vector<std::pair<int, int>> cells;  // top-left corners
        int size;
        uint32_t level;  // alpha above which a pixel counts as part of the shape
    };
    std::vector<Part> parts = {{kGame + "ships.png", {}, 64, 128},
                               {kGame + "orb.png", {{0, 0}}, 128, 128},
                               {kGame + "orb2.png", {{0, 0}}, 256, 128},
                               {kGame + "splodge.png", {}, 256, 96}};
    for (int c : {0, 1, 2, 3, 4, 5, 6, 7, 48, 49, 50, 51})
        parts[0].cells.push_back({(c % 8) * 64, (c / 8) * 64});
    for (int c = 0; c < 16; ++c) parts[3].cells.push_back({(c % 4) * 256, (c / 4) * 256});
    for (const Part& p : parts) {
        auto pm = Load(p.path);
        if (!pm) continue;
        for (auto [ox, oy] : p.cells) {
            double light = 0, spread = 0;
            int n = 0;
            for (int y = 0; y < p.size; ++y) {
                for (int x = 0; x < p.size; ++x) {
                    uint32_t px = pm->ReadPixel(ox + x, oy + y);
                    if (Alpha(px) <= p.level) continue;
                    int r = (px >> 16) & 255, g = (px >> 8) & 255, b = px & 255;
                    light += Brightness(px);
                    spread += std::max({r, g, b}) - std::min({r, g, b});
                    ++n;
                }
            }
            ASSERT_GT(n, 0) << p.path << " at " << ox << "," << oy;
            EXPECT_GT(light / n, 0.45) << p.path << " at " << ox << "," << oy;
            EXPECT_LT(spread / n, 20) << p.path << " at " << ox << "," << oy;
        }
    }
}

TEST(AssetImages, TerrainTilesJoinWithoutSeams) {
    // Any tile next to any other (both ways) must change no more across the join than a tile
    // changes between two neighbouring columns or rows inside itself.
    auto grid = Load(kGame + "grid.png");
    ASSERT_TRUE(grid);
    auto px = [&](int t, int x, int y) {
        return Brightness(grid->ReadPixel((t % 10) * 64 + x, (t / 10) * 64 + y));
    };
    double inner = 0;
    int inner_n = 0;
    for (int t = 0; t < 100; ++t)
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 63; ++x) {
                inner += std::fabs(px(t, x, y) - px(t, x + 1, y));
                ++inner_n;
            }
    inner /= inner_n;
    double worst = 0;
    for (int a = 0; a < 100; ++a) {
        for (int b = 0; b < 100; ++b) {
            double h = 0, v = 0;
            for (int k = 0; k < 64; ++k) {
                h += std::fabs(px(a, 63, k) - px(b, 0, k));
                v += std::fabs(px(a, k, 63) - px(b, k, 0));
            }
            worst = std::max(worst, std::max(h, v) / 64);
        }
    }
    EXPECT_LE(worst, 1.5 * inner + 0.01) << "inner step " << inner;
}

TEST(AssetImages, StarColoursAreBrightAndVaried) {
    auto stars = Load(kGame + "stars.png");
    ASSERT_TRUE(stars);
    std::set<uint32_t> colours;
    for (int i = 0; i < 256; ++i) {
        uint32_t p = stars->ReadPixel(i % 16, i / 16);
        EXPECT_GT(Brightness(p), 0.5f) << "star " << i;
        colours.insert(p);
    }
    EXPECT_GT(colours.size(), 200u);
}

TEST(AssetImages, PointerTipSitsOnTheTopLeftOfFrame63) {
    auto icons = Load(kCommon + "icons.png");
    ASSERT_TRUE(icons);
    EXPECT_GT(Alpha(icons->ReadPixel(7 * 16 + 1, 7 * 16 + 1)), 128u);
    EXPECT_EQ(Alpha(icons->ReadPixel(7 * 16 + 15, 7 * 16 + 2)), 0u);  // the right edge is clear
}

// ----------------------------------------------------------------------------------------------
// Sounds and music

struct Level {
    double seconds = 0;
    double peak = 0;  // 0..1 of full scale
    int clipped = 0;  // samples at full scale
};

Level Measure(const media::SoundData& d) {
    Level l;
    if (d.channels > 0 && d.rate > 0) l.seconds = static_cast<double>(d.Frames()) / d.rate;
    for (int16_t s : d.samples) {
        l.peak = std::max(l.peak, std::abs(static_cast<int>(s)) / 32768.0);
        l.clipped += s == 32767 || s == -32768;
    }
    return l;
}

double Rms(const media::SoundData& d, size_t from_frame, size_t frames) {
    double sum = 0;
    size_t n = 0;
    for (size_t i = from_frame * d.channels;
         i < (from_frame + frames) * d.channels && i < d.samples.size(); ++i, ++n)
        sum += static_cast<double>(d.samples[i]) * d.samples[i];
    return n ? std::sqrt(sum / n) / 32768.0 : 0;
}

TEST(AssetSounds, EveryEffectThePlayPlaysDecodesCleanly) {
    std::map<int, std::vector<int16_t>> decoded;
    for (int n : {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15, 16, 17, 98}) {
        char name[16];
        std::snprintf(name, sizeof name, "%03d.wav", n);
        media::SoundData d;
        ASSERT_TRUE(media::DecodeSoundFile(kGame + name, d)) << name;
        Level l = Measure(d);
        EXPECT_EQ(d.channels, 1) << name;
        EXPECT_EQ(d.rate, 44100) << name;
        EXPECT_GE(l.seconds, 0.03) << name;
        EXPECT_LE(l.seconds, 2.0) << name;
        EXPECT_GE(l.peak, 0.4) << name;
        EXPECT_EQ(l.clipped, 0) << name;
        decoded[n] = d.samples;
    }
    // Each effect has its own sound: no two are the same recording.
    for (auto a = decoded.begin(); a != decoded.end(); ++a)
        for (auto b = std::next(a); b != decoded.end(); ++b)
            EXPECT_NE(a->second, b->second) << a->first << " and " << b->first;
}

TEST(AssetSounds, ExplosionsCarryMoreEnergyThanHits) {
    auto energy = [](int n) {
        char name[16];
        std::snprintf(name, sizeof name, "%03d.wav", n);
        media::SoundData d;
        EXPECT_TRUE(media::DecodeSoundFile(kGame + name, d)) << name;
        return Rms(d, 0, d.Frames()) * d.Frames();
    };
    double quietest_explosion = 1e18, loudest_hit = 0;
    for (int n = 3; n <= 7; ++n) quietest_explosion = std::min(quietest_explosion, energy(n));
    for (int n = 8; n <= 13; ++n) loudest_hit = std::max(loudest_hit, energy(n));
    EXPECT_GT(quietest_explosion, loudest_hit);
}

TEST(AssetSounds, JingleIsShortAndClean) {
    media::SoundData d;
    ASSERT_TRUE(media::DecodeSoundFile(kCommon + "open.ogg", d));
    Level l = Measure(d);
    EXPECT_EQ(d.channels, 2);
    EXPECT_GE(l.seconds, 1.0);
    EXPECT_LE(l.seconds, 5.0);
    EXPECT_GE(l.peak, 0.4);
    EXPECT_LT(l.clipped, 10);
}

TEST(AssetSounds, MusicTrackHasItsLengthLevelAndLoops) {
    media::SoundData d;
    ASSERT_TRUE(media::DecodeSoundFile(kGame + "MicrobesLight.ogg", d));
    Level l = Measure(d);
    EXPECT_EQ(d.channels, 2);
    EXPECT_GE(l.seconds, 90.0);
    EXPECT_LE(l.seconds, 180.0);
    EXPECT_GE(l.peak, 0.5);
    EXPECT_LT(l.clipped, 50);
    // No dead air and no jump in loudness where the track starts again.
    size_t second = static_cast<size_t>(d.rate);
    double head = Rms(d, 0, second), tail = Rms(d, d.Frames() - second, second);
    EXPECT_GT(head, 0.02);
    EXPECT_GT(tail, 0.02);
    EXPECT_LT(std::max(head, tail) / std::min(head, tail), 4.0);
    // Something changes over the piece: the loudest and quietest 8 s stretches differ.
    double lo = 1, hi = 0;
    for (size_t f = 0; f + 8 * second <= d.Frames(); f += 8 * second) {
        double r = Rms(d, f, 8 * second);
        lo = std::min(lo, r);
        hi = std::max(hi, r);
    }
    EXPECT_GT(hi / lo, 1.3);
}

// ----------------------------------------------------------------------------------------------
// Fonts

TEST(AssetFonts, FourFontsShipWithTheirLicences) {
    for (const char* name :
         {"SVBasicManual.ttf", "November.ttf", "Blue Highway.ttf", "Acknowledge TT BRK.ttf"}) {
        std::string bytes = ReadAll(kCommon + name);
        ASSERT_GT(bytes.size(), 10000u) << name;
        std::string magic = bytes.substr(0, 4);
        EXPECT_TRUE(magic == std::string("\0\1\0\0", 4) || magic == "OTTO" || magic == "true")
            << name;
    }
    std::string licences = ReadAll(kCommon + "licences/fonts-bebas-neue.txt") +
                           ReadAll(kCommon + "licences/fonts-dejavu-core.txt");
    EXPECT_FALSE(licences.empty());
}

// ----------------------------------------------------------------------------------------------
// The generator

class AssetGenerator : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/zq_assetgen_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        ASSERT_EQ(std::system(("mkdir -p '" + dir_ + "/Common' '" + dir_ + "/274'").c_str()), 0);
    }
    void TearDown() override {
        if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
    }
    // Runs one generator group into the temporary folder; returns its exit status.
    int Run(const std::string& group) {
        return std::system(
            ("'" + kGenerator + "' " + group + " '" + dir_ + "' > /dev/null 2>&1").c_str());
    }
    void ExpectSame(const std::string& rel) {
        std::string a = ReadAll(kFiles + "/" + rel), b = ReadAll(dir_ + "/" + rel);
        EXPECT_FALSE(a.empty()) << rel;
        EXPECT_TRUE(a == b) << rel << " differs between two runs";
    }
    std::string dir_;
};

TEST_F(AssetGenerator, ImagesAreTheSameBytesOnEveryRun) {
    ASSERT_EQ(Run("images"), 0);
    for (const char* f :
         {"Common/icons.png", "Common/logo.png", "Common/Codaloo.png", "274/badges.png",
          "274/logo.png", "274/grid.png", "274/ships.png", "274/stars.png", "274/ship.png",
          "274/orb.png", "274/orb2.png", "274/splodge.png"})
        ExpectSame(f);
}

TEST_F(AssetGenerator, SoundsAndMusicAreTheSameBytesOnEveryRun) {
    ASSERT_EQ(Run("sounds"), 0);
    ASSERT_EQ(Run("music"), 0);
    for (const char* f :
         {"Common/open.ogg", "274/002.wav", "274/005.wav", "274/098.wav", "274/MicrobesLight.ogg"})
        ExpectSame(f);
}

TEST_F(AssetGenerator, RejectsAnUnknownGroupAndAnUnwritableFolder) {
    EXPECT_NE(Run("pictures"), 0);
    EXPECT_NE(
        std::system(("'" + kGenerator + "' images /nonexistent/folder > /dev/null 2>&1").c_str()),
        0);
}

}  // namespace

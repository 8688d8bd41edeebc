// The game's images: badges, the title picture, terrain tiles, enemy craft and shots, star
// colours, the player's ship, the two glows and the nebula clouds.
// Everything the game tints is drawn light (white to grey).
#include <algorithm>
#include <cmath>
#include <functional>

#include "tools/assetgen/assetgen.h"

namespace assetgen {

using Sdf = std::function<float(float, float)>;

static constexpr int kCell = 64;
static constexpr uint32_t kTerrainSeed = 274001;
static constexpr uint32_t kNebulaSeed = 274002;

// Returns the neon style of enemy craft: grey hull, white rim, soft white glow.
static NeonStyle CraftStyle() {
    NeonStyle s;
    s.body = {0.42f, 0.42f, 0.45f};
    s.edge = {0.78f, 0.78f, 0.8f};
    s.shade_depth = 7;
    s.rim = {1, 1, 1};
    s.rim_width = 1.1f;
    s.glow = {1, 1, 1};
    s.glow_radius = 2.6f;
    s.glow_strength = 0.45f;
    return s;
}

// Paints into cell n of an 8-wide sheet of 64 x 64 cells.
static void CellNeon(Canvas& c, int n, const Sdf& sdf, const NeonStyle& s) {
    PaintNeon(c, (n % 8) * kCell, (n / 8) * kCell, kCell, kCell, sdf, s);
}
static void CellFlat(Canvas& c, int n, const Sdf& sdf, Rgb col, float alpha = 1) {
    PaintFlat(c, (n % 8) * kCell, (n / 8) * kCell, kCell, kCell, sdf, col, alpha);
}

// Mirrors x about the cell's centre line so craft come out symmetric.
static float Mx(float x) {
    return 32 + std::fabs(x - 32);
}

static float Ring(float d, float half) {
    return std::fabs(d) - half;
}

// Paints lights and panel lines shared by the craft: a cockpit and an engine glow.
static void Cockpit(Canvas& c, int n, float cx, float cy, float rx, float ry) {
    CellFlat(c, n,
             [=](float x, float y) {
                 float u = (x - cx) / rx, v = (y - cy) / ry;
                 return (std::sqrt(u * u + v * v) - 1) * std::min(rx, ry);
             },
             {0.95f, 0.97f, 1.0f});
}

static void PanelLine(Canvas& c, int n, float ax, float ay, float bx, float by) {
    CellFlat(
        c, n,
        [=](float x, float y) {
            return std::min(SdSegment(x, y, ax, ay, bx, by),
                            SdSegment(x, y, 64 - ax, ay, 64 - bx, by)) -
                   0.6f;
        },
        {0.28f, 0.28f, 0.3f}, 0.9f);
}

static void MakeCraft(Canvas& c) {
    NeonStyle s = CraftStyle();
    // 0: dart, a swept arrowhead with a notched tail.
    CellNeon(
        c, 0,
        [](float x, float y) {
            return SdPolygon(Mx(x), y, {32, 6, 50, 50, 41, 46, 32, 54});
        },
        s);
    PanelLine(c, 0, 32, 16, 40, 44);
    Cockpit(c, 0, 32, 26, 3, 6);
    // 1: saucer: a disc with a rim ring, a dome and a forward prong.
    CellNeon(
        c, 1,
        [](float x, float y) {
            float disc = SdCircle(x, y, 32, 34, 20);
            float prong = SdBox(x, y, 32, 12, 2.5f, 8, 1.5f);
            return std::min(disc, prong);
        },
        s);
    CellFlat(c, 1, [](float x, float y) { return Ring(SdCircle(x, y, 32, 34, 14), 0.8f); },
             {0.3f, 0.3f, 0.33f});
    Cockpit(c, 1, 32, 34, 7, 7);
    for (int i = 0; i < 8; ++i) {
        float a = i * kPi / 4;
        float lx = 32 + 17 * std::cos(a), ly = 34 + 17 * std::sin(a);
        CellFlat(c, 1, [=](float x, float y) { return SdCircle(x, y, lx, ly, 1.4f); }, {1, 1, 1});
    }
    // 2: crab: a round body with two forward pincers.
    CellNeon(
        c, 2,
        [](float x, float y) {
            float mx = Mx(x);
            float body = SdBox(x, y, 32, 38, 12, 12, 8);
            float claw = std::max(Ring(SdCircle(mx, y, 40, 22, 13), 3), -(mx - 40));
            claw = std::max(claw, y - 30);
            float leg = SdSegment(mx, y, 42, 44, 54, 56) - 2;
            return std::min(body, std::min(claw, leg));
        },
        s);
    PanelLine(c, 2, 26, 34, 26, 46);
    Cockpit(c, 2, 32, 34, 4, 4);
    // 3: manta: a wide wing with a curved leading edge and a tail spike.
    CellNeon(
        c, 3,
        [](float x, float y) {
            float mx = Mx(x);
            float wing = SdPolygon(mx, y, {32, 14, 46, 22, 60, 40, 50, 42, 40, 38, 32, 44});
            float tail = SdSegment(x, y, 32, 40, 32, 60) - 1.6f;
            return std::min(wing, tail);
        },
        s);
    PanelLine(c, 3, 36, 24, 52, 38);
    Cockpit(c, 3, 32, 26, 4, 5);
    // 4: spinner: three blades around a hub.
    CellNeon(
        c, 4,
        [](float x, float y) {
            float d = SdCircle(x, y, 32, 34, 8);
            for (int i = 0; i < 3; ++i) {
                float a = -kPi / 2 + i * 2 * kPi / 3;
                float ca = std::cos(a), sa = std::sin(a);
                float u = (x - 32) * ca + (y - 34) * sa, v = -(x - 32) * sa + (y - 34) * ca;
                d = std::min(d, SdPolygon(u, v, {4, -6, 27, -2, 22, 5, 4, 6}));
            }
            return d;
        },
        s);
    CellFlat(c, 4, [](float x, float y) { return Ring(SdCircle(x, y, 32, 34, 5), 0.7f); },
             {0.3f, 0.3f, 0.33f});
    Cockpit(c, 4, 32, 34, 2.8f, 2.8f);
    // 5: beetle: a segmented oval shell with antennae.
    CellNeon(
        c, 5,
        [](float x, float y) {
            float mx = Mx(x);
            float u = (x - 32) / 14, v = (y - 36) / 20;
            float shell = (std::sqrt(u * u + v * v) - 1) * 14;
            float antenna = SdSegment(mx, y, 35, 18, 44, 6) - 1.3f;
            float legs =
                std::min(SdSegment(mx, y, 44, 30, 54, 26), SdSegment(mx, y, 45, 42, 55, 46)) - 1.5f;
            return std::min(shell, std::min(antenna, legs));
        },
        s);
    for (int i = 0; i < 3; ++i) {
        float yy = 30 + i * 8.0f;
        CellFlat(c, 5,
                 [=](float x, float y) {
                     return std::max(std::fabs(y - yy - 0.05f * (x - 32) * (x - 32)) - 0.7f,
                                     std::fabs(x - 32) - 12);
                 },
                 {0.3f, 0.3f, 0.33f});
    }
    CellFlat(
        c, 5, [](float x, float y) { return std::fabs(x - 32) - 0.6f + 0 * y; },
        {0.3f, 0.3f, 0.33f}, 0.8f);
    Cockpit(c, 5, 32, 20, 4, 3);
    // 6: lance: a long needle with two side pods.
    CellNeon(
        c, 6,
        [](float x, float y) {
            float mx = Mx(x);
            float needle = SdPolygon(mx, y, {32, 2, 37, 22, 37, 50, 32, 58});
            float pod = SdBox(mx, y, 47, 40, 4, 12, 3.5f);
            float strut = SdBox(mx, y, 41, 40, 5, 2, 0.5f);
            return std::min(needle, std::min(pod, strut));
        },
        s);
    PanelLine(c, 6, 47, 31, 47, 49);
    Cockpit(c, 6, 32, 20, 2.2f, 5);
    // 7: wall turret: an armoured octagon base with a long barrel pointing up.
    CellNeon(
        c, 7,
        [](float x, float y) {
            std::vector<float> oct;
            for (int i = 0; i < 8; ++i) {
                float a = kPi / 8 + i * kPi / 4;
                oct.push_back(32 + 17 * std::cos(a));
                oct.push_back(36 + 17 * std::sin(a));
            }
            float base = SdPolygon(x, y, oct);
            float barrel = SdBox(x, y, 32, 15, 4, 13, 1);
            float muzzle = SdBox(x, y, 32, 4, 6, 3, 1);
            return std::min(base, std::min(barrel, muzzle));
        },
        s);
    CellFlat(c, 7, [](float x, float y) { return Ring(SdCircle(x, y, 32, 36, 9), 1); },
             {0.3f, 0.3f, 0.33f});
    CellFlat(c, 7, [](float x, float y) { return SdBox(x, y, 32, 15, 1.2f, 11, 0.5f); },
             {0.97f, 0.97f, 1.0f});
    Cockpit(c, 7, 32, 36, 4, 4);
}

static void MakeShots(Canvas& c) {
    NeonStyle ring;
    ring.body = {0.9f, 0.9f, 0.9f};
    ring.edge = {0.95f, 0.95f, 0.95f};
    ring.rim = {1, 1, 1};
    ring.rim_width = 0.8f;
    ring.glow_radius = 2.5f;
    ring.glow_strength = 0.55f;
    // 48: outer ring with four inward ticks (cross-hair, and enemy shot kind 0).
    CellFlat(
        c, 48, [](float x, float y) { return SdCircle(x, y, 32, 32, 22); }, {0.85f, 0.85f, 0.85f},
        0.06f);
    CellNeon(
        c, 48,
        [](float x, float y) {
            float d = Ring(SdCircle(x, y, 32, 32, 22), 1.6f);
            for (int i = 0; i < 4; ++i) {
                float a = i * kPi / 2, ca = std::cos(a), sa = std::sin(a);
                d = std::min(
                    d,
                    SdSegment(x, y, 32 + 23 * ca, 32 + 23 * sa, 32 + 14 * ca, 32 + 14 * sa) - 1.4f);
            }
            return d;
        },
        ring);
    // 49: inner ring broken into three arcs with a bright bead (cross-hair, enemy shot kind 1).
    CellFlat(
        c, 49, [](float x, float y) { return SdCircle(x, y, 32, 32, 15); }, {0.85f, 0.85f, 0.85f},
        0.08f);
    CellNeon(
        c, 49,
        [](float x, float y) {
            float a = std::atan2(y - 32, x - 32);
            float gap = std::fabs(std::fmod(a + 2 * kPi + kPi / 2, 2 * kPi / 3) - kPi / 3);
            float d = Ring(SdCircle(x, y, 32, 32, 15), 1.8f);
            d = std::max(d, -(gap - 0.22f) * 15);
            return std::min(d, SdCircle(x, y, 32, 32, 2.5f));
        },
        ring);
    // 50: a four-pointed star shot (enemy shot kind 2).
    CellNeon(
        c, 50,
        [](float x, float y) {
            std::vector<float> p;
            for (int i = 0; i < 8; ++i) {
                float a = -kPi / 2 + i * kPi / 4, r = (i % 2) ? 5.0f : 15.0f;
                p.push_back(32 + r * std::cos(a));
                p.push_back(32 + r * std::sin(a));
            }
            return SdPolygon(x, y, p);
        },
        ring);
    // 51: the player's shot and every spark: a bright streak pointing up.
    NeonStyle streak = ring;
    streak.body = {1, 1, 1};
    streak.glow_radius = 3;
    streak.glow_strength = 0.7f;
    CellNeon(
        c, 51,
        [](float x, float y) {
            float t = Clamp01((y - 10) / 44);
            float half = Mix(4.2f, 0.8f, t);
            return std::max(std::fabs(x - 32) - half, std::max(10 - y, y - 54));
        },
        streak);
}

static Canvas MakeShips() {
    Canvas c(8 * kCell, 8 * kCell);
    MakeCraft(c);
    MakeShots(c);
    return c;
}

// Paints the player's ship, a swept fighter with twin engines, light with a cyan canopy, into
// the square (ox, oy) of side 64 * scale: shapes are drawn on a 64-pixel grid and scaled.
static void PaintPlayerShip(Canvas& c, int ox, int oy, float scale) {
    const int side = static_cast<int>(kCell * scale);
    auto scaled = [scale](Sdf sdf) {
        return [scale, sdf](float x, float y) { return sdf(x / scale, y / scale) * scale; };
    };
    NeonStyle s = CraftStyle();
    s.body = {0.6f, 0.62f, 0.68f};
    s.edge = {0.88f, 0.9f, 0.95f};
    s.glow = {0.7f, 0.9f, 1.0f};
    s.shade_depth *= scale;
    s.rim_width *= scale;
    s.glow_radius *= scale;
    PaintNeon(c, ox, oy, side, side, scaled([](float x, float y) {
                  float mx = Mx(x);
                  float hull = SdPolygon(mx, y, {32, 3, 37, 18, 38, 44, 35, 56, 32, 56});
                  float wing = SdPolygon(mx, y, {36, 26, 58, 46, 58, 52, 37, 48});
                  float engine = SdBox(mx, y, 42, 48, 3.5f, 9, 2);
                  float fin = SdPolygon(mx, y, {55, 40, 59, 32, 60, 50, 56, 50});
                  return std::min(std::min(hull, wing), std::min(engine, fin));
              }),
              s);
    PaintFlat(c, ox, oy, side, side, scaled([](float x, float y) {
                  float mx = Mx(x);
                  return std::min(SdSegment(mx, y, 38, 30, 54, 46),
                                  SdSegment(mx, y, 35, 20, 35, 44)) -
                         0.6f;
              }),
              {0.3f, 0.32f, 0.38f});
    PaintFlat(c, ox, oy, side, side, scaled([](float x, float y) {
                  float u = (x - 32) / 3.2f, v = (y - 20) / 7;
                  return (std::sqrt(u * u + v * v) - 1) * 3.2f;
              }),
              {0.55f, 0.95f, 1.0f});
    PaintFlat(c, ox, oy, side, side,
              scaled([](float x, float y) { return SdBox(Mx(x), y, 42, 57.5f, 2.2f, 1.5f, 1); }),
              {1.0f, 0.85f, 0.6f});
}

static Canvas MakePlayerShip() {
    Canvas c(kCell, kCell);
    PaintPlayerShip(c, 0, 0, 1);
    return c;
}

static Canvas MakeOrb() {
    Canvas c(128, 128);
    for (int y = 0; y < 128; ++y) {
        for (int x = 0; x < 128; ++x) {
            float r = std::hypot(x + 0.5f - 64, y + 0.5f - 64) / 64;
            float a = std::exp(-r * r * 5.5f) * Clamp01((1 - r) * 4);
            c.Over(x, y, {1, 1, 1}, a);
        }
    }
    return c;
}

static Canvas MakeOrb2() {
    Canvas c(256, 256);
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
            float r = std::hypot(x + 0.5f - 128, y + 0.5f - 128);
            float ring = std::exp(-std::pow((r - 104) / 9, 2.0f));
            float halo = 0.35f * std::exp(-std::pow((r - 100) / 22, 2.0f));
            float inner = r < 104 ? 0.06f + 0.1f * (r / 104) * (r / 104) : 0;
            float a = (ring + halo + inner) * Clamp01((127 - r) / 6);
            c.Over(x, y, {1, 1, 1}, Clamp01(a));
        }
    }
    return c;
}

// Star colours: mostly white, blue-white, yellow and orange suns, a few pastel tints.
static Canvas MakeStars() {
    Canvas c(16, 16);
    Rng rng(274003);
    const Rgb temps[] = {{0.62f, 0.72f, 1.0f}, {0.8f, 0.87f, 1.0f},  {1, 1, 1},
                         {1.0f, 0.96f, 0.82f}, {1.0f, 0.85f, 0.62f}, {1.0f, 0.7f, 0.55f}};
    for (int i = 0; i < 256; ++i) {
        Rgb col;
        if (i % 9 == 4) {
            col = Hsv(rng.Real(0, 1), rng.Real(0.25f, 0.45f), 1);
        } else {
            float t = rng.Real(0, 5);
            int k = static_cast<int>(t);
            col = MixRgb(temps[k], temps[std::min(k + 1, 5)], t - k);
        }
        float v = rng.Real(0.75f, 1.0f);
        c.Set(i % 16, i / 16, {col.r * v, col.g * v, col.b * v});
    }
    return c;
}

// Terrain: every tile shares one seamless metal texture; its own detail fades out before the
// edges, so any two tiles side by side join without a seam.
static float TerrainBase(int x, int y) {
    float n = FractalNoise(x / 8.0f, y / 8.0f, kTerrainSeed, 4, 8);
    float scratches = ValueNoise(x / 1.5f, y / 16.0f, kTerrainSeed + 7, 0);
    return 0.5f + 0.22f * (n - 0.5f) * 2 + 0.04f * (scratches - 0.5f);
}

static float EdgeFade(float x, float y) {
    float e = std::min(std::min(x, 64 - x), std::min(y, 64 - y));
    return Clamp01((e - 3) / 5);
}

// Returns the detail height (-1..1: grooves to ridges) of tile kind k at a point.
static float TileDetail(int k, Rng& rng, float x, float y, std::vector<float>& p) {
    if (p.empty()) {
        for (int i = 0; i < 8; ++i) p.push_back(rng.Real(0, 1));
    }
    switch (k % 10) {
        case 0: {  // a raised plate with rivets
            float plate = SdBox(x, y, 32, 32, 22, 22, 3);
            float rivet = 1e9f;
            for (int i = 0; i < 4; ++i)
                rivet = std::min(rivet, SdCircle(x, y, i % 2 ? 50 : 14, i / 2 ? 50 : 14, 2.2f));
            return (plate < 0 ? 0.35f : 0) - (std::fabs(plate) < 1.2f ? 0.6f : 0) +
                   (rivet < 0 ? 0.8f : 0);
        }
        case 1: {  // vent slots
            int slots = 3 + static_cast<int>(p[0] * 3);
            float d = 1e9f;
            for (int i = 0; i < slots; ++i) {
                float yy = 32 + (i - (slots - 1) / 2.0f) * 9;
                d = std::min(d, SdBox(x, y, 32, yy, 18, 2, 2));
            }
            return d < 0 ? -0.9f : (d < 1.5f ? 0.4f : 0);
        }
        case 2: {  // circuit traces
            float d = std::min(SdSegment(x, y, 8, 20 + p[1] * 10, 30, 20 + p[1] * 10),
                               SdSegment(x, y, 30, 20 + p[1] * 10, 44, 44));
            d = std::min(d, SdSegment(x, y, 44, 44, 56, 44));
            d = std::min(d, SdSegment(x, y, 20, 56, 20, 34 + p[2] * 8));
            float pads = std::min(SdCircle(x, y, 44, 44, 3), SdCircle(x, y, 20, 34 + p[2] * 8, 3));
            return (d < 1.3f ? 0.55f : 0) + (pads < 0 ? 0.3f : 0);
        }
        case 3: {  // hex boss
            float u = std::fabs(x - 32), v = std::fabs(y - 32);
            float hex = std::max(u * 0.866f + v * 0.5f, v) - 16;
            float hole = SdCircle(x, y, 32, 32, 6);
            return (hex < 0 ? 0.4f : 0) - (std::fabs(hex) < 1.3f ? 0.5f : 0) -
                   (hole < 0 ? 0.7f : 0);
        }
        case 4: {  // diagonal hazard grooves
            float s = std::fmod(x + y + p[3] * 12, 12.0f);
            return s < 3 ? -0.5f : 0.15f;
        }
        case 5: {  // a grille of small holes
            float gx = std::fmod(x, 8.0f) - 4, gy = std::fmod(y, 8.0f) - 4;
            return std::hypot(gx, gy) < 1.8f ? -0.8f : 0.1f;
        }
        case 6: {  // cross-braced girder
            float d = std::min(SdSegment(x, y, 10, 10, 54, 54), SdSegment(x, y, 54, 10, 10, 54));
            float frame = std::fabs(SdBox(x, y, 32, 32, 22, 22, 1));
            return (d < 3 ? 0.55f : -0.15f) + (frame < 3 ? 0.5f : 0);
        }
        case 7: {  // a round hatch
            float r = SdCircle(x, y, 32, 32, 17);
            float bolt = 1e9f;
            for (int i = 0; i < 6; ++i) {
                float a = i * kPi / 3 + p[4];
                bolt = std::min(bolt,
                                SdCircle(x, y, 32 + 13 * std::cos(a), 32 + 13 * std::sin(a), 1.6f));
            }
            return (r < 0 ? 0.25f : 0) - (std::fabs(r) < 1.4f ? 0.7f : 0) + (bolt < 0 ? 0.7f : 0);
        }
        case 8: {  // two offset panels
            float a = SdBox(x, y, 22, 22 + p[5] * 6, 13, 11, 1);
            float b = SdBox(x, y, 42, 42 - p[5] * 6, 13, 11, 1);
            return (std::fabs(a) < 1 || std::fabs(b) < 1) ? -0.6f : (a < 0 || b < 0 ? 0.25f : 0);
        }
        default: {  // plain pitted metal
            float n = ValueNoise(x / 3, y / 3, kTerrainSeed + 11 + static_cast<uint32_t>(k), 0);
            return n > 0.8f ? -0.6f : 0;
        }
    }
}

static Canvas MakeGrid() {
    Canvas c(10 * kCell, 10 * kCell);
    std::vector<float> base(kCell * kCell);
    for (int y = 0; y < kCell; ++y)
        for (int x = 0; x < kCell; ++x) base[y * kCell + x] = TerrainBase(x, y);
    for (int t = 0; t < 100; ++t) {
        Rng rng(static_cast<uint64_t>(t) + 5000);
        std::vector<float> params;
        int ox = (t % 10) * kCell, oy = (t / 10) * kCell;
        for (int y = 0; y < kCell; ++y) {
            for (int x = 0; x < kCell; ++x) {
                float fx = x + 0.5f, fy = y + 0.5f;
                float h = TileDetail(t, rng, fx, fy, params) * EdgeFade(fx, fy);
                // Light from the top-left: sample the detail one pixel up-left for a bevel.
                float hl = TileDetail(t, rng, fx - 1, fy - 1, params) * EdgeFade(fx - 1, fy - 1);
                float v = base[y * kCell + x] + 0.18f * h + 0.25f * (h - hl);
                v = Clamp01(v) * 0.85f + 0.1f;
                c.Set(ox + x, oy + y, {v, v, v});
            }
        }
    }
    return c;
}

// Nebula clouds: warped fractal noise inside a soft disc, light grey so the tint shows.
static Canvas MakeSplodge() {
    Canvas c(4 * 256, 4 * 256);
    for (int n = 0; n < 16; ++n) {
        uint32_t seed = kNebulaSeed + static_cast<uint32_t>(n) * 97;
        Rng rng(seed);
        float sx = rng.Real(0.8f, 1.2f), sy = rng.Real(0.8f, 1.2f);
        int ox = (n % 4) * 256, oy = (n / 4) * 256;
        std::vector<float> alpha(256 * 256), grey(256 * 256);
        for (int y = 0; y < 256; ++y) {
            for (int x = 0; x < 256; ++x) {
                float u = (x + 0.5f - 128) / 128 * sx, v = (y + 0.5f - 128) / 128 * sy;
                float wx = FractalNoise(u * 2 + 3, v * 2, seed + 1, 3) - 0.5f;
                float wy = FractalNoise(u * 2, v * 2 + 5, seed + 2, 3) - 0.5f;
                float cloud = FractalNoise(u * 2.5f + wx * 2, v * 2.5f + wy * 2, seed + 3, 5);
                float r = std::hypot(u + wx * 0.4f, v + wy * 0.4f);
                float mask = Clamp01(1 - r * 1.3f);  // the cloud thins out well inside its cell
                mask = mask * mask * (3 - 2 * mask);
                float rr = std::hypot(x + 0.5f - 128, y + 0.5f - 128) / 128;
                float edge = Clamp01((0.95f - rr) * 10);
                float density = Clamp01((cloud - 0.3f) * 3.0f);
                float a = mask * edge * (0.08f + 0.92f * density * std::sqrt(density));
                // A faint floor over the round body keeps the cloud free of pin-holes; past a
                // clean circle everything is transparent.
                a = edge < 0.2f ? 0 : std::max(a, 0.012f * edge);
                alpha[static_cast<size_t>(y) * 256 + x] = a;
                grey[static_cast<size_t>(y) * 256 + x] = 0.7f + 0.3f * density;
            }
        }
        // Stretch every cloud to the same range, so thin ones are as present as thick ones.
        std::vector<float> sorted = alpha;
        std::nth_element(sorted.begin(), sorted.begin() + sorted.size() * 995 / 1000, sorted.end());
        float top = sorted[sorted.size() * 995 / 1000];  // ignore a few hot spots
        float gain = top > 0 ? 0.9f / top : 1;
        for (int y = 0; y < 256; ++y) {
            for (int x = 0; x < 256; ++x) {
                size_t k = static_cast<size_t>(y) * 256 + x;
                float g = grey[k];
                c.Over(ox + x, oy + y, {g, g, g}, Clamp01(alpha[k] * gain));
            }
        }
    }
    return c;
}

// Badges: sixteen medals, four shapes times four emblems, each in its own colour.
static Canvas MakeBadges() {
    Canvas c(4 * kCell, 4 * kCell);
    for (int i = 0; i < 16; ++i) {
        int ox = (i % 4) * kCell, oy = (i / 4) * kCell;
        Rgb col = Hsv(i / 16.0f + 0.02f, 0.75f, 1.0f);
        NeonStyle s;
        s.body = MixRgb(col, {0.1f, 0.1f, 0.15f}, 0.7f);
        s.edge = MixRgb(col, {0.1f, 0.1f, 0.15f}, 0.35f);
        s.shade_depth = 8;
        s.rim = MixRgb(col, {1, 1, 1}, 0.4f);
        s.rim_width = 1.6f;
        s.glow = col;
        s.glow_radius = 2.5f;
        s.glow_strength = 0.5f;
        int shape = i % 4;
        PaintNeon(
            c, ox, oy, kCell, kCell,
            [shape](float x, float y) {
                switch (shape) {
                    case 0:
                        return SdCircle(x, y, 32, 32, 26);
                    case 1: {
                        float u = std::fabs(x - 32), v = std::fabs(y - 32);
                        return std::max(u * 0.866f + v * 0.5f, u) - 25;
                    }
                    case 2:
                        return SdPolygon(x, y, {8, 8, 56, 8, 56, 30, 32, 58, 8, 30});
                    default:
                        return SdBox(x, y, 32, 32, 24, 24, 7);
                }
            },
            s);
        NeonStyle e = s;
        e.body = MixRgb(col, {1, 1, 1}, 0.6f);
        e.edge = MixRgb(col, {1, 1, 1}, 0.8f);
        e.rim = {1, 1, 1};
        e.rim_width = 0.8f;
        e.glow = {1, 1, 1};
        e.glow_radius = 1.5f;
        e.glow_strength = 0.4f;
        int emblem = i / 4;
        PaintNeon(
            c, ox, oy, kCell, kCell,
            [emblem](float x, float y) {
                switch (emblem) {
                    case 0: {  // star
                        std::vector<float> p;
                        for (int k = 0; k < 10; ++k) {
                            float a = -kPi / 2 + k * kPi / 5, r = (k % 2) ? 5.5f : 13.0f;
                            p.push_back(32 + r * std::cos(a));
                            p.push_back(31 + r * std::sin(a));
                        }
                        return SdPolygon(x, y, p);
                    }
                    case 1:  // lightning bolt
                        return SdPolygon(x, y,
                                         {36, 14, 24, 34, 31, 34, 27, 50, 41, 28, 33, 28, 39, 14});
                    case 2: {  // two chevrons
                        float up = std::min(SdSegment(x, y, 22, 28, 32, 20),
                                            SdSegment(x, y, 32, 20, 42, 28));
                        float lo = std::min(SdSegment(x, y, 22, 40, 32, 32),
                                            SdSegment(x, y, 32, 32, 42, 40));
                        return std::min(up, lo) - 2.5f;
                    }
                    default:  // a crown
                        return SdPolygon(x, y,
                                         {18, 42, 18, 22, 25, 32, 32, 18, 39, 32, 46, 22, 46, 42});
                }
            },
            e);
    }
    return c;
}

// The title picture: the game's name in neon tubes over a striped sunset and a horizon grid.
// The middle band (around y 128) stays calm: the title screen writes the name there in text.
static Canvas MakeTitle() {
    Canvas c(768, 256);
    // Sun: a disc fading from gold to magenta, cut by widening stripes toward its base.
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 768; ++x) {
            float d = SdCircle(x + 0.5f, y + 0.5f, 384, 176, 92);
            if (d > 24) continue;
            float t = Clamp01((y - 84) / 92.0f);
            Rgb col = MixRgb({1.0f, 0.85f, 0.3f}, {1.0f, 0.2f, 0.6f}, t);
            float stripe = y > 150 ? std::fmod(y - 150.0f, 14.0f) < 2 + (y - 150) / 14.0f : false;
            // The stripes are dim, not cut out: a gap of pure black would mask into a hole.
            if (d < 0 && y < 200)
                c.Over(x, y, stripe ? MixRgb(col, {0.2f, 0.05f, 0.3f}, 0.8f) : col,
                       Coverage(d) * (stripe ? 0.25f : 0.85f));
            if (d > 0 && y < 200) c.Add(x, y, col, 0.25f * std::exp(-d / 8));
        }
    }
    // Horizon grid below the sun, fading with distance, on a faint floor (its cells are dim
    // blue rather than black, so masking does not punch them out).
    for (int y = 200; y < 256; ++y) {
        for (int x = 0; x < 768; ++x) {
            float depth = (y - 196.0f) / 60.0f;
            if (Clamp01(1 - std::fabs(x - 384.0f) / 360) < 0.05f) continue;  // a clean side edge
            c.Over(x, y, {0.12f, 0.22f, 0.45f},
                   0.3f * Clamp01(1 - std::fabs(x - 384.0f) / 360) * Clamp01(depth * 2));
            float fx = (x - 384.0f) / depth;
            float lx = std::fabs(std::fmod(std::fabs(fx) + 24, 48.0f) - 24) * depth;
            float ly = std::fabs(std::fmod(1 / depth * 12, 1.0f) - 0.5f);
            float line = std::max(Coverage(lx - 0.7f),
                                  y == 200 ? 1.0f : Coverage((ly - 0.5f + 0.04f * depth) * 30));
            float fade = Clamp01(1 - std::fabs(x - 384.0f) / 360) * Clamp01(depth * 2);
            if (line > 0) c.Over(x, y, {0.35f, 0.8f, 1.0f}, line * fade);
        }
    }
    // The name, letter by letter from magenta to cyan.
    std::string name = "ZARQUILL";
    float size = 96, spacing = 18, thick = 5.5f;
    float w = StrokeTextWidth(name, size, spacing);
    float x0 = 384 - w / 2, y0 = 14;
    for (size_t i = 0; i < name.size(); ++i) {
        Rgb col = MixRgb({1.0f, 0.3f, 0.9f}, {0.3f, 0.9f, 1.0f}, i / 7.0f);
        NeonStyle s;
        s.body = MixRgb(col, {1, 1, 1}, 0.85f);
        s.edge = MixRgb(col, {1, 1, 1}, 0.3f);
        s.shade_depth = thick;
        s.rim = col;
        s.rim_width = 1;
        s.glow = col;
        s.glow_radius = 7;
        s.glow_strength = 0.8f;
        float lx = x0 + i * (4 * size / 6 + spacing);
        std::string ch(1, name[i]);
        PaintNeon(
            c, static_cast<int>(lx) - 30, 0, static_cast<int>(4 * size / 6) + 60, 256,
            [&, lx](float px, float py) {
                return SdStrokeText(ch, px + static_cast<int>(lx) - 30, py, lx, y0, size, thick, 0);
            },
            s);
    }
    return c;
}

Canvas MakeIcon(int size) {
    Canvas c(size, size);
    const float k = size / 256.0f;  // everything is laid out on a 256-pixel grid
    Rng rng(274004);
    std::vector<float> stars;
    for (int i = 0; i < 48; ++i) stars.push_back(rng.Real(20, 236));
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            float gx = (x + 0.5f) / k, gy = (y + 0.5f) / k;
            float tile = Coverage(SdBox(gx, gy, 128, 128, 120, 120, 44) * k);
            if (tile <= 0) continue;
            c.Over(x, y, MixRgb({0.2f, 0.04f, 0.5f}, {0.02f, 0.01f, 0.12f}, gy / 256), tile);
            // Stars only where a pixel can hold them.
            for (size_t i = 0; size >= 48 && i < stars.size(); i += 2) {
                float d = std::hypot(gx - stars[i], gy - stars[i + 1]) * k;
                if (d < 1.5f) c.Add(x, y, {0.9f, 0.9f, 1.0f}, 0.5f * (1.5f - d) * tile);
            }
            // The sun of the title picture, gold above and magenta below.
            float d = SdCircle(gx, gy, 128, 112, 72) * k;
            Rgb sun = MixRgb({1.0f, 0.85f, 0.3f}, {1.0f, 0.2f, 0.6f}, Clamp01((gy - 40) / 144));
            if (d < 0) {
                c.Over(x, y, sun, Coverage(d) * 0.85f * tile);
            } else {
                c.Add(x, y, sun, 0.3f * std::exp(-d / (10 * k)) * tile);
            }
        }
    }
    // The player's ship in front, three quarters of the tile high.
    const float scale = 0.75f * size / kCell;
    const int side = static_cast<int>(kCell * scale);
    PaintPlayerShip(c, (size - side) / 2, (size - side) / 2 + static_cast<int>(12 * k), scale);
    return c;
}

std::vector<NamedImage> MakeGameImages() {
    std::vector<NamedImage> out;
    out.push_back({"274", "badges.png", MakeBadges(), kCell, kCell});
    out.push_back({"274", "logo.png", MakeTitle(), 768, 256});
    out.push_back({"274", "grid.png", MakeGrid(), kCell, kCell});
    out.push_back({"274", "ships.png", MakeShips(), kCell, kCell});
    out.push_back({"274", "stars.png", MakeStars(), 1, 1});
    out.push_back({"274", "ship.png", MakePlayerShip(), kCell, kCell});
    out.push_back({"274", "orb.png", MakeOrb(), 128, 128});
    out.push_back({"274", "orb2.png", MakeOrb2(), 256, 256});
    out.push_back({"274", "splodge.png", MakeSplodge(), 256, 256});
    return out;
}

}  // namespace assetgen

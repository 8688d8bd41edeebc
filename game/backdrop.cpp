// Stars, nebulae and terrain.
#include "game/backdrop.h"

#include <cmath>
#include <cstdlib>

#include "engine/draw_helpers.h"
#include "engine/graphics_setup.h"
#include "engine/media/graphics.h"
#include "engine/media/random.h"
#include "game/enemies.h"
#include "game/game_assets.h"
#include "game/game_loop.h"
#include "game/game_math.h"
#include "game/records.h"

namespace game {

std::array<std::array<int, kGridColumns>, kGridRows> TerrainGrid{};
std::array<int, kGridRows> RowSolid{};
std::array<int, kGridRows> RowRun{};
double ScrollX = 0;

namespace {

// Draws a nebula's colour: multiples of 30 in 30..120 with a sum in 91..249.
void NebulaColour(Nebula& n) {
    do {
        n.r = media::RandomInt(1, 4) * 30;
        n.g = media::RandomInt(1, 4) * 30;
        n.b = media::RandomInt(1, 4) * 30;
    } while (!(n.r + n.g + n.b > 90 && n.r + n.g + n.b < 250));
}

// Draws everything of a nebula after its x (shared by making and respawning).
void NebulaBody(Nebula& n, int h) {
    n.y = media::RandomInt(-256, h + 256);
    n.rot = media::RandomInt(360, 1);
    n.rotgo = media::RandomReal(-0.2, 0.2);
    NebulaColour(n);
    n.xg = media::RandomReal(-2, -0.25);
    n.yg = media::RandomReal(-0.01, 0.01);
    n.n = media::RandomInt(0, 15);
}

void DrawNebula(const Nebula& n) {
    engine::SetColourAlpha(n.r, n.g, n.b, 0.5);
    engine::SetBlendKind(3);
    engine::DrawSprite(SplodgeImage, n.x, n.y, n.n, engine::KIND_IMAGE);
}

bool Solid(int row) {
    return RowSolid[row] == 1;
}

}  // namespace

void ClearTerrain() {
    for (int k = 0; k < kUsedRows; ++k) {
        for (int j = 0; j <= kNewestColumn; ++j) TerrainGrid[k][j] = 0;
    }
    RowSolid.fill(0);
    RowRun.fill(0);
}

void MakeNebulae() {
    const int w = engine::VirtualWidth;
    const int h = engine::VirtualHeight;
    StreamReseed(NebulaSeed);
    for (int i = 0; i < kNebulaCount; ++i) {
        Nebula n;
        n.x = media::RandomInt(-256, w + 256);
        NebulaBody(n, h);
        NebulaList.push_back(n);
    }
}

void MakeStars() {
    const int w = engine::VirtualWidth;
    const int h = engine::VirtualHeight;
    StreamReseed(StarSeed);
    for (int i = 0; i < kStarCount; ++i) {
        Star s;
        s.x = media::RandomInt(0, w);
        s.y = media::RandomInt(0, h);
        s.alpha = media::RandomReal(0.1, 0.4);
        s.spd = media::RandomReal(1, 3);
        s.n = Trunc(media::RandomReal(0, 250));
        StarList.push_back(s);
    }
}

void UpdateStars() {
    const int w = engine::VirtualWidth;
    const int h = engine::VirtualHeight;
    engine::ResetDrawState();
    engine::SetScaleXY(2);
    // Every star reseeds the generator, but only a star that respawns draws
    // from it, and each reseed sets the whole state: a reseed that nothing
    // draws from before the next one can be skipped, as long as the seed
    // still advances and the last reseed of the walk is made.
    const Star* last = StarList.empty() ? nullptr : &StarList.back();
    for (Star& s : StarList) {
        s.x -= s.spd / 4;
        const bool respawn = s.x < -4;
        if (respawn || &s == last) {
            StreamReseed(StarSeed);
        } else {
            StarSeed += 1;
        }
        if (respawn) {
            s.x = media::RandomInt(w + 12, w + 32);
            s.y = media::RandomInt(0, h);
        }
        if (engine::DrawingOff) continue;
        media::SetAlpha(static_cast<float>(s.alpha));
        engine::DrawSprite(StarsImage, s.x, s.y, s.n, engine::KIND_GLOW);
    }
}

void DrawBackNebulae() {
    if (engine::DrawingOff) return;
    engine::ResetDrawState();
    engine::SetScaleXY(2);
    for (const Nebula& n : NebulaList) {
        if (n.xg > -1) DrawNebula(n);
    }
    engine::SetBlendKind(1);
    engine::ResetDrawState();
}

void UpdateFrontNebulae() {
    const int w = engine::VirtualWidth;
    const int h = engine::VirtualHeight;
    engine::ResetDrawState();
    engine::SetScaleXY(2);
    for (Nebula& n : NebulaList) {
        // Unlike StreamReseed, the 29 discarded draws come before the seeding
        // here, so the seeding overwrites them: they change nothing and are
        // not made.
        NebulaSeed += 1;
        media::SeedRandom(NebulaSeed);
        n.x += n.xg;
        n.y += n.yg;
        n.rot += n.rotgo;
        if (n.x < -512 || n.y < -512 || n.y > h + 512) {
            n.x = w + media::RandomInt(512, 1024);
            NebulaBody(n, h);
        }
        if (n.xg <= -1) DrawNebula(n);
    }
    engine::ResetDrawState();
}

void TerrainColumn() {
    if (ScrollX >= -kTile) return;
    for (int j = 0; j < kNewestColumn; ++j) {
        for (int k = 0; k < kUsedRows; ++k) TerrainGrid[k][j] = TerrainGrid[k][j + 1];
    }
    for (int k = 0; k < kUsedRows; ++k) {
        TerrainGrid[k][kNewestColumn] = 0;
        if (Solid(k)) {
            StreamReseed(TerrainSeed);
            TerrainGrid[k][kNewestColumn] = media::RandomInt(1, 99);
            if (media::RandomInt(0, 30) == 1 && k > 1 && k < 14) SpawnTurret(k);
        }
    }
    for (int k = 0; k < kUsedRows; ++k) {
        StreamReseed(TerrainSeed);
        const int len = media::RandomInt(3, 6);
        const int a = media::RandomInt(0, 3);
        const int p = media::RandomInt(0, 4);
        const int q = media::RandomInt(0, 8);
        if (RowRun[k] > 0) RowRun[k] -= 1;
        if (Solid(k) && RowRun[k] < 2 && a < 2) {
            RowSolid[k] = 0;
            RowRun[k] = len;
        }
        if (RowRun[k] == 0) {
            StreamReseed(TerrainSeed);
            const bool last = k == kUsedRows - 1;
            const bool rules[5] = {
                k > 0 && !last && Solid(k - 1) && Solid(k + 1),
                k > 0 && Solid(k - 1) && p<2, k> 0 && !Solid(k - 1) && q < 2,
                !last && Solid(k + 1) && p < 2,
                !last && !Solid(k + 1) && q < 2,
            };
            for (bool applies : rules) {
                if (!Solid(k) && applies) {
                    RowSolid[k] = 1;
                    RowRun[k] = a;
                }
            }
        }
    }
    ScrollX += kTile;
}

void DrawTerrain() {
    if (engine::DrawingOff) return;
    const int w = engine::VirtualWidth;
    const int h = engine::VirtualHeight;
    const int half = h / 128;
    for (int j = 0; j <= w / kTile + 1; ++j) {
        for (int k = 0; k <= h / kTile; ++k) {
            // Whole bands of the screen's height: only the outermost rows get the
            // full shade, everything between is drawn at 0.3.
            double f = (half > 0 ? std::abs(k - half) / half : 0) + 0.3;
            f = engine::ClampReal(f, 0, 1);
            const double phi = Time / 32 - 13 * k;
            const int k1 = Trunc(150 + 100 * Sin(phi - 2 * j));
            const int k2 = Trunc(150 - 100 * Sin(phi - 7 * j));
            const int k3 = Trunc(150 + 100 * Cos(phi - 13 * j));
            engine::SetColourAlpha(k1 * f, k2 * f, k3 * f);
            const int v = k < kGridRows && j < kGridColumns ? TerrainGrid[k][j] : 0;
            if (v >= 1 && v <= 99) {
                engine::DrawSprite(GridImage, Trunc(kTile * j + ScrollX), kTile * k, v - 1,
                                   engine::KIND_GLOW);
            }
        }
    }
}

}  // namespace game

// Sparks and puffs: making them (with their points), moving, drawing and
// retiring them.
#include "game/effects.h"

#include <cmath>

#include "engine/draw_helpers.h"
#include "engine/graphics_setup.h"
#include "engine/media/graphics.h"
#include "engine/media/random.h"
#include "game/game_assets.h"
#include "game/game_loop.h"
#include "game/game_math.h"
#include "game/records.h"

namespace game {

namespace {

constexpr double kSparkFade = 0.015;
constexpr double kPuffFade = 0.04;
constexpr int kSparkCell = 51;
// A spark's |xs| + |ys| must exceed this.
constexpr double kMinSparkSpeed = 3;
// Screen margin beyond which a spark is retired.
constexpr double kMargin = 64;

// Draws a spark and its glow where it has moved to, faded by its life.
void DrawParticle(const Particle& p) {
    const double d = p.a > 1 ? 1 : p.a;
    engine::SetColourAlpha(p.r, p.g, p.b, d);
    engine::SetScaleXY(0.3 * p.s);
    engine::SetAngle(ATan2(p.xs, -p.ys));
    engine::SetBlendKind(1);
    engine::DrawSprite(ShipsImage, p.x, p.y, kSparkCell, engine::KIND_PARTICLE);
    engine::SetScaleXY(0.15 * p.s);
    media::SetAlpha(static_cast<float>(d / 2));
    engine::SetBlendKind(3);
    engine::DrawSprite(OrbImage, p.x, p.y, 0, engine::KIND_GLOW);
}

}  // namespace

void SpawnParticles(int count, int x, int y, double spread) {
    if (count != kDamageSparks) GameScore += kSparkPoints;
    StreamReseed(ParticleSeed);
    for (int i = 0; i < count; ++i) {
        Particle p;
        p.x = x;
        p.y = y;
        // A spread this small can never reach the minimum speed; take one draw then.
        const bool canReach = std::fabs(spread) * 28 > kMinSparkSpeed;
        do {
            double u = media::RandomReal(-spread, spread);
            p.xs = u * media::RandomReal(10, 14);
            double v = media::RandomReal(-spread, spread);
            p.ys = v * media::RandomReal(10, 14);
        } while (canReach && std::fabs(p.xs) + std::fabs(p.ys) <= kMinSparkSpeed);
        p.r = media::RandomInt(2, 5) * 50;
        p.g = media::RandomInt(100, p.r);
        p.b = media::RandomInt(1, 4) * 25;
        p.a = media::RandomReal(0.75, spread + 0.25);
        p.s = spread;
        ParticleList.push_front(p);
    }
}

void SpawnPuffs(int x, int y, int r, int g, int b) {
    GameScore += kPuffPoints;
    StreamReseed(PuffSeed);
    Puff first;
    first.x = x;
    first.y = y;
    first.a = media::RandomReal(0.9, 1.0);
    first.s = media::RandomReal(0.2, 0.4);
    first.r = r;
    first.g = g;
    first.b = b;
    PuffList.push_front(first);
    Puff second;
    second.x = x;
    second.y = y;
    second.a = media::RandomReal(0.7, 0.9);
    second.s = 0.1;
    second.r = g;
    second.g = b;
    second.b = r;
    PuffList.push_front(second);
}

void UpdateParticles() {
    const double w = engine::VirtualWidth;
    const double h = engine::VirtualHeight;
    engine::ResetDrawState();
    WalkList(ParticleList, [&](Particle& p) {
        p.a -= kSparkFade;
        p.x += p.xs * (p.a + 0.5);
        p.y += p.ys * (p.a + 0.5);
        if (!engine::DrawingOff) DrawParticle(p);
        return p.x < -kMargin || p.y < -kMargin || p.x > w + kMargin || p.y > h + kMargin ||
               p.a < 0.01;
    });
    engine::ResetDrawState();
}

void UpdatePuffs() {
    WalkList(PuffList, [](Puff& p) {
        p.a -= kPuffFade;
        p.s += media::RandomReal(0.03, 0.05);
        if (engine::DrawingOff) return p.a <= 0;
        engine::ResetDrawState();
        engine::SetScaleXY(p.s);
        engine::SetBlendKind(3);
        engine::SetColourAlpha(p.r, p.g, p.b, p.a / 2 < 0 ? 0 : p.a / 2);
        media::DrawImage(Orb2Image, static_cast<float>(p.x - p.s), static_cast<float>(p.y - p.s));
        return p.a <= 0;
    });
    engine::SetBlendKind(1);
}

}  // namespace game

// The player's ship and the shots.
#include "game/ship.h"

#include <cmath>

#include "engine/draw_helpers.h"
#include "engine/frame_end.h"
#include "engine/graphics_setup.h"
#include "engine/media/graphics.h"
#include "engine/media/input.h"
#include "engine/media/random.h"
#include "game/effects.h"
#include "game/enemies.h"
#include "game/game_assets.h"
#include "game/game_loop.h"
#include "game/game_math.h"
#include "game/records.h"

namespace game {

namespace {

constexpr int kOuterRingCell = 48;
constexpr int kInnerRingCell = 49;
constexpr int kPlayerShotKind = 3;
constexpr double kShotSpeed = 18;
constexpr int kSluggishEase = 64;
constexpr int kSteadyEase = 16;
constexpr double kSnapDistance = 8;
constexpr double kHitBox = 24;
constexpr int kFireSound = 2;
constexpr int kHurtSound = 16;
constexpr int kHurtSound2 = 17;

std::function<int(int)> g_mouseDown;

}  // namespace

double ShipX = 0, ShipY = 0;
double ShipAngle = kStartAngle;
int TargetX = 0, TargetY = 0;
int EaseDivisor = kStartEase;
int FireCooldown = kColdCooldown;
double Heat = 0;

int ButtonDown(int button) {
    return g_mouseDown ? g_mouseDown(button) : media::MouseDown(button);
}

namespace {

void FireShot() {
    FireCooldown = Trunc(Heat);
    Heat += 0.5;
    double rate = (1000 - Heat * 25) * 0.001;
    if (rate < 0.5) rate = 0.5;
    PlaySfx(kFireSound, rate, 1.0, 0);
    EaseDivisor = kSluggishEase;
    Shot s;
    s.x = ShipX - 16;
    s.y = ShipY - 16;
    s.gx = kShotSpeed * Sin(ShipAngle);
    s.gy = -kShotSpeed * Cos(ShipAngle);
    s.r = Trunc(150 + 100 * Sin(Time / 3));
    s.g = Trunc(150 - 100 * Sin(Time / 7));
    s.b = Trunc(150 + 100 * Cos(Time / 9));
    if (s.r < 150 && s.g < 150 && s.b < 150) {
        s.r = Trunc(200 + 50 * Sin(Time / 3));
        s.g = Trunc(200 - 50 * Sin(Time / 7));
        s.b = Trunc(200 + 50 * Cos(Time / 9));
    }
    s.rot = Trunc(ShipAngle);
    s.n = kPlayerShotKind;
    s.t = 1;
    ShotList.push_back(s);
}

}  // namespace

void ResetShip() {
    ShipX = engine::VirtualWidth / 2;
    ShipY = engine::VirtualHeight / 2;
    ShipAngle = kStartAngle;
    TargetX = 0;
    TargetY = 0;
    EaseDivisor = kStartEase;
    FireCooldown = kColdCooldown;
    Heat = 0;
}

void AimAndDrawShip() {
    const double heading = 180 + ATan2((ShipX - TargetX) - 12, TargetY - ShipY);
    ShipAngle += AngleDelta(ShipAngle, heading) / 2;
    if (std::fabs(std::fmod(ShipAngle + 360, 360) - std::fmod(heading + 360, 360)) < 4) {
        ShipAngle = heading;
    }
    const int px = engine::PointerX;
    const int py = engine::PointerY;
    if (Lives > 0) {
        engine::ResetDrawState();
        engine::SetColourAlpha(255, 255, 255);
        engine::SetScaleXY(0.75);
        engine::SetAngle(Time * 3);
        engine::DrawSprite(ShipsImage, px - 24, py - 24, kOuterRingCell, engine::KIND_IMAGE);
        engine::SetScaleXY(0.5);
        engine::SetAngle(-Time * 3);
        engine::SetColourAlpha(200, 200, 200);
        engine::DrawSprite(ShipsImage, px - 16, py - 16, kInnerRingCell, engine::KIND_IMAGE);

        engine::ResetDrawState();
        engine::SetScaleXY(0.5);
        engine::SetAngle(ShipAngle);
        engine::SetColourAlpha(255, 255, 255);
        if (Invulnerable > 0) {
            Invulnerable -= 1;
            engine::SetColourAlpha(130 - Invulnerable, 255, 130 - Invulnerable);
        }
        engine::DrawSprite(ShipImage, ShipX, ShipY, 0, engine::KIND_IMAGE);
        engine::SetScaleXY(0.5);
        media::SetAlpha(0.5f);
        engine::SetBlendKind(3);
        engine::DrawSprite(OrbImage, ShipX - 16, ShipY - 16, 0, engine::KIND_PARTICLE);
        engine::SetBlendKind(1);
        media::SetAlpha(1.0f);
    }
    TargetX = px - 16;
    TargetY = py - 16;
}

void ShipInputWith(bool left, bool right) {
    if (FireCooldown > 0) FireCooldown -= 1;
    if (!left && Lives > 0) {
        if (!right) {
            FireCooldown = 0;
            Heat -= 2;
            if (Heat < 0) Heat = 0;
        }
        if (EaseDivisor > kSteadyEase) EaseDivisor -= 2;
        ShipX -= (ShipX - TargetX) / EaseDivisor;
        ShipY -= (ShipY - TargetY) / EaseDivisor;
        if (std::fabs(ShipX - TargetX) < kSnapDistance &&
            std::fabs(ShipY - TargetY) < kSnapDistance) {
            ShipX = TargetX;
            ShipY = TargetY;
        }
    }
    if ((left || right) && FireCooldown == 0 && Lives > 0) FireShot();
}

void UpdateShots() {
    const double w = engine::VirtualWidth;
    const double h = engine::VirtualHeight;
    WalkList(ShotList, [&](Shot& s) {
        s.x += s.gx;
        s.y += s.gy;
        if (s.t == 0) s.rot += 8;
        const double f = media::RandomReal(0.7, 1.0);
        engine::SetColourAlpha(s.r * f, s.g * f, s.b * f);
        engine::SetAngle(s.rot);
        engine::SetScaleXY(1);
        engine::DrawSprite(ShipsImage, s.x, s.y, 48 + s.n, engine::KIND_IMAGE);
        engine::SetScaleXY(0.5);
        media::SetAlpha(0.5f);
        engine::SetBlendKind(3);
        engine::DrawSprite(OrbImage, s.x, s.y, 0, engine::KIND_PARTICLE);
        engine::SetBlendKind(1);
        media::SetAlpha(1.0f);
        if (s.x < -64 || s.x > w + 64 || s.y < -64 || s.y > h + 64) return true;
        if (s.t == 0 && std::fabs(s.x + 32 - (ShipX + 16)) < kHitBox &&
            std::fabs(s.y + 32 - (ShipY + 16)) < kHitBox && Invulnerable == 0) {
            HurtPlayer();
            return true;
        }
        return false;
    });
}

void HurtPlayer() {
    PlaySfx(kHurtSound2, 0.8, 1.0, media::RandomReal(-0.5, 0.5));
    PlaySfx(kHurtSound, 1.2, 1.0, 0);
    Invulnerable = kInvulnerableFrames;
    Lives -= 1;
    SpawnParticles(kDamageSparks, Trunc(ShipX + 16), Trunc(ShipY + 16),
                   media::RandomReal(0.5, 2.5));
}

void SetButtonSource(std::function<int(int)> mouseDown) {
    g_mouseDown = std::move(mouseDown);
}

}  // namespace game

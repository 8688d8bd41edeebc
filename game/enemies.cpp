// The wave director, formations, turrets, motion types and the enemy update.
#include "game/enemies.h"

#include <cmath>

#include "engine/draw_helpers.h"
#include "engine/graphics_setup.h"
#include "engine/media/graphics.h"
#include "engine/media/random.h"
#include "game/backdrop.h"
#include "game/effects.h"
#include "game/game_assets.h"
#include "game/game_loop.h"
#include "game/game_math.h"
#include "game/records.h"
#include "game/ship.h"

namespace game {

namespace {

constexpr int kFormationSize = 6;
constexpr int kPattern6Size = 8;
constexpr int kFireSound = 15;
// Grid x of a new terrain column, once the grid has moved (column 60).
constexpr double kNewColumnX = 3904;
constexpr int kNewColumn = 60;
// Play-area limits beyond which an enemy is retired or fires silently.
constexpr double kFireMargin = 128;
constexpr double kLeftLimit = -128;
constexpr double kVerticalLimit = 520;
constexpr double kHitBox = 32;
constexpr double kContactBox = 40;

}  // namespace

int WaveTimer = 0;
int WaveInterval = 0;
int KindStep = 0;
int MaxKind = 0;
int PatternStep = 0;
int MaxPattern = 0;
int MinPattern = 0;
FormationDraw LastFormation;
int FormationCount = 0;

namespace {

// Real remainder of v by 360, made non-negative.
double Wrap360(double v) {
    double m = std::fmod(v, 360.0);
    if (m < 0) m += 360;
    return m;
}

// Heading from (px, py) to (qx, qy).
double HeadingTo(double px, double py, double qx, double qy) {
    return ATan2(qx - px, py - qy);
}

// Fields every craft of a formation shares.
Enemy Craft(int kind, const FormationDraw& d) {
    Enemy e;
    e.n = kind;
    e.health = kind / 2 + 1;
    e.r = d.r;
    e.g = d.g;
    e.b = d.b;
    e.rotgo = 0;
    return e;
}

// Draws the fields patterns 7 and 8 share (gs, rot, arming); the caller draws sine and trigreset.
void DrawSpinner(Enemy& e) {
    e.gs = media::RandomReal(0.5, 1.5);
    e.rot = media::RandomInt(360, 1);
    e.weapon = media::RandomInt(0, 8) == 1 ? media::RandomInt(0, 2) : -1;
}

void MakeFormation(const FormationDraw& d) {
    const int w = engine::VirtualWidth;
    const int h = engine::VirtualHeight;
    const double v = d.speed * ScrollSpeed;
    const int p = d.pattern;
    if (p >= 1 && p <= 4) {
        const int y1 = (p == 2 || p == 4) ? media::RandomInt(64, h - 544) : 0;
        for (int i = 1; i <= kFormationSize; ++i) {
            Enemy e = Craft(d.kind, d);
            const bool column = (p == 2 || p == 4);
            e.x = column ? w + 80 : w + 80 * i;
            e.y = column ? y1 + 80 * i : d.row;
            e.gx = -v;
            e.gy = 0;
            e.rot = 270;
            e.weapon = -1;
            e.sine = 60 * i + d.phase;
            e.t = p == 1 || p == 2 ? 3 : (p == 3 ? 4 : 5);
            EnemyList.push_back(e);
        }
    } else if (p == 5) {
        const int count = media::RandomInt(1, 2);
        for (int i = 1; i <= count; ++i) {
            Enemy e = Craft(d.kind, d);
            e.y = media::RandomInt(64, h - 64);
            e.x = w + 80;
            e.gx = 0;
            e.gy = 0;
            e.gs = media::RandomReal(4, 6);
            e.ang = 270;
            e.rot = 270;
            e.weapon = media::RandomInt(0, 2);
            e.trigreset = media::RandomInt(45, 75);
            e.sine = 60 * i + d.phase;
            e.t = 6;
            EnemyList.push_back(e);
        }
    } else if (p == 6) {
        const int weapon = media::RandomInt(0, 2);
        const int reset = media::RandomInt(45, 75);
        for (int i = 1; i <= kPattern6Size; ++i) {
            Enemy e = Craft(d.kind, d);
            e.x = w + 80;
            e.y = h * 0.5;
            e.gx = -2 * ScrollSpeed;
            e.gy = 0;
            e.gs = 6;
            e.weapon = weapon;
            e.trigreset = reset;
            e.sine = 45 * i;
            e.t = 7;
            EnemyList.push_back(e);
        }
    } else if (p == 7) {
        for (int i = 1; i <= kFormationSize; ++i) {
            Enemy e = Craft(d.kind, d);
            e.x = w + 80 * i;
            e.y = d.row;
            e.gx = -v;
            e.gy = 0;
            DrawSpinner(e);
            e.trigreset = media::RandomInt(2, 5) * 10;
            e.sine = media::RandomInt(360, 1);
            e.t = 8;
            EnemyList.push_back(e);
        }
    } else if (p == 8) {
        const int y1 = media::RandomInt(64, h - 544);
        for (int i = 1; i <= kFormationSize; ++i) {
            Enemy e = Craft(d.kind, d);
            e.x = w + 80;
            e.y = y1 + 80 * i;
            e.gx = -v;
            e.gy = 0;
            DrawSpinner(e);
            e.sine = media::RandomInt(360, 1);
            e.trigreset = media::RandomInt(2, 5) * 10;
            e.t = 8;
            EnemyList.push_back(e);
        }
    }
}

// Applies the motion type after the base velocity; returns the facing angle.
double ApplyMotion(Enemy& e) {
    switch (e.t) {
        case 0:
        case 1:
            e.rot += e.rotgo;
            if (e.rot > 360) e.rot -= 360;
            if (e.rot < 0) e.rot += 360;
            return e.t == 0 ? e.rot : 270 + 60 * Sin(e.rot);
        case 2:
            e.rot += AngleDelta(e.rot, HeadingTo(e.x, e.y, ShipX, ShipY)) / 32;
            return e.rot;
        case 3:
            return ATan2(e.gx, -e.gy);
        case 4:
            e.sine += 2;
            e.y += 1.5 * Sin(e.sine);
            return ATan2(e.gx, -(e.gy + Sin(e.sine)));
        case 5:
            e.sine += 2;
            e.x += 1.5 * Sin(e.sine);
            return ATan2(e.gx + Sin(e.sine), -e.gy);
        case 6: {
            e.x += e.gs * Sin(e.ang);
            e.y -= e.gs * Cos(e.ang);
            const double facing = e.ang;
            const int delta = AngleDelta(e.ang, HeadingTo(e.x, e.y, ShipX, ShipY));
            e.ang += delta / media::RandomInt(16, 24);
            return facing;
        }
        case 7:
            e.sine += 2;
            e.x += e.gs * Sin(e.sine);
            e.y -= 1.5 * e.gs * Cos(e.sine);
            return e.sine;
        case 8:
            e.sine += 1;
            e.x += 2 * e.gs * Sin(e.sine * e.gs);
            e.y -= 2 * e.gs * Cos(e.sine);
            return ATan2(2 * e.gs * Sin(e.sine * e.gs), 2 * e.gs * Cos(e.sine));
        default:
            return e.rot;
    }
}

// Plays an effect whose random arguments are drawn last to first (pan, rate, entry).
void PlayRandomSfx(int lowEntry, int highEntry, double lowRate, double highRate, double volume,
                   double pan) {
    const double rate = media::RandomReal(lowRate, highRate);
    const int entry = media::RandomInt(lowEntry, highEntry);
    PlaySfx(entry, rate, volume, pan);
}

void Explode(const Enemy& e) {
    const int cx = Trunc(e.x + 32);
    const int cy = Trunc(e.y + 32);
    SpawnParticles(16, cx, cy, 1.0);
    SpawnParticles(16, cx, cy, 2.0);
    SpawnPuffs(cx, cy, e.r, e.g, e.b);
    if (e.t > 2) {
        PlayRandomSfx(3, 7, 0.8, 1.2, 1.0, media::RandomReal(-0.5, 0.5));
        PlayRandomSfx(3, 7, 0.45, 0.5, 1.0, media::RandomReal(-0.5, 0.5));
    } else {
        PlayRandomSfx(3, 7, 0.45, 0.5, 1.0, media::RandomReal(-1, -0.6));
        PlayRandomSfx(3, 7, 0.45, 0.5, 1.0, media::RandomReal(0.6, 1));
        PlayRandomSfx(3, 7, 0.45, 0.5, 1.0, 0);
    }
}

// Player shots that overlap the enemy hit it; each hit costs one health.
void TakeHits(Enemy& e) {
    WalkList(ShotList, [&](Shot& s) {
        if (s.t != 1) return false;
        if (std::fabs(s.x + 32 - (e.x + 32)) < kHitBox &&
            std::fabs(s.y + 32 - (e.y + 32)) < kHitBox) {
            e.health -= 1;
            PlayRandomSfx(8, 13, 0.8, 1.2, 1.0, media::RandomReal(-0.5, 0.5));
            SpawnParticles(6, Trunc(e.x + 32), Trunc(e.y + 32), 1.0);
            return true;
        }
        return false;
    });
}

void Fire(Enemy& e, double facing) {
    const double w = engine::VirtualWidth;
    const double h = engine::VirtualHeight;
    e.trig -= 1;
    if (e.trig >= 0 || e.weapon < 0) return;
    if (e.x > -kFireMargin && e.x < w + kFireMargin && e.y > -kFireMargin &&
        e.y < h + kFireMargin) {
        const double pan = media::RandomReal(-0.5, 0.5);
        const double rate = media::RandomReal(0.8, 1.2);
        PlaySfx(kFireSound, rate, 0.4, pan);
    }
    e.trig = e.trigreset;
    Shot s;
    s.x = e.x;
    s.y = e.y;
    s.gx = (6 + e.gs) * Sin(facing);
    s.gy = -(6 + e.gs) * Cos(facing);
    s.r = e.r;
    s.g = e.g;
    s.b = e.b;
    s.n = e.weapon;
    s.t = 0;
    ShotList.push_back(s);
}

}  // namespace

int AngleDelta(double current, double target) {
    const double m1 = Wrap360(current);
    const double m2 = Wrap360(target);
    const double d = Wrap360(m2 - m1);
    if (d > 179) return Trunc(d - 359);
    return Trunc(d);
}

void ResetWaves() {
    const int d = Difficulty;
    WaveTimer = 400 - 200 * d;
    WaveInterval = 200 - 50 * d;
    KindStep = 30 - 7 * d;
    MaxKind = 0;
    PatternStep = 20 - 5 * d;
    MaxPattern = d + 1;
    MinPattern = 1;
    LastFormation = FormationDraw{};
    FormationCount = 0;
}

void WaveDirector() {
    const int d = Difficulty;
    WaveTimer -= 1;
    if (WaveTimer > 0) return;
    KindStep -= 1;
    if (KindStep <= 0) {
        KindStep = 30 - 7 * d;
        if (MaxKind < kTopKind) MaxKind += 1;
    }
    WaveTimer = WaveInterval;
    if (WaveInterval > kShortestInterval) WaveInterval -= 1;
    StreamReseed(WaveSeed);
    PatternStep -= 1;
    if (PatternStep <= 0) {
        PatternStep = 20 - 5 * d;
        if (MaxPattern < kTopPattern) {
            MaxPattern += 1;
        } else if (MinPattern < kTopMinPattern) {
            MinPattern += 1;
        }
    }
    FormationDraw f;
    f.pattern = media::RandomInt(MinPattern, MaxPattern);
    f.kind = media::RandomInt(0, MaxKind);
    f.row = media::RandomInt(64, engine::VirtualHeight - 64);
    f.speed = media::RandomInt(2, 6);
    f.phase = media::RandomInt(360, 1);
    int e1 = 0, e2 = 0, e3 = 0;
    do {
        e1 = media::RandomInt(3, 10) * 25;
        e2 = media::RandomInt(3, 10) * 25;
        e3 = media::RandomInt(3, 10) * 25;
    } while (!(e1 + e2 + e3 > 200 && e1 + e2 + e3 < 450 && (e1 > 200 || e2 > 200 || e3 > 200)));
    f.r = e3;
    f.g = e1;
    f.b = e2;
    LastFormation = f;
    FormationCount += 1;
    MakeFormation(f);
}

void SpawnTurret(int row) {
    StreamReseed(WaveSeed);
    Enemy e;
    e.x = kNewColumnX + ScrollX;
    e.y = 64 * row;
    e.gx = -ScrollSpeed;
    e.gy = 0;
    e.rot = media::RandomInt(360, 1);
    e.rotgo = media::RandomInt(-2, 2);
    if (e.rotgo == 0) e.rotgo = 1;
    e.n = kTurretCell;
    e.t = MaxPattern <= 4 ? media::RandomInt(0, 1) : media::RandomInt(0, 2);
    e.health = kTurretHealth;
    const double phi = Time / 32 - 13 * row;
    const int j = kNewColumn;
    const int k1 = Trunc(150 + 100 * Sin(phi - 2 * j));
    const int k2 = Trunc(150 - 100 * Sin(phi - 7 * j));
    const int k3 = Trunc(150 + 100 * Cos(phi - 13 * j));
    e.r = k2;
    e.g = k3;
    e.b = k1;
    e.trigreset = media::RandomInt(2, 4) * 10;
    e.weapon = media::RandomInt(0, 2);
    EnemyList.push_back(e);
}

void UpdateEnemies() {
    const double h = engine::VirtualHeight;
    WalkList(EnemyList, [&](Enemy& e) {
        e.x += e.gx;
        e.y += e.gy;
        const double facing = ApplyMotion(e);
        engine::SetColourAlpha(e.r, e.g, e.b);
        TakeHits(e);
        engine::SetAngle(facing);
        Fire(e, facing);
        engine::SetScaleXY(1);
        engine::DrawSprite(ShipsImage, e.x, e.y, e.n, engine::KIND_IMAGE);
        media::SetAlpha(0.3f);
        engine::SetBlendKind(3);
        engine::DrawSprite(OrbImage, e.x - 32, e.y - 32, 0, engine::KIND_PARTICLE);
        engine::SetBlendKind(1);
        media::SetAlpha(1.0f);
        bool retire = false;
        if (e.health < 1) {
            retire = true;
            Explode(e);
        }
        if (std::fabs(e.x + 32 - (ShipX + 16)) < kContactBox &&
            std::fabs(e.y + 32 - (ShipY + 16)) < kContactBox && Invulnerable == 0) {
            HurtPlayer();
        }
        return retire || e.x < kLeftLimit || e.y < -kVerticalLimit || e.y > h + kVerticalLimit;
    });
}

}  // namespace game

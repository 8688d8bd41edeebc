// The game's plain records (nebulae, stars, sparks, puffs, enemies, shots)
// and the lists that own them. std::list keeps every record at a stable
// address, and WalkList lets the visitor retire the record it is looking at.
#pragma once

#include <list>

namespace game {

// A large coloured cloud; 20 of them are recycled for the whole game.
struct Nebula {
    double x = 0, y = 0;
    double rot = 0;  // spin angle; advanced by rotgo, never drawn
    int r = 0, g = 0, b = 0;
    double xg = 0;  // always leftward
    double yg = 0;
    double rotgo = 0;
    int n = 0;  // cell of SplodgeImage
};

// One background star; 300 of them are recycled for the whole game.
struct Star {
    double x = 0, y = 0;
    double alpha = 0;
    double spd = 0;  // moves spd / 4 pixels left per frame
    int n = 0;       // cell of StarsImage (its colour)
};

// A spark thrown out by a hit, a kill or the player's damage.
struct Particle {
    double x = 0, y = 0;
    double xs = 0, ys = 0;  // velocity before the life factor
    int r = 0, g = 0, b = 0;
    double s = 0;  // spread the burst was made with
    double a = 0;  // life, also the drawing alpha (capped at 1)
};

// An expanding glowing ring of an explosion.
struct Puff {
    double x = 0, y = 0;  // centre of the ring
    double a = 0;         // life; drawn with alpha a / 2
    double s = 0;         // scale of the ring image
    int r = 0, g = 0, b = 0;
};

// An enemy craft of a formation, or a turret riding on the terrain.
struct Enemy {
    double x = 0, y = 0;
    double gx = 0, gy = 0;
    double gs = 0;  // motion strength; also adds to its shots' speed
    double ang = 0;
    double anggo = 0;
    double aimx = 0, aimy = 0;
    double rot = 0;
    double rotgo = 0;
    int n = 0;  // cell of ShipsImage: craft kinds 0..6, turret 7
    int t = 0;  // motion type 0..8
    int trig = 0;
    int trigreset = 0;
    int weapon = 0;  // shot kind 0..2, or -1 for never
    int r = 0, g = 0, b = 0;
    int health = 0;
    int sine = 0;  // phase counter in degrees
};

// A projectile of an enemy (t 0) or of the player (t 1).
struct Shot {
    double x = 0, y = 0;
    double gx = 0, gy = 0;
    int r = 0, g = 0, b = 0;
    int n = 0;  // shot kind: drawn as cell 48 + n of ShipsImage
    int t = 0;
    int rot = 0;
};

using NebulaListType = std::list<Nebula>;
using StarListType = std::list<Star>;
using ParticleListType = std::list<Particle>;
using PuffListType = std::list<Puff>;
using EnemyListType = std::list<Enemy>;
using ShotListType = std::list<Shot>;

// The lists; each owns its records.
extern NebulaListType NebulaList;      // exactly 20, recycled
extern StarListType StarList;          // exactly 300, recycled
extern ParticleListType ParticleList;  // new sparks at the front
extern PuffListType PuffList;          // new puffs at the front
extern EnemyListType EnemyList;
extern ShotListType ShotList;

// Visits every record in order; a visitor that returns true retires the record
// it was given, and the walk carries on with the next one.
// Note: the visitor may add records to other lists, and at either end of this one.
template <class T, class Visit>
void WalkList(std::list<T>& list, Visit&& visit) {
    for (auto it = list.begin(); it != list.end();) {
        if (visit(*it)) {
            it = list.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace game

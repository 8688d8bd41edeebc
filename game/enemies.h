// Enemies and waves: the wave director that sends formations in from the
// right, the eight formation patterns, the turrets the terrain places, the
// nine motion types, and the enemy update (hits, firing, drawing, exploding,
// contact, retiring). Also AngleDelta, the turning rule the ship shares.
#pragma once

namespace game {

// Patterns and craft kinds the director can reach.
inline constexpr int kTopPattern = 8;
inline constexpr int kTopMinPattern = 6;
inline constexpr int kTopKind = 6;
// Formations arrive at least this many frames apart.
inline constexpr int kShortestInterval = 60;
// ShipsImage cell and health of a turret.
inline constexpr int kTurretCell = 7;
inline constexpr int kTurretHealth = 6;

// Wave state (start values depend on Difficulty).
extern int WaveTimer;     // frames until the next formation
extern int WaveInterval;  // frames between formations
extern int KindStep;      // formations until MaxKind rises
extern int MaxKind;       // highest craft kind
extern int PatternStep;   // formations until the pattern range moves up
extern int MaxPattern;
extern int MinPattern;

// What the director drew for the last formation it sent.
struct FormationDraw {
    int pattern = 0;
    int kind = 0;
    int row = 0;    // y0
    int speed = 0;  // v
    int phase = 0;  // f
    int r = 0, g = 0, b = 0;
};
// The last formation sent (all zero before the first).
extern FormationDraw LastFormation;
// Formations sent since the game began.
extern int FormationCount;

// Returns the turn in whole degrees from current toward target, -179..179.
int AngleDelta(double current, double target);
// Puts the wave state to its start values for Difficulty.
void ResetWaves();
// Counts down to the next formation and sends it when due.
void WaveDirector();
// Adds a turret on the new terrain column at the row (2..13), from the WaveSeed stream.
void SpawnTurret(int row);
// Moves every enemy, lets it be hit, fire, draw, explode and hurt the ship, and retires it.
void UpdateEnemies();

}  // namespace game

// Sparks and explosion puffs, and the points they carry: every burst of
// sparks scores 5 except the 13-spark burst of the player's own damage, and
// every pair of puffs scores 15.
#pragma once

namespace game {

// The spark count that marks the player's damage; such a burst scores nothing.
inline constexpr int kDamageSparks = 13;
// Points of one burst of sparks and of one pair of puffs.
inline constexpr int kSparkPoints = 5;
inline constexpr int kPuffPoints = 15;

// Throws count sparks from x,y with the given spread (from the ParticleSeed stream).
void SpawnParticles(int count, int x, int y, double spread);
// Makes the two rings of an explosion at x,y in the colour (from the PuffSeed stream).
void SpawnPuffs(int x, int y, int r, int g, int b);
// Ages, moves, draws and retires every spark.
void UpdateParticles();
// Ages, grows, draws and retires every puff.
// Note: puffs are drawn directly, outside the sprite budgets.
void UpdatePuffs();

}  // namespace game

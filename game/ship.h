// The player's ship and every shot: aim and cross-hair, the invulnerability
// glow, easing toward the pointer, gun heat and cooldown, firing, moving and
// drawing shots, and the player being hurt. Input is the pointer the frame
// end stores and the two mouse buttons.
#pragma once

#include <functional>

namespace game {

// Start values of the ship.
inline constexpr double kStartAngle = 90;
inline constexpr int kStartEase = 24;
inline constexpr int kColdCooldown = 1237895;  // no shot until both buttons were released
// Frames the ship cannot be hurt after a hit (and at the start of a game).
inline constexpr int kInvulnerableFrames = 120;

// Top-left of the ship sprite; its centre is (ShipX + 16, ShipY + 16).
extern double ShipX, ShipY;
// Heading of the ship and of its shots, degrees.
extern double ShipAngle;
// The pointer minus 16, taken after the ship is drawn.
extern int TargetX, TargetY;
// The ship covers 1 / EaseDivisor of the distance to its target per frame.
extern int EaseDivisor;
// Frames before the next shot.
extern int FireCooldown;
// Gun heat; each shot adds 0.5 and lengthens the pause before the next.
extern double Heat;

// Puts the ship at the screen centre with its start heading, ease, cooldown and heat.
void ResetShip();
// Turns the ship toward last frame's target and, while lives remain, draws the
// cross-hair and the ship; then takes the new target from the pointer.
void AimAndDrawShip();
// Cools the gun, eases the ship and fires, from the button states given
// (left, right) that the game step read.
void ShipInputWith(bool left, bool right);
// Moves, draws and retires every shot; enemy shots hurt the ship.
void UpdateShots();
// Hurts the player: sounds, a life lost, invulnerability and a shower of sparks.
void HurtPlayer();
// Returns 1 while the mouse button (1 left, 2 right) is held, from the button source.
int ButtonDown(int button);
// Replaces where ButtonDown reads the mouse buttons (null restores media::MouseDown).
// Note: for tests and benchmarks that script the buttons.
void SetButtonSource(std::function<int(int)> mouseDown);

}  // namespace game

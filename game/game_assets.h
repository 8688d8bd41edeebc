// What only the game loads (eight images and its music track, after the
// engine test that sets the sprite budgets) and the two sound operations of
// every game screen: effects on a rotating pool of channels, and the music
// channel.
#pragma once

#include <functional>
#include <memory>

#include "engine/media/audio.h"
#include "engine/media/graphics.h"
#include "engine/screen_stack.h"

namespace game {

// Last slot of SfxChannels the effects rotate through (from slot 1), and where
// the cursor wraps to (slots below it are used only on the first pass).
inline constexpr int kLastSfxSlot = 255;
inline constexpr int kSfxWrapSlot = 20;

// The game's images (all centre-handled; cell maps as their files are drawn).
extern std::shared_ptr<media::TImage> TitleImage;    // logo.png, 1 cell
extern std::shared_ptr<media::TImage> GridImage;     // grid.png, 100 cells of 64x64
extern std::shared_ptr<media::TImage> ShipsImage;    // ships.png, 64 cells of 64x64
extern std::shared_ptr<media::TImage> StarsImage;    // stars.png, 256 cells of 1x1
extern std::shared_ptr<media::TImage> ShipImage;     // ship.png, 1 cell
extern std::shared_ptr<media::TImage> OrbImage;      // orb.png, 1 cell
extern std::shared_ptr<media::TImage> Orb2Image;     // orb2.png, 1 cell
extern std::shared_ptr<media::TImage> SplodgeImage;  // splodge.png, 16 cells of 256x256
// The game's music (not looping; the loop restarts it).
extern std::shared_ptr<media::TSound> GameTrack;
// The effect slot used last (0 before the first effect).
extern int SfxCursor;
// The music channel; null when none was started.
extern std::shared_ptr<media::TChannel> MusicChannel;

// Returns the game's engine test (aiming for 60 frames a second, sprites at scale 2) as a
// screen that runs done when it has finished.
std::unique_ptr<engine::Screen> MakeGameEngineTest(std::function<void()> done);
// Loads the eight images and the game track from the current (game) folder.
// Note: a missing file leaves a null handle, which draws or plays nothing; it is logged.
void LoadGameAssets();
// Plays SoundBank entry `entry` on the next effect slot at rate, volume and pan
// (clamped to 0.25..4, 0..1, -1..1), scaled by the sound and master volumes.
// Note: nothing happens, and the cursor stays, with the effect volume at 0 or
// an entry that holds no sound.
void PlaySfx(int entry, double rate, double volume, double pan);
// Starts a sound on a new music channel (stopping the old one) at the music volume.
// Note: with the music volume at 0, or a null sound, nothing is started and
// MusicChannel stays as it was.
void PlayMusic(const std::shared_ptr<media::TSound>& sound);
// Forgets the game's images, track, music channel and effect cursor (for tests).
void ResetGameAssets();

}  // namespace game

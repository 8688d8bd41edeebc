// The settings table Setup (100 integer slots) and the key bindings KeyMap
// (101 slots), their slot numbers and defaults, the audio driver names the
// settings index, and the slow-system flag a replay being played lends. The
// settings file itself is read and written by the app layer.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace engine {

inline constexpr int SETUP_FULLSCREEN = 1;
inline constexpr int SETUP_WIDESCREEN = 2;
inline constexpr int SETUP_GFXENGINE = 3;
inline constexpr int SETUP_MODEINDEX = 4;
inline constexpr int SETUP_WIDTH = 5;
inline constexpr int SETUP_HEIGHT = 6;
inline constexpr int SETUP_ESS = 7;
inline constexpr int SETUP_MASTER = 11;
inline constexpr int SETUP_SOUND = 12;
inline constexpr int SETUP_MUSIC = 13;
inline constexpr int SETUP_AUDIODRIVER = 14;

inline constexpr int kSetupSlots = 100;
inline constexpr int kKeyMapSlots = 101;
// Most audio driver names the program keeps.
inline constexpr int kMaxAudioDrivers = 100;

// The settings table, indexed by the SETUP_ slot numbers.
extern std::array<int, kSetupSlots> Setup;
// The binding code per control slot: (port - 1) * 20 + control; 0 is unbound.
extern std::array<int, kKeyMapSlots> KeyMap;
// The audio driver names, in the audio layer's order; SETUP_AUDIODRIVER indexes it.
extern std::vector<std::string> AudioDriverNames;
// The slow-system flag a replay being played lends the frame end and the
// drawing helpers (-1 while none is played). Setup keeps the player's own
// flag, so that every save during playback stores the player's choice.
extern int PlaybackSlowSystem;

// Returns the slow-system flag in effect: the replay's during playback, else the player's.
int SlowSystem();

// Fills Setup and KeyMap with their defaults.
void SetupDefaults();

}  // namespace engine

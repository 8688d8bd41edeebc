// What the browser viewer loads before it plays a replay, shared by the viewer,
// the replay checker's draw-list mode and the tool that packs the viewer's
// data (which must bake exactly the font faces the viewer opens).
#pragma once

#include <string>

namespace viewer {

// The display the viewer's fonts are chosen for (the page scales the picture).
inline constexpr int kViewerScreenWidth = 1280;
inline constexpr int kViewerScreenHeight = 960;

// Loads the common fonts, images and sounds and the game's images and track as the game does
// for a 1280 × 960 display, from the current folder being the game folder (Files/274); the
// sprite budgets stay at the desktop game's defaults (no engine test is run).
// Note: a window (any drawing driver) must be open.
void LoadViewerAssets();

// Sets the engine's defaults and drawing helpers, makes the game folder below filesDir (the
// runnable folder's Files) the current one and loads the viewer's assets from it; false when
// there is no game folder there.
// Note: a window (any drawing driver) must be open.
bool LoadViewerGame(const std::string& filesDir);

}  // namespace viewer

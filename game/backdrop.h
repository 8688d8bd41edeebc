// The scrolling playfield behind and over the action: 300 stars, a back
// layer of slow nebulae, the terrain grid generated one column at a time
// (which also places the turrets) with its rippling tile colours, and a
// front layer of fast nebulae. Every random decision comes from its own
// stream, so a difficulty always makes the same terrain.
#pragma once

#include <array>

namespace game {

inline constexpr int kGridRows = 30;
inline constexpr int kGridColumns = 80;
// Rows and the newest column the game uses.
inline constexpr int kUsedRows = 16;
inline constexpr int kNewestColumn = 60;
inline constexpr int kTile = 64;
inline constexpr int kStarCount = 300;
inline constexpr int kNebulaCount = 20;

// Tile values per [row][column]: 0 empty, 1..99 drawn as GridImage cell value - 1.
extern std::array<std::array<int, kGridColumns>, kGridRows> TerrainGrid;
// 1 while a row lays tiles into new columns.
extern std::array<int, kGridRows> RowSolid;
// New columns before a row may change state.
extern std::array<int, kGridRows> RowRun;
// Left edge of grid column 0; stays within -64..0 once the first columns are made.
extern double ScrollX;

// Empties the grid and opens every row (rows 0..15, columns 0..60).
void ClearTerrain();
// Makes the 20 nebulae from the NebulaSeed stream (after one reseed).
void MakeNebulae();
// Makes the 300 stars from the StarSeed stream (after one reseed).
void MakeStars();
// Moves, re-enters and draws the stars.
void UpdateStars();
// Draws the slow nebulae (xg > -1) without moving them.
void DrawBackNebulae();
// Moves, respawns and draws the fast nebulae (xg <= -1).
void UpdateFrontNebulae();
// Makes a new terrain column when the grid has scrolled a tile's width.
void TerrainColumn();
// Draws the visible terrain tiles in their rippling colours.
void DrawTerrain();

}  // namespace game

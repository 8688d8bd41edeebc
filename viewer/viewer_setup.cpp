// The viewer's assets; see viewer_setup.h.
#include "viewer/viewer_setup.h"

#include <memory>
#include <string>

#include "engine/draw_helpers.h"
#include "engine/graphics_setup.h"
#include "engine/identity.h"
#include "engine/media/folders.h"
#include "engine/setup_table.h"
#include "engine/media/audio.h"
#include "engine/media/graphics.h"
#include "game/game_assets.h"

namespace viewer {

namespace {

// The game's images as its own asset loading cuts them (which also runs the machine's engine
// test, whose measured budgets would make the drawing differ from machine to machine).
struct GameImage {
    std::shared_ptr<media::TImage>* image;
    const char* file;
    int cell;   // cell side in pixels, 0 for a one-frame image
    int cells;
};
const GameImage kGameImages[] = {
    {&game::TitleImage, "logo.png", 0, 1},       {&game::GridImage, "grid.png", 64, 100},
    {&game::ShipsImage, "ships.png", 64, 64},    {&game::StarsImage, "stars.png", 1, 256},
    {&game::ShipImage, "ship.png", 0, 1},        {&game::OrbImage, "orb.png", 0, 1},
    {&game::Orb2Image, "orb2.png", 0, 1},        {&game::SplodgeImage, "splodge.png", 256, 16},
};
constexpr int kImageFlags = media::MASKEDIMAGE | media::FILTEREDIMAGE;
constexpr const char* kGameTrack = "MicrobesLight.ogg";

}  // namespace

void LoadViewerAssets() {
    engine::ScreenWidth = kViewerScreenWidth;
    engine::ScreenHeight = kViewerScreenHeight;
    // The start-up jingle and backdrop are the title screen's, not a replay's.
    engine::GraphicsOpened = 1;
    engine::LoadCommonObjects();
    for (const GameImage& g : kGameImages) {
        *g.image = g.cell == 0 ? media::LoadImage(g.file, kImageFlags)
                               : media::LoadAnimImage(g.file, g.cell, g.cell, 0, g.cells,
                                                      kImageFlags);
    }
    game::GameTrack = media::LoadSound(kGameTrack, 0);
}

bool LoadViewerGame(const std::string& filesDir) {
    engine::SetupDefaults();
    engine::ResetDrawHelpers();
    if (!media::ChangeDir(filesDir + "/" + engine::GameFolder())) return false;
    LoadViewerAssets();
    return true;
}

}  // namespace viewer

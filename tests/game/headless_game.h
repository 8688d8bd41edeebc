// Runs the real game loop without a window: the recording drawing driver,
// a virtual clock, blank images of the game's cell sizes, scripted mouse
// buttons and no name entry. Shared by the game tests and the game benchmark.
#pragma once

#include <memory>

#include "engine/draw_helpers.h"
#include "engine/frame_end.h"
#include "engine/game_state.h"
#include "engine/graphics_setup.h"
#include "engine/media/audio.h"
#include "engine/media/clock.h"
#include "engine/media/graphics.h"
#include "engine/media/random.h"
#include "engine/media/recording_driver.h"
#include "engine/setup_table.h"
#include "game/game_assets.h"
#include "game/game_loop.h"
#include "game/records.h"
#include "game/ship.h"
#include "tests/support/screens.h"

namespace game_test {

// What the headless set-up installed.
struct Headless {
    std::shared_ptr<media::TRecordingDriver> driver;
    std::shared_ptr<media::VirtualClock> clock;
    bool left = false;  // scripted mouse buttons
    bool right = false;
};

// Makes blank images of the game's cell sizes (so draws are recorded as real ones would be).
inline void MakeBlankGameImages() {
    game::TitleImage = media::CreateImage(64, 64, 1);
    game::GridImage = media::CreateImage(64, 64, 100);
    game::ShipsImage = media::CreateImage(64, 64, 64);
    game::StarsImage = media::CreateImage(1, 1, 256);
    game::ShipImage = media::CreateImage(64, 64, 1);
    game::OrbImage = media::CreateImage(128, 128, 1);
    game::Orb2Image = media::CreateImage(128, 128, 1);
    game::SplodgeImage = media::CreateImage(256, 256, 16);
}

// Installs the headless game on a width x height logical screen; buttons come from h.
inline void InstallHeadless(Headless& h, int width = 1280, int height = 960) {
    h.clock = std::make_shared<media::VirtualClock>();
    media::SetClock(h.clock);
    h.driver = media::UseRecordingDriver();
    media::OpenGraphics(width, height);
    engine::ResetDrawHelpers();
    engine::ResetFrameEnd();
    engine::ResetGameState();
    engine::SetupDefaults();
    engine::VirtualWidth = width;
    engine::VirtualHeight = height;
    media::SetVirtualResolution(static_cast<float>(width), static_cast<float>(height));
    for (auto& s : engine::SoundBank) s.reset();
    for (auto& c : engine::SfxChannels) c.reset();
    game::ResetGameAssets();
    MakeBlankGameImages();
    game::SetButtonSource([&h](int button) {
        if (button == 1) return h.left ? 1 : 0;
        if (button == 2) return h.right ? 1 : 0;
        return 0;
    });
    game::SetNameEntryScreen(nullptr);
    media::SeedRandom(0);
}

// Undoes InstallHeadless: real clock, no scripted buttons or name entry.
inline void UninstallHeadless() {
    game::SetButtonSource(nullptr);
    game::SetNameEntryScreen(nullptr);
    game::ResetGameAssets();
    media::CloseGraphics();
    media::SetClock(nullptr);
}

// Sets the pointer the next frame reads (as the frame end would have stored it).
inline void SetPointer(int x, int y) {
    engine::PointerX = x;
    engine::PointerY = y;
}

}  // namespace game_test

// The few calls the engine makes upward into the program (saving settings,
// the closing screen, the game's assets, the score file, the settings panel).
// The app installs them at start-up, so no engine file includes an upper
// layer's header. An empty hook does nothing.
#pragma once

#include <functional>
#include <memory>

#include "engine/screen_stack.h"

namespace engine {

struct EngineHooks {
    std::function<void()> saveSetup;                         // write "Setup.ini" (app)
    std::function<std::unique_ptr<Screen>()> closingScreen;  // the closing screen (app)
    std::function<void()> loadGameAssets;                    // the game's images and track (game)
    // The engine test a new window runs before its set-up finishes; done runs when it has (game).
    std::function<std::unique_ptr<Screen>(std::function<void()> done)> engineTest;
    std::function<void()> loadScores;     // read the score file again (scores)
    std::function<void()> settingsPanel;  // one step of the settings panel, every frame
    std::function<void()> betweenSteps;   // work that moves on every step, whatever the screen (app)
    std::function<void()> displayLost;    // no window could be opened again: the program ends (app)
};

// Returns the program's hooks; the app fills them in before start-up.
EngineHooks& Hooks();

}  // namespace engine

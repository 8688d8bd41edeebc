// The headless set-up and the check of one replay.
#include "game/replay_verify.h"

#include <memory>

#include "engine/draw_helpers.h"
#include "engine/graphics_setup.h"
#include "engine/media/audio.h"
#include "engine/media/graphics.h"
#include "engine/media/recording_driver.h"
#include "engine/setup_table.h"

namespace game {

namespace {

// The drawing driver of the headless set-up (null when it is not installed).
std::shared_ptr<media::TRecordingDriver> g_driver;

}  // namespace

void InstallHeadlessSimulation() {
    media::SetAudioDriver("Null");
    g_driver = media::UseRecordingDriver();
    media::OpenGraphics(engine::VirtualWidth, engine::VirtualHeight);
    engine::ResetDrawHelpers();
    engine::SetupDefaults();
    // Nothing the game decides depends on what is drawn or heard; skipping the
    // sprites and sounds lets the re-simulation run as fast as the logic allows.
    engine::DrawBudgets.fill(0);
    engine::Setup[engine::SETUP_SOUND] = 0;
    engine::Setup[engine::SETUP_MUSIC] = 0;
}

ReplayVerdict VerifyReplay(const Replay& replay) {
    if (!g_driver) {
        ReplayVerdict v;
        v.frames = replay.header.frames;
        v.recordedScore = replay.header.score;
        v.reason = "the headless simulation is not installed";
        return v;
    }
    auto* driver = g_driver.get();
    return SimulateReplay(replay, [driver] { driver->Clear(); });
}

void UninstallHeadlessSimulation() {
    if (!g_driver) return;
    media::CloseGraphics();
    g_driver.reset();
}

}  // namespace game

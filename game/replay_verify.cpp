// The headless set-up and the check of one replay.
#include "game/replay_verify.h"

#include <memory>

#include "engine/draw_helpers.h"
#include "engine/graphics_setup.h"
#include "engine/media/audio.h"
#include "engine/media/graphics.h"
#include "engine/media/recording_driver.h"
#include "engine/setup_table.h"
#include "game/game_loop.h"

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
    engine::DrawingOff = true;
    engine::DrawBudgets.fill(0);
    engine::Setup[engine::SETUP_SOUND] = 0;
    engine::Setup[engine::SETUP_MUSIC] = 0;
}

ReplayVerdict VerifyReplay(const Replay& replay, const std::function<void()>& afterStep) {
    if (!g_driver) {
        ReplayVerdict v;
        v.frames = replay.header.frames;
        v.recordedScore = replay.header.score;
        v.reason = "the headless simulation is not installed";
        return v;
    }
    auto* driver = g_driver.get();
    return SimulateReplay(replay, [driver, &afterStep] {
        driver->Clear();
        if (afterStep) afterStep();
    });
}

void UninstallHeadlessSimulation() {
    if (!g_driver) return;
    engine::DrawingOff = false;
    media::CloseGraphics();
    g_driver.reset();
}

Replay RecordAgain(Replay replay) {
    InstallHeadlessSimulation();
    std::vector<uint32_t> checks = {replay.checks.at(0)};  // taken before any input
    uint32_t done = 0;
    uint32_t endedAt = 0;
    replay.header.quit = 1;
    const ReplayVerdict verdict = SimulateReplay(replay, [&] {
        ++done;
        if (done % kReplayCheckInterval == 0) checks.push_back(GameCheckValue());
        if (endedAt == 0 && EndCode != END_RUNNING) endedAt = done;
    });
    if (endedAt != 0) {
        replay.header.frames = endedAt;
        replay.header.quit = 0;
        replay.steps.resize(endedAt);
    }
    checks.resize(ReplayCheckCount(replay.header.frames));
    replay.checks = std::move(checks);
    replay.header.score = verdict.simulatedScore;
    replay.header.lives = Lives;
    UninstallHeadlessSimulation();
    return replay;
}

}  // namespace game

// The game loop: game-wide values, the six random streams, the set-up, one
// frame's step in its fixed order, game over, and the end of the game with
// its stored record.
#include "game/game_loop.h"

#include <utility>

#include "engine/draw_helpers.h"
#include "engine/frame_end.h"
#include "engine/game_state.h"
#include "engine/graphics_setup.h"
#include "engine/media/clock.h"
#include "engine/media/graphics.h"
#include "engine/media/random.h"
#include "engine/media/text.h"
#include "engine/pause_menu.h"
#include "engine/sprite_budgets.h"
#include "game/backdrop.h"
#include "game/effects.h"
#include "game/enemies.h"
#include "game/game_assets.h"
#include "game/records.h"
#include "game/replay.h"
#include "game/ship.h"
#include "scores/fields/date_time.h"
#include "scores/score_file.h"
#include "scores/scores.h"

namespace game {

namespace {

constexpr int kStartLives = 5;
constexpr int kStreamDiscards = 29;
constexpr int kChorusSound = 16;
constexpr int kChorusVoices = 5;
constexpr int kShowerFrames = 30;
constexpr int kGameOverFont = 5;
// How long the last picture stays in all, spread over kEndDelayFrames steps on the desktop.
constexpr int kEndDelayMs = 1500;
constexpr float kTrailAlpha = 0.93f;

}  // namespace

int Difficulty = 0;
int CurrentLevel = 0;
int CurrentGameFlags = 0;
int GameScore = 0;
int GameBadges = 0;
std::array<int, kGameBestEntries> GameBest{};
int Lives = kStartLives;
int Invulnerable = kInvulnerableFrames;
double Time = 0;
double ScrollSpeed = 1.0;
int DeathTimer = 0;
int EndCode = END_RUNNING;
int64_t WaveSeed = 0;
int64_t TerrainSeed = 0;
int64_t StarSeed = 0;
int64_t ParticleSeed = 0;
int64_t NebulaSeed = 0;
int64_t PuffSeed = 0;

namespace {

std::function<std::unique_ptr<engine::Screen>()> g_nameEntry;
std::function<void(StepInput&)> g_stepFilter;

// Passes the step's input through the filter and stores the pointer it settled on.
StepInput TakeStepInput(StepInput input) {
    if (g_stepFilter) g_stepFilter(input);
    engine::PointerX = input.pointerX;
    engine::PointerY = input.pointerY;
    return input;
}

void Music() {
    if (!MusicChannel || !MusicChannel->Playing()) PlayMusic(GameTrack);
}

// Black at high alpha over the whole screen: the previous frame shows through as trails.
void Trails() {
    engine::BeginFrame(0);
    if (engine::DrawingOff) return;
    engine::ResetDrawState();
    engine::SetColourAlpha(0, 0, 0, kTrailAlpha);
    media::DrawRect(0, 0, static_cast<float>(engine::VirtualWidth),
                    static_cast<float>(engine::VirtualHeight));
    engine::ResetDrawState();
}

void StatusLine() {
    // The line shows the lives never below 0, and the game keeps them so.
    if (Lives < 0) Lives = 0;
    if (engine::DrawingOff) return;
    engine::ResetDrawState();
    engine::SetColourAlpha(0, 255, 0);
    engine::SetFont(1, 3);
    const std::string text =
        media::Right("0000000000" + media::Str(GameScore), 10) + " : " + media::Str(Lives);
    engine::DrawTextAligned(engine::VirtualWidth / 2, 20, text, 1, 1);
}

void GameOverText() {
    if (engine::DrawingOff) return;
    const int cx = engine::VirtualWidth / 2;
    const int cy = engine::VirtualHeight / 2;
    const std::string text = "Game Over";
    engine::ResetDrawState();
    media::SetImageFont(engine::UIFonts[kGameOverFont]);
    engine::SetColourAlpha(255, 255, 255, 1);
    for (int dy = -3; dy <= 3; ++dy) {
        for (int dx = -3; dx <= 3; ++dx) engine::DrawTextAligned(cx + dx, cy + dy, text, 1, 1);
    }
    engine::ResetDrawState();
    engine::SetColourAlpha(8, 8, 8, 1);
    for (int dy = -2; dy <= 2; ++dy) {
        for (int dx = -2; dx <= 2; ++dx) engine::DrawTextAligned(cx + dx, cy + dy, text, 1, 1);
    }
    engine::ResetDrawState();
    engine::SetColourAlpha(255, 255, 0, 1);
    engine::DrawTextAligned(cx, cy, text, 1, 1);
}

void GameOver() {
    if (Lives >= 1) return;
    DeathTimer += 1;
    if (DeathTimer == 1) {
        for (int i = 0; i < kChorusVoices; ++i) {
            // Arguments are drawn last to first, as for every effect call.
            const double pan = media::RandomReal(-1, 1);
            const double volume = media::RandomReal(0.7, 1.3);
            const double rate = media::RandomReal(0.5, 1.2);
            PlaySfx(kChorusSound, rate, volume, pan);
        }
    }
    if (DeathTimer >= kDeathFrames) EndCode = END_GAME_OVER;
    if (MusicChannel && MusicChannel->Playing()) MusicChannel->Stop();
    if (DeathTimer < kShowerFrames) {
        SpawnParticles(kDamageSparks, media::TruncToInt(ShipX + 16), media::TruncToInt(ShipY + 16),
                       media::RandomReal(0.5, 2.5));
    }
    GameOverText();
}

scores::Scores MakeRecord() {
    scores::Scores record;
    record.Score = GameScore;
    record.Timestamp = scores::MakeDateTimeNumber();
    record.Badges = GameBadges;
    record.Name = scores::PlayerName;
    for (int i = 1; i < kGameBestEntries; ++i) record.Best[i] = GameBest[i];
    record.Level = CurrentLevel;
    record.GameMode = Difficulty;
    record.GameFlags = CurrentGameFlags;
    record.Quit = EndCode == END_QUIT ? 1 : 0;
    return record;
}

}  // namespace

void StreamReseed(int64_t& seed) {
    media::SeedRandom(seed);
    seed += 1;
    media::SkipRandomDraws(kStreamDiscards);  // the same as discarding that many RandomInt draws
}

void GameSetup() {
    const int64_t d = Difficulty;
    WaveSeed = d * 100000;
    TerrainSeed = d * 100020;
    StarSeed = d * 37171650;
    ParticleSeed = d * 3000;
    NebulaSeed = d * 87039;
    PuffSeed = d * 75648;
    GameScore = 0;
    GameBadges = 0;
    for (int i = 1; i < kGameBestEntries; ++i) GameBest[i] = 0;

    ClearTerrain();

    NebulaList.clear();
    MakeNebulae();

    EnemyList.clear();
    ShotList.clear();
    ParticleList.clear();
    StarList.clear();
    MakeStars();

    ResetWaves();
    ResetShip();
    Lives = kStartLives;
    Invulnerable = kInvulnerableFrames;
    ScrollSpeed = 1.0;
    DeathTimer = 0;
    EndCode = END_RUNNING;
    RowSolid[0] = RowSolid[1] = RowSolid[14] = RowSolid[15] = 1;
    ScrollX = Difficulty * -600.0;
    Time = 0;
}

StepInput LiveStepInput() {
    return StepInput{engine::PointerX, engine::PointerY, ButtonDown(1) != 0, ButtonDown(2) != 0};
}

void GameStep() {
    GameStep(LiveStepInput());
}

void GameStep(StepInput given) {
    const StepInput input = TakeStepInput(given);
    Music();
    Trails();
    UpdateStars();
    DrawBackNebulae();
    ScrollX -= ScrollSpeed;
    Time -= 1.0;
    WaveDirector();
    TerrainColumn();
    DrawTerrain();
    UpdateEnemies();
    UpdateShots();
    AimAndDrawShip();
    UpdateFrontNebulae();
    ShipInputWith(input.left, input.right);
    StatusLine();
    UpdateParticles();
    UpdatePuffs();
    GameOver();
}

void GameFrameDone(int frameEndResult) {
    if (frameEndResult == END_QUIT) EndCode = END_QUIT;
    engine::ResetDrawState();
    engine::SetBlendKind(1);
}

namespace {

// One game: a frame per step while it runs, then the pause before name
// entry, name entry, and the stored record.
class GameScreen : public engine::Screen {
  public:
    GameScreen() {
        GameSetup();
        StartRecording();
    }

    engine::StepResult Step() override {
        switch (phase_) {
            case Phase::Playing:
                if (EndCode == END_RUNNING) return PlayFrame();
                FinishRecording();
                phase_ = Phase::Ending;
                [[fallthrough]];
            case Phase::Ending:
                // The last picture stays a moment, counted in frames.
                if (endFrames_ < kEndDelayFrames) {
                    const int n = endFrames_++;
                    return engine::Idle(kEndDelayMs * (n + 1) / kEndDelayFrames -
                                        kEndDelayMs * n / kEndDelayFrames);
                }
                return AskForName();
            case Phase::Naming:
                return engine::Idle(0);
            case Phase::Done:
                break;
        }
        return engine::PopScreen(kGameEnded, false);
    }

    void Resume(int result) override {
        if (phase_ == Phase::Playing) {
            // The pause menu's Quit ends the game after the frame it was chosen in.
            if (result == engine::kPauseQuit) EndCode = END_QUIT;
        } else if (phase_ == Phase::Naming) {
            scores::StorePendingRun();
            phase_ = Phase::Done;
        }
    }

  private:
    enum class Phase { Playing, Ending, Naming, Done };

    engine::StepResult PlayFrame() {
        GameStep(LiveStepInput());
        const bool pause = engine::EndStep(0);
        GameFrameDone(0);
        if (pause) return engine::PushScreen(engine::MakePauseMenu(), true);
        return engine::Drew();
    }

    engine::StepResult AskForName() {
        engine::InGame = 0;
        // The run and its replay are stored and the score file saved at once, so
        // a crash later cannot lose them; the closing screen saves the file again
        // at exit. Closed during name entry, the program stores the run under the
        // name typed so far.
        scores::SetPendingRun([] {
            const scores::Scores record = MakeRecord();
            scores::AddRun(record);
            // With a board named, the run and its replay are queued and sent in the background.
            if (StoreRecording(record) && scores::ShareRunHook) scores::ShareRunHook(record);
        });
        if (g_nameEntry) {
            phase_ = Phase::Naming;
            return engine::PushScreen(g_nameEntry(), false);
        }
        scores::StorePendingRun();
        return engine::PopScreen(kGameEnded, false);
    }

    Phase phase_ = Phase::Playing;
    int endFrames_ = 0;
};

}  // namespace

std::unique_ptr<engine::Screen> MakeGameScreen() {
    return std::make_unique<GameScreen>();
}

void SetStepInputFilter(std::function<void(StepInput&)> filter) {
    g_stepFilter = std::move(filter);
}

void SetNameEntryScreen(std::function<std::unique_ptr<engine::Screen>()> make) {
    g_nameEntry = std::move(make);
}

}  // namespace game

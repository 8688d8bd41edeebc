// Recording, re-simulating and watching replays. The game step takes its
// input through one filter (game_loop.h): recording notes what it saw,
// playback replaces it with the recorded input. Randomness needs nothing:
// every stream is reseeded from seeds that depend only on the difficulty,
// and the stars reseed the generator at the start of every step. A replay
// is played and checked under the rules version it was recorded under.
#include "game/replay.h"

#include <cstring>
#include <utility>

#include "engine/draw_helpers.h"
#include "engine/frame_end.h"
#include "engine/game_state.h"
#include "engine/graphics_setup.h"
#include "engine/identity.h"
#include "engine/log.h"
#include "engine/media/audio.h"
#include "engine/media/clock.h"
#include "engine/media/folders.h"
#include "engine/media/graphics.h"
#include "engine/media/input.h"
#include "engine/media/key_codes.h"
#include "engine/setup_table.h"
#include "engine/sprite_budgets.h"
#include "game/backdrop.h"
#include "game/enemies.h"
#include "game/game_assets.h"
#include "game/game_loop.h"
#include "game/game_math.h"
#include "game/records.h"
#include "game/ship.h"
#include "scores/replay_store.h"

namespace game {

namespace {

// Steps run per displayed frame while fast playback is held.
constexpr int kFastSteps = 4;
constexpr int kBannerFont = 3;

// FNV-1a over 64-bit words: small, stable, and good enough to tell states apart.
class CheckHasher {
  public:
    void Add(uint64_t v) {
        for (int i = 0; i < 8; ++i) {
            hash_ ^= static_cast<uint32_t>(v & 0xFF);
            hash_ *= 16777619u;
            v >>= 8;
        }
    }
    void Add(double v) {
        uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        Add(bits);
    }
    void Add(int v) { Add(static_cast<uint64_t>(static_cast<int64_t>(v))); }
    void Add(int64_t v) { Add(static_cast<uint64_t>(v)); }
    // A container's size is hashed as 64 bits everywhere (size_t has 32 in WebAssembly).
    void AddCount(size_t n) { Add(static_cast<uint64_t>(n)); }
    uint32_t Value() const { return hash_; }

  private:
    uint32_t hash_ = 2166136261u;
};

// The recording in progress or last finished.
struct RecorderState {
    Replay replay;
    bool active = false;
    bool overflow = false;  // the game outlasted the longest replay; nothing is stored
};
RecorderState g_recorder;

// Sets the logical screen the game reads (and the window scales to).
void UseScreen(int width, int height) {
    if (engine::VirtualWidth == width && engine::VirtualHeight == height &&
        media::VirtualResolutionWidth() == static_cast<float>(width) &&
        media::VirtualResolutionHeight() == static_cast<float>(height)) {
        return;
    }
    engine::VirtualWidth = width;
    engine::VirtualHeight = height;
    media::SetVirtualResolution(static_cast<float>(width), static_cast<float>(height));
}

// Takes the check value when a multiple of the check interval of steps is done.
void NoteCheck(std::vector<uint32_t>& checks, size_t stepsDone) {
    if (stepsDone % kReplayCheckInterval == 0) checks.push_back(GameCheckValue());
}

// The recorder's step filter: notes the check value due and the step's input.
void RecordStep(StepInput& input) {
    Replay& r = g_recorder.replay;
    if (r.steps.size() >= kReplayMaxFrames) {
        g_recorder.overflow = true;
        return;
    }
    NoteCheck(r.checks, r.steps.size());
    r.steps.push_back(ReplayStep{input.pointerX, input.pointerY, input.left, input.right,
                                 engine::VirtualWidth, engine::VirtualHeight});
}

// What playback borrows from the program and gives back when it ends, the
// rules version in force included. The
// slow-system flag is lent through engine::PlaybackSlowSystem, never written
// into Setup, so that a save during playback stores the player's own settings;
// the sprite budgets are not borrowed at all, so an Apply during playback
// keeps the budgets its engine test measured.
class BorrowedState {
  public:
    BorrowedState()
        : difficulty_(Difficulty),
          width_(engine::VirtualWidth),
          height_(engine::VirtualHeight),
          slowSystem_(engine::PlaybackSlowSystem),
          inGame_(engine::InGame),
          rules_(RulesInForce()) {}
    ~BorrowedState() {
        SetStepInputFilter(nullptr);
        UseRules(rules_);
        Difficulty = difficulty_;
        engine::PlaybackSlowSystem = slowSystem_;
        engine::InGame = inGame_;
        UseScreen(width_, height_);
    }
    // Restores this logical screen instead of the one at the start (the window may have changed).
    void RestoreScreenTo(int width, int height) {
        width_ = width;
        height_ = height;
    }
    BorrowedState(const BorrowedState&) = delete;
    BorrowedState& operator=(const BorrowedState&) = delete;

  private:
    int difficulty_, width_, height_, slowSystem_, inGame_;
    uint32_t rules_;
};

// Sets up the replay's game and feeds its steps, one per GameStep, from *next on.
void BeginPlayback(const Replay& replay, size_t* next) {
    const ReplayHeader& h = replay.header;
    UseRules(h.rules);
    Difficulty = h.difficulty;
    engine::PlaybackSlowSystem = h.slowSystem;
    engine::FrameParity = h.startParity;
    UseScreen(h.width, h.height);
    GameSetup();
    *next = 0;
    SetStepInputFilter([&replay, next](StepInput& input) {
        const ReplayStep& s = replay.steps[*next < replay.steps.size() ? *next : 0];
        ++*next;
        UseScreen(s.width, s.height);
        input = StepInput{s.pointerX, s.pointerY, s.left, s.right};
    });
}

// Draws "REPLAY" and the player's name in the top-left corner.
void DrawReplayBanner(const std::string& name, bool fast) {
    engine::ResetDrawState();
    engine::SetFont(1, kBannerFont);
    engine::SetColourAlpha(255, 255, 0, 1);
    engine::DrawTextAligned(10, 8, fast ? "REPLAY x4" : "REPLAY");
    engine::SetColourAlpha(255, 255, 255, 1);
    engine::DrawTextAligned(10, 34, name);
    engine::ResetDrawState();
}

}  // namespace

uint32_t GameCheckValue() {
    CheckHasher h;
    h.Add(GameScore);
    h.Add(Lives);
    h.Add(Invulnerable);
    h.Add(DeathTimer);
    h.Add(ShipX);
    h.Add(ShipY);
    h.Add(ShipAngle);
    h.Add(Heat);
    h.Add(FireCooldown);
    h.Add(EaseDivisor);
    h.Add(ScrollX);
    h.Add(WaveTimer);
    h.Add(WaveInterval);
    h.AddCount(EnemyList.size());
    for (const Enemy& e : EnemyList) {
        h.Add(e.x);
        h.Add(e.y);
        h.Add(e.health);
    }
    h.AddCount(ShotList.size());
    for (const Shot& s : ShotList) {
        h.Add(s.x);
        h.Add(s.y);
    }
    h.AddCount(ParticleList.size());
    for (int64_t seed : {WaveSeed, TerrainSeed, StarSeed, ParticleSeed, NebulaSeed, PuffSeed}) {
        h.Add(seed);
    }
    return h.Value();
}

void StartRecording() {
    g_recorder = RecorderState{};
    ReplayHeader& h = g_recorder.replay.header;
    h.programVersion = engine::GameVersion;
    h.difficulty = Difficulty;
    h.width = engine::VirtualWidth;
    h.height = engine::VirtualHeight;
    h.slowSystem = engine::SlowSystem() != 0 ? 1 : 0;
    h.startParity = engine::FrameParity;
    h.rules = RulesInForce();
    g_recorder.active = true;
    SetStepInputFilter(RecordStep);
}

void FinishRecording() {
    if (!g_recorder.active) return;
    SetStepInputFilter(nullptr);
    g_recorder.active = false;
    Replay& r = g_recorder.replay;
    if (!g_recorder.overflow) NoteCheck(r.checks, r.steps.size());
    r.header.frames = static_cast<uint32_t>(r.steps.size());
    r.header.score = GameScore;
    r.header.lives = Lives;
    r.header.quit = EndCode == END_QUIT ? 1 : 0;
}

bool StoreRecording(const scores::Scores& record) {
    Replay& r = g_recorder.replay;
    if (g_recorder.active) return false;
    if (g_recorder.overflow) {
        engine::WriteLog("\tReplay: the game was too long to keep a replay of");
        return false;
    }
    r.header.timestamp = record.Timestamp;
    r.header.name = record.Name;
    r.header.score = record.Score;
    r.header.level = record.Level;
    r.header.gameFlags = record.GameFlags;
    const std::string path = scores::NewReplayPath(record);
    if (media::MakeFolders(scores::ReplayFolder()) && WriteReplayFile(path, r)) return true;
    engine::WriteLog("\tReplay: could not write " + path);
    return false;
}

const Replay& LastRecording() {
    return g_recorder.replay;
}

// The state a playback borrows, held apart so the header need not show it.
class ReplayPlayback::Borrowed : public BorrowedState {};

ReplayPlayback::ReplayPlayback() = default;
ReplayPlayback::~ReplayPlayback() = default;

bool ReplayPlayback::Start(const Replay& replay) {
    const ReplayHeader& h = replay.header;
    if (replay.steps.size() != h.frames || replay.checks.size() != ReplayCheckCount(h.frames) ||
        !KnownRules(h.rules)) {
        return false;
    }
    borrowed_.reset();  // a second Start gives back what the first borrowed before borrowing again
    borrowed_ = std::make_unique<Borrowed>();
    replay_ = &replay;
    done_ = 0;
    firstBadStep_ = -1;
    endedEarlyAt_ = 0;
    finished_ = false;
    BeginPlayback(replay, &next_);
    return true;
}

void ReplayPlayback::Check(size_t stepsDone) {
    const size_t k = stepsDone / kReplayCheckInterval;
    if (firstBadStep_ < 0 && GameCheckValue() != replay_->checks[k]) {
        firstBadStep_ = static_cast<int64_t>(stepsDone);
    }
}

bool ReplayPlayback::Step() {
    if (finished_ || !replay_) return false;
    const ReplayHeader& h = replay_->header;
    if (done_ > 0 && EndCode != END_RUNNING && done_ < h.frames) {
        endedEarlyAt_ = static_cast<uint32_t>(done_);
        finished_ = true;
        return false;
    }
    if (done_ == h.frames) {
        if (h.quit) EndCode = END_QUIT;
        if (h.frames % kReplayCheckInterval == 0) Check(h.frames);
        finished_ = true;
        return false;
    }
    if (done_ % kReplayCheckInterval == 0) Check(done_);
    GameStep();
    GameFrameDone(0);
    engine::FrameParity = 1 - engine::FrameParity;
    ++done_;
    return true;
}

ReplayVerdict SimulateReplay(const Replay& replay, const std::function<void()>& afterStep) {
    const ReplayHeader& h = replay.header;
    ReplayVerdict v;
    v.frames = h.frames;
    v.recordedScore = h.score;
    if (replay.steps.size() != h.frames || replay.checks.size() != ReplayCheckCount(h.frames)) {
        v.reason = "inconsistent replay";
        return v;
    }
    if (!KnownRules(h.rules)) {
        v.reason = "rules version " + std::to_string(h.rules) + " is not known to this program";
        return v;
    }
    ReplayPlayback playback;
    playback.Start(replay);
    while (playback.Step()) {
        if (afterStep) afterStep();
    }
    v.firstBadStep = playback.FirstBadStep();
    v.simulatedScore = GameScore;
    if (playback.EndedEarlyAt() != 0) {
        v.reason = "the game ended at step " + std::to_string(playback.EndedEarlyAt()) + " of " +
                   std::to_string(h.frames);
    } else if (v.firstBadStep >= 0) {
        v.reason = "check value differs at step " + std::to_string(v.firstBadStep);
    } else if (GameScore != h.score) {
        v.reason = "score differs";
    } else if (Lives != h.lives) {
        v.reason = "lives differ";
    } else if (!h.quit && EndCode != END_GAME_OVER) {
        v.reason = "the game did not end with the replay";
    }
    v.ok = v.reason.empty();
    return v;
}

namespace {

// Watching a replay in the window: one displayed frame per step (four game
// steps while fast playback is held), then, once it has ended, a wait for
// the Escape that ended it to be let go.
class ReplayScreen : public engine::Screen {
  public:
    explicit ReplayScreen(Replay replay) : replay_(std::move(replay)) {
        // Without a running game the frame end never opens the pause menu: Escape ends playback.
        engine::InGame = 0;
        BeginPlayback(replay_, &next_);
        engine::WriteLog("\tReplay started : " + replay_.header.name);
    }

    engine::StepResult Step() override {
        if (!ended_) {
            if (next_ < replay_.steps.size() && EndCode == END_RUNNING) return PlayFrame();
            End();
        }
        // The Escape that ended playback must not reach the screen that follows.
        if (escape_.Blocks(media::KeyDown(media::KEY_ESCAPE) != 0)) return engine::Idle(1);
        return engine::PopScreen(kReplayWatched, false);
    }

  private:
    engine::StepResult PlayFrame() {
        // Taken anew every frame: an Apply in the frame end may have measured new budgets.
        const auto budgets = engine::DrawBudgets;
        const bool fast = media::MouseDown(media::MOUSE_RIGHT) || media::KeyDown(media::KEY_SPACE);
        const int steps = fast ? kFastSteps : 1;
        for (int k = 0; k < steps && next_ < replay_.steps.size() && EndCode == END_RUNNING; ++k) {
            // Steps that will not be seen skip their sprites; only the last one is shown.
            engine::DrawBudgets = k + 1 < steps ? std::array<int, engine::kDrawKinds>{} : budgets;
            GameStep();
            GameFrameDone(0);
        }
        engine::DrawBudgets = budgets;
        DrawReplayBanner(replay_.header.name, fast);
        engine::EndStep(0);
        engine::ResetDrawState();
        if (media::KeyDown(media::KEY_ESCAPE)) End();
        return engine::Drew();
    }

    // Logs where playback ended, stops the music and gives the title screen its size back.
    void End() {
        ended_ = true;
        escape_.Arm();
        engine::WriteLog("\tReplay ended at step " + std::to_string(next_) + " of " +
                         std::to_string(replay_.steps.size()));
        if (MusicChannel && MusicChannel->Playing()) MusicChannel->Stop();
        // A settings change during playback may have opened another window: give the title
        // screen its size.
        const engine::VirtualScreen screen =
            engine::VirtualSizeFor(engine::ScreenWidth, engine::ScreenHeight);
        borrowed_.RestoreScreenTo(screen.width, screen.height);
    }

    BorrowedState borrowed_;  // given back when the screen leaves
    Replay replay_;
    size_t next_ = 0;
    bool ended_ = false;
    engine::Latch escape_;
};

}  // namespace

std::unique_ptr<engine::Screen> WatchReplay(Replay replay) {
    if (replay.steps.size() != replay.header.frames || !KnownRules(replay.header.rules)) {
        return nullptr;
    }
    return std::make_unique<ReplayScreen>(std::move(replay));
}

}  // namespace game

// The front end: one frame per step in the fixed order of the title screen.
#include "app/title_screen.h"

#include <cstdint>
#include <memory>

#include "app/closing_screen.h"
#include "app/score_panel.h"
#include "engine/controls.h"
#include "engine/draw_helpers.h"
#include "engine/frame_end.h"
#include "engine/game_state.h"
#include "engine/graphics_setup.h"
#include "engine/identity.h"
#include "engine/media/clock.h"
#include "engine/media/graphics.h"
#include "engine/media/input.h"
#include "engine/media/key_codes.h"
#include "engine/media/text.h"
#include "engine/settings_panel.h"
#include "engine/setup_table.h"
#include "engine/sprite_budgets.h"
#include "game/game_assets.h"
#include "game/game_loop.h"
#include "game/replay.h"
#include "scores/scores.h"
#include "share/board_share.h"

namespace app {

std::array<std::string, kStoryCapacity> StoryLines;
int StoryCount = 0;
FrontEndState FrontEnd;

namespace {

// Characters the front end replaces by "_" in the account name and password.
const char* const kAccountUnsafe[] = {"*", "\"", "'", "-", "+",  "&", "?", "{", "}",
                                      "[", "]",  "~", "#", "\\", "/", ":", ";"};

const char* const kStory[] = {
    "A Game by Torvik",
    "torvik.example and wekkaplay.example",
    "",
    "-=-=--=-=-=-=-=-=-=-=-",
    "You are alone.",
    "",
    "You take the last ship",
    "from the docking bay,",
    "and head out to take your",
    "revenge upon the enemy fleet.",
    "",
    "They already killed everyone else.",
    "There's nothing left to fight for.",
    "",
    "But fight you will.",
    "",
    "Vantrelle -=Daz4=-",
    "Zarquill!",
    "",
    "wekkaplay.example/274",
    "-=-=--=-=-=-=-=-=-=-=-",
    "",
    "Credits",
    "",
    "Game",
    "written in C++ with CMake",
    "using Torvik's Framework",
    "",
    "Graphics",
    "Font : Cantarell by Dave Crossland",
    "Font : Open Sans by Steve Matteson",
    "Font : Bebas Neue by Ryoichi Tsunekawa",
    "Font : Jura by Daniel Johnson",
    "All other graphics by Torvik",
    "",
    "Music/SFX by Torvik",
    "",
    "Additional Sound Effects",
    "created using",
    "our own synthesiser, zq_assetgen",
    "(in this game's tools folder)",
};

// Key codes of the tab and difficulty shortcuts ("1", "2", "3", F1..F3).
constexpr int kKey1 = 49, kKey2 = 50, kKey3 = 51;
constexpr int kKeyF1 = media::KEY_F1, kKeyF2 = media::KEY_F1 + 1, kKeyF3 = media::KEY_F1 + 2;

bool KeyHeld(int code) {
    return media::KeyDown(code) != 0;
}

bool ControlHeld(int control) {
    return engine::ActionDown(control, 1) || engine::ActionDown(control, 2);
}

void SanitiseAccount(std::string& text) {
    for (const char* ch : kAccountUnsafe) text = media::Replace(text, ch, "_");
}

// Starts a game: the start sound, then the game screen, set up at once.
std::unique_ptr<engine::Screen> StartGame() {
    game::PlaySfx(98, 1.5, 1.0, 0);
    auto& slot = engine::SfxChannels[1];
    if (slot && slot->Playing()) {
        slot->Stop();
    }
    slot.reset();
    engine::InGame = 1;
    engine::GameStartTime = media::Millisecs();
    return game::MakeGameScreen();
}

// Brings the title screen back as after a game: panel sliding in, no stale presses.
void BackFromGame() {
    engine::InGame = 0;
    FrontEnd.escapeLatch = true;
    FrontEnd.startLatch = true;
    FrontEnd.panelSlide = 0;
    GraphScroll = 0;
    SelectedIndex = 0;
}

// Where the sliding panel stands this frame.
struct Panel {
    int x = 0;  // left edge
    int w = 0;  // width
};

// Where the start button, difficulties and title stand this frame.
struct Stage {
    int cx = 0;  // centre line left of the panel
    int dy = 0;  // vertical offset while the panel slides in
    int vh = 0;  // the virtual screen's height
};

// Starts the frame: frame start, drawing state, backdrop.
void BeginFrontEndFrame() {
    engine::BeginFrame(1);
    engine::ResetDrawState();
    engine::Backdrop();
}

// Slides the panel one step in and draws its back and tab bar.
Panel SlideInPanel(int vw, int vh) {
    if (FrontEnd.panelSlide < 32) ++FrontEnd.panelSlide;
    Panel p;
    p.w = engine::ScreenWidth >= 900 ? 335 : 415;
    p.x = vw - p.w - 5 + 800 - 25 * FrontEnd.panelSlide;
    engine::SetColourAlpha(0, 0, 0, 0.5);
    media::DrawRect(p.x, 5, p.w, vh - 10);
    engine::SetColourAlpha(255, 255, 255, 0.3);
    media::DrawRect(p.x, 5, p.w, 35);
    return p;
}

// Draws the tab labels, the chosen one in white.
void DrawTabLabels(const Panel& p) {
    engine::SetFont(1, 2);
    const int hiscore = FrontEnd.panelTab == 0 ? 255 : 0;
    engine::SetColourAlpha(hiscore, hiscore, hiscore, 1);
    engine::DrawTextAligned(static_cast<int>(p.x + 0.2 * p.w), 23, "1.Hiscore", 1, 1);
    const int about = FrontEnd.panelTab == 2 ? 255 : 0;
    engine::SetColourAlpha(about, about, about, 1);
    engine::DrawTextAligned(static_cast<int>(p.x + 0.8 * p.w), 23, "3.About", 1, 1);
}

// Switches tab on its key or a click on its label.
void ChooseTab(const Panel& p) {
    if (FrontEnd.clickLatch) return;
    const bool button1 = media::MouseDown(1) != 0;
    int chosen = -1;
    if (KeyHeld(kKey1) || KeyHeld(kKeyF1) ||
        (button1 && engine::MouseInRect(p.x, 5, 0.3 * p.w, 50))) {
        chosen = 0;
    } else if (KeyHeld(kKey3) || KeyHeld(kKeyF3) ||
               (button1 && engine::MouseInRect(p.x + 0.66 * p.w, 5, 0.3 * p.w, 50))) {
        chosen = 2;
    }
    if (chosen >= 0) {
        FrontEnd.panelTab = chosen;
        game::PlaySfx(98, 2.0, 1.0, 0);
        FrontEnd.clickLatch = true;
    }
}

// Draws the tab's heading, the About text on its tab, and tints the backdrop.
void DrawTabPage(const Panel& p) {
    engine::SetFont(1, 7);
    engine::SetColourAlpha(255, 255, 255, 1);
    if (FrontEnd.panelTab == 0) {
        engine::BackdropTarget = {0.2, 0, 1.0};
        engine::DrawTextAligned(p.x + p.w / 2, 50, "Hiscores", 1, 0);
    } else if (FrontEnd.panelTab == 2) {
        engine::DrawTextAligned(p.x + p.w / 2, 50, "About", 1, 0);
        engine::SetFont(1, 2);
        for (int i = 1; i <= StoryCount; ++i) {
            engine::DrawTextAligned(p.x + p.w / 2, 115 + 20 * (i - 1),
                                    StoryLines[static_cast<size_t>(i)], 1, 0);
        }
        engine::BackdropTarget = {0, 0.2, 1.0};
    }
}

// Draws the settings hints, the first blinking at the smallest screen width.
void DrawSettingsHints() {
    const bool narrow = engine::ScreenWidth < 900;
    engine::SetFont(2, narrow ? 4 : 3);
    engine::SetColourAlpha(255, 255, 255, 1);
    if (engine::Setup[engine::SETUP_WIDTH] == 800 &&
        static_cast<uint32_t>(media::Millisecs()) % 800 < 400) {
        engine::SetColourAlpha(255, 255, 0, 1);
    }
    engine::DrawTextAligned(4, 4, "Hit [Tab] for settings");
    engine::SetFont(2, narrow ? 3 : 2);
    engine::SetColourAlpha(180, 255, 180, 1);
    engine::DrawTextAligned(4, 35, "Redefine Controls");
    engine::DrawTextAligned(4, 55, "Audio Options");
    engine::DrawTextAligned(4, 75, "and Hi-Def gaming!");
}

// Returns true when a click released over the start button starts a game.
bool StartPressed(const Stage& s) {
    const bool over = engine::MouseInRect(s.cx - 200, s.vh / 2 + 40 + s.dy, 400, 80) != 0;
    return over && FrontEnd.startHeld && !FrontEnd.startLatch && engine::SettingsSlide < -250;
}

// Draws the start button, white under the pointer, and notes the button for the next frame.
void StartButton(const Stage& s) {
    const bool over = engine::MouseInRect(s.cx - 200, s.vh / 2 + 40 + s.dy, 400, 80) != 0;
    engine::SetColourAlpha(255, over ? 255 : 150, over ? 255 : 150, 1);
    media::SetImageFont(engine::UIFonts[7]);
    engine::DrawTextAligned(s.cx, s.vh / 2 + 80 + s.dy, "Click Here to Start", 1, 1);
    FrontEnd.startHeld = media::MouseDown(1) != 0;
    if (!media::MouseDown(1) && !ControlHeld(0) && !ControlHeld(8)) FrontEnd.startLatch = false;
}

// Draws the difficulties and takes a click on one.
void ChooseDifficultyByMouse(const Stage& s) {
    static const char* const kDifficulty[3] = {"Easy", "Medium", "Hard"};
    engine::SetFont(2, 6);
    for (int d = 0; d < 3; ++d) {
        const int ty = s.vh / 2 + 200 + 50 * d - s.dy;
        engine::SetColourAlpha(255, 255, 255, game::Difficulty == d ? 1.0 : 0.5);
        if (media::MouseDown(1) && engine::MouseInRect(s.cx - 100, ty, 200, 40) &&
            !FrontEnd.clickLatch) {
            game::Difficulty = d;
            game::PlaySfx(98, 1.0, 1.0, 0);
            FrontEnd.clickLatch = true;
        }
        engine::DrawTextAligned(s.cx - 100, ty, kDifficulty[d]);
    }
}

// Steps the difficulty up or down with the controls, once per press.
void StepDifficultyWithControls() {
    if (!FrontEnd.startLatch && ControlHeld(0)) {
        game::Difficulty = game::Difficulty - 1 < 0 ? 2 : game::Difficulty - 1;
        game::PlaySfx(98, 0.95, 1.0, 0);
        FrontEnd.startLatch = true;
    }
    if (!FrontEnd.startLatch && ControlHeld(8)) {
        game::Difficulty = game::Difficulty + 1 > 2 ? 0 : game::Difficulty + 1;
        game::PlaySfx(98, 1.05, 1.0, 0);
        FrontEnd.startLatch = true;
    }
}

// Releases the click latch once the button and every tab key are up.
void ReleaseClickLatch() {
    if (!media::MouseDown(1) && !KeyHeld(kKey1) && !KeyHeld(kKey2) && !KeyHeld(kKey3) &&
        !KeyHeld(kKeyF1) && !KeyHeld(kKeyF2) && !KeyHeld(kKeyF3)) {
        FrontEnd.clickLatch = false;
    }
}

// Draws the title picture and the game's name under it.
void DrawTitle(const Stage& s) {
    const int h = game::TitleImage ? media::ImageHeight(game::TitleImage) : 0;
    engine::SetColourAlpha(255, 255, 255, 1);
    media::DrawImage(game::TitleImage, s.cx, s.vh / 2 - h / 2 + s.dy, 0);
    engine::SetFont(2, 5);
    engine::SetColourAlpha(255, 255, 255, 0.5);
    engine::DrawTextAligned(s.cx, s.vh / 2 - h / 2 + 128 + s.dy, engine::GameName, 1, 1);
}

// Returns true on a fresh press of Escape (one held since the last game does not count).
bool QuitAsked() {
    if (!KeyHeld(media::KEY_ESCAPE)) FrontEnd.escapeLatch = false;
    return KeyHeld(media::KEY_ESCAPE) && !FrontEnd.escapeLatch;
}

}  // namespace

void FillStoryLines() {
    StoryCount = 1;
    for (const char* line : kStory) StoryLines[static_cast<size_t>(StoryCount++)] = line;
    StoryLines[static_cast<size_t>(StoryCount)] = "";
}

namespace {

// The title screen: one front-end frame per step. A game starts in the middle
// of a frame; the rest of that frame is drawn once the game and its name
// entry are over, as if the game had run inside it.
class TitleScreen : public engine::Screen {
  public:
    engine::StepResult Step() override {
        if (!midFrame_) {
            stage_ = FrameHead();
            if (StartPressed(stage_)) {
                midFrame_ = true;
                // The start button's colour is taken where the pointer is when the frame resumes.
                return engine::PushScreen(StartGame(), false);
            }
        }
        midFrame_ = false;
        FrameTail(stage_);
        if (QuitAsked()) return engine::ReplaceScreen(MakeClosingScreen(), true);
        // Finished exchanges with the board come in between frames; sending never waits here.
        scores::PollBoardSharing();
        return engine::Drew();
    }

    void Resume(int result) override {
        if (result == game::kGameEnded) BackFromGame();
        if (result == game::kReplayWatched) {
            FrontEnd.escapeLatch = true;
            FrontEnd.startLatch = true;
            FrontEnd.panelSlide = 0;
        }
    }

  private:
    // Draws the frame up to the start button; returns where the rest stands.
    static Stage FrameHead() {
        const int vw = engine::VirtualWidth;
        const int vh = engine::VirtualHeight;
        BeginFrontEndFrame();
        // Account texts stay safe for the score file.
        SanitiseAccount(scores::AccountName);
        SanitiseAccount(scores::AccountPassword);
        const Panel panel = SlideInPanel(vw, vh);
        DrawTabLabels(panel);
        ChooseTab(panel);
        // The high-score panel runs every frame, drawing only on its tab.
        DrawScorePanel(panel.x, panel.w, game::Difficulty, game::CurrentLevel,
                       game::CurrentGameFlags, FrontEnd.panelTab == 0 ? 1 : 0);
        DrawTabPage(panel);
        DrawSettingsHints();
        // Taken before a game starts: the rest of the frame keeps this frame's places.
        return Stage{(vw - panel.w) / 2, 800 - 25 * FrontEnd.panelSlide, vh};
    }

    // Draws the rest of the frame from the start button on and ends it.
    static void FrameTail(const Stage& stage) {
        StartButton(stage);
        ChooseDifficultyByMouse(stage);
        StepDifficultyWithControls();
        ReleaseClickLatch();
        DrawTitle(stage);
        engine::EndStep(1);
    }

    Stage stage_;
    bool midFrame_ = false;  // a game started in the middle of this frame
};

}  // namespace

std::unique_ptr<engine::Screen> MakeTitleScreen() {
    FrontEnd = FrontEndState{};
    return std::make_unique<TitleScreen>();
}

}  // namespace app

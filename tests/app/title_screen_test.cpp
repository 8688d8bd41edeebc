// Tests of the front end's latches on the recording driver and the scripted
// clock: when a game starts (and when not), what a held Escape or button does
// after a game, one step per press of a tab or difficulty key, and the
// blinking settings hint.
#include "app/title_screen.h"

#include "engine/frame_end.h"
#include "engine/game_state.h"
#include "engine/graphics_setup.h"
#include "engine/hooks.h"
#include "engine/settings_panel.h"
#include "game/game_assets.h"
#include "game/game_loop.h"
#include "tests/app/screen_fixture.h"
#include "tests/game/headless_game.h"

namespace {

using app::FrontEnd;

class TitleScreenTest : public zqtest::ScreenFixture {
  protected:
    void SetUp() override {
        ScreenFixture::SetUp();
        if (IsSkipped()) return;
        engine::IconsImage = Sheet(64);
        game_test::MakeBlankGameImages();
        game::SetNameEntryScreen(zqtest::CallScreens([this] { ++gamesEnded_; }));
        app::FillStoryLines();
        stack_.Push(app::MakeTitleScreen());
        game::Difficulty = 0;
        // Every game quits through its pause menu as soon as it has shown a frame.
        engine::Hooks().settingsPanel = [this] {
            if (engine::InGame != 1 || inGame_) return;
            inGame_ = true;
            ++gamesStarted_;
            zqtest::SendKey(XK_Escape, true);
            const int64_t t0 = clock_->NowMs();
            clock_->At(t0 + 50, [] { zqtest::SendKey(XK_Escape, false); });
            Press(t0 + 200, XK_Down);
            Press(t0 + 400, XK_space);
        };
    }
    void TearDown() override {
        game::SetNameEntryScreen(nullptr);
        stack_.Clear();
        game::ResetGameAssets();
        ScreenFixture::TearDown();
    }
    // Presses and releases a key a moment later, starting at `at`.
    void Press(int64_t at, KeySym sym) {
        clock_->At(at, [sym] { zqtest::SendKey(sym, true); });
        clock_->At(at + 60, [sym] { zqtest::SendKey(sym, false); });
    }
    // Steps the screens as the desktop does until the title screen has ended
    // a frame of its own (a game started in it runs to its end first); returns
    // true when that frame asked to quit (the closing screen took its place).
    bool Frame() {
        rec_->Clear();
        inGame_ = false;
        for (int step = 0; step < 100000; ++step) {
            const bool titleOnly = stack_.Depth() == 1;
            const engine::StepResult r = stack_.Step();
            if (r.drew) {
                engine::PresentFrame();
            } else if (r.idleMs > 0) {
                media::Delay(r.idleMs);
            }
            if (titleOnly && r.kind == engine::StepKind::Replace) return true;
            if (titleOnly && r.drew) return false;
        }
        ADD_FAILURE() << "the title screen never ended a frame";
        return false;
    }
    // Returns the last drawn record of a text (null when it was not drawn).
    const media::DrawRecord* Text(const std::string& text) const {
        const media::DrawRecord* found = nullptr;
        for (const auto& r : rec_->records) {
            if (r.kind == media::DrawKind::Text && r.text == text) found = &r;
        }
        return found;
    }
    // Slides the panel in and puts the pointer on the start button.
    void PointAtStart() {
        for (int i = 0; i < 32; ++i) Frame();
        const media::DrawRecord* start = Text("Click Here to Start");
        ASSERT_NE(start, nullptr);
        startX_ = static_cast<int>(start->x + start->w / 2);
        startY_ = static_cast<int>(start->y + start->h / 2);
        zqtest::SendMotion(startX_, startY_);
        Frame();
    }
    // Presses or releases mouse button 1 where the pointer is.
    void Button(bool press) { zqtest::SendButton(1, press, startX_, startY_); }

    engine::ScreenStack stack_;
    int startX_ = 0, startY_ = 0;
    bool inGame_ = false;
    int gamesStarted_ = 0;
    int gamesEnded_ = 0;
};

TEST_F(TitleScreenTest, AGameStartsTheFrameAfterThePressAndNeverWhileTheSettingsPanelIsOpen) {
    PointAtStart();
    engine::SettingsSlide = 0;  // the settings panel is open
    Button(true);
    for (int i = 0; i < 5; ++i) Frame();
    EXPECT_EQ(gamesStarted_, 0);
    Button(false);
    Frame();

    engine::SettingsSlide = -300;  // shut
    Button(true);
    Frame();  // the press is seen at the end of this frame
    EXPECT_EQ(gamesStarted_, 0);
    Frame();
    EXPECT_EQ(gamesStarted_, 1);
    EXPECT_EQ(gamesEnded_, 1);
    EXPECT_EQ(engine::InGame, 0);
    // The pause menu's Quit ended the game, and the title screen is alone on the stack again.
    EXPECT_EQ(game::EndCode, game::END_QUIT);
    EXPECT_EQ(stack_.Depth(), 1u);

    // The button is still held from the start: no second game until it is let go.
    for (int i = 0; i < 40; ++i) Frame();
    EXPECT_EQ(gamesStarted_, 1);
    Button(false);
    Frame();
    Button(true);
    for (int i = 0; i < 34; ++i) Frame();  // the panel slides in again first
    EXPECT_EQ(gamesStarted_, 2);
    Button(false);
}

TEST_F(TitleScreenTest, AnEscapeHeldFromTheGameDoesNotQuitAFreshOneDoesEvenWithSettingsOpen) {
    // The game hands back with Escape held (pressed as its name entry ended).
    game::SetNameEntryScreen(zqtest::CallScreens([this] {
        ++gamesEnded_;
        zqtest::SendKey(XK_Escape, true);
    }));
    PointAtStart();
    Button(true);
    Frame();
    EXPECT_FALSE(Frame());
    Button(false);
    ASSERT_EQ(gamesEnded_, 1);
    for (int i = 0; i < 5; ++i) EXPECT_FALSE(Frame());
    zqtest::SendKey(XK_Escape, false);
    EXPECT_FALSE(Frame());
    engine::SettingsSlide = 0;  // the settings panel is open
    zqtest::SendKey(XK_Escape, true);
    EXPECT_TRUE(Frame());
    zqtest::SendKey(XK_Escape, false);
}

TEST_F(TitleScreenTest, HeldKeysMoveOneStepPerPress) {
    // "3" held for many frames: the About tab, chosen once.
    zqtest::SendKey(XK_3, true);
    for (int i = 0; i < 10; ++i) Frame();
    EXPECT_EQ(FrontEnd.panelTab, 2);
    EXPECT_NE(Text("About"), nullptr);
    zqtest::SendKey(XK_3, false);

    // Up from Easy wraps to Hard, once however long it is held.
    zqtest::SendKey(XK_Up, true);
    for (int i = 0; i < 30; ++i) Frame();
    EXPECT_EQ(game::Difficulty, 2);
    zqtest::SendKey(XK_Up, false);
    Frame();
    zqtest::SendKey(XK_Up, true);
    Frame();
    EXPECT_EQ(game::Difficulty, 1);
    zqtest::SendKey(XK_Up, false);
    Frame();
    // Down from Hard wraps to Easy.
    game::Difficulty = 2;
    zqtest::SendKey(XK_Down, true);
    for (int i = 0; i < 30; ++i) Frame();
    EXPECT_EQ(game::Difficulty, 0);
    zqtest::SendKey(XK_Down, false);
}

TEST_F(TitleScreenTest, TheSettingsHintBlinksYellowOnlyWhileTheWidthIsStill800) {
    const struct {
        int width;
        bool yellowSeen;
    } cases[] = {{800, true}, {1024, false}};
    for (const auto& c : cases) {
        engine::Setup[engine::SETUP_WIDTH] = c.width;
        int yellow = 0, white = 0;
        for (int i = 0; i < 120; ++i) {  // about two seconds of frames
            Frame();
            const media::DrawRecord* hint = Text("Hit [Tab] for settings");
            ASSERT_NE(hint, nullptr);
            (hint->state.color_blue == 0 ? yellow : white) += 1;
        }
        EXPECT_EQ(yellow > 0, c.yellowSeen) << c.width;
        EXPECT_GT(white, 0) << c.width;
    }
}

TEST_F(TitleScreenTest, ANarrowScreenWidensThePanelAndEnlargesTheHints) {
    // Each font slot its own object, so the record tells which slot drew.
    for (auto& font : engine::FontGrid) {
        font = media::LoadImageFont("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 12);
        ASSERT_NE(font, nullptr);
    }
    const struct {
        int screenWidth;
        float panelWidth;
        int hintSize, smallHintSize;  // SetFont sizes of family 2
    } cases[] = {{899, 415, 4, 3}, {900, 335, 3, 2}};
    for (const auto& c : cases) {
        engine::ScreenWidth = c.screenWidth;
        Frame();
        float panelWidth = 0;  // the panel is the one half-transparent black rectangle
        for (const auto& r : rec_->OfKind(media::DrawKind::Rect)) {
            if (panelWidth == 0 && r.state.color_alpha == 0.5f && r.state.color_red == 0) {
                panelWidth = r.w;
            }
        }
        EXPECT_EQ(panelWidth, c.panelWidth) << c.screenWidth;
        const media::DrawRecord* hint = Text("Hit [Tab] for settings");
        const media::DrawRecord* small = Text("Audio Options");
        ASSERT_TRUE(hint && small);
        EXPECT_EQ(hint->state.image_font, engine::FontGrid[10 + c.hintSize]) << c.screenWidth;
        EXPECT_EQ(small->state.image_font, engine::FontGrid[10 + c.smallHintSize]) << c.screenWidth;
    }
}

}  // namespace

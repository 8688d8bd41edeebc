// The pause menu as a screen: wait for the Escape that opened it to be let
// go, then one frame of the menu per step until a choice, then wait for
// Escape again so that it cannot reach the game.
#include "engine/pause_menu.h"

#include <cstdint>

#include "engine/controls.h"
#include "engine/draw_helpers.h"
#include "engine/frame_end.h"
#include "engine/game_state.h"
#include "engine/graphics_setup.h"
#include "engine/identity.h"
#include "engine/media/clock.h"
#include "engine/media/graphics.h"
#include "engine/media/input.h"
#include "engine/media/random.h"
#include "engine/media/text.h"
#include "engine/media/trig.h"

namespace engine {

namespace {

// The scatter: seed, titles before and after the panel.
constexpr int64_t kScatterSeed = 37171650;
constexpr int kScatterFirst = 140;
constexpr int kScatterLast = 180;
// A latch's wait reads the keyboard about every millisecond.
constexpr int kReleasePollMs = 1;

// Draws one stretch of the scattered titles (the generator runs on).
void DrawScatter(double angle, int from, int to) {
    const std::string title = GameTitle();
    for (int w = from; w <= to; ++w) {
        SetAngle(angle + 2 * w);
        int blue = 50 * media::RandomInt(1, 5);
        int green = 50 * media::RandomInt(1, 5);
        int red = 50 * media::RandomInt(1, 5);
        int y = media::RandomInt(0, VirtualHeight);
        int x = media::RandomInt(0, VirtualWidth);
        SetColourAlpha(red, green, blue, 0.4);
        DrawTextAligned(x, y, title, 1, 1);
    }
}

// Returns true while any of players 1..4 holds the control.
bool AnyPlayerAction(int control) {
    for (int port = 1; port <= 4; ++port) {
        if (ActionDown(control, port)) return true;
    }
    return false;
}

bool EscapeHeld() {
    return media::KeyDown(media::KEY_ESCAPE) != 0;
}

class PauseMenu : public Screen {
  public:
    PauseMenu() : snapshot_(TakePauseSnapshot()), pausedAt_(media::Millisecs()) { InGame = 2; }

    StepResult Step() override {
        if (result_ == 0) {
            if (escape_.Blocks(EscapeHeld())) return Idle(kReleasePollMs);
            DrawMenuFrame();
            EndStep(1);
            if (EscapeHeld()) result_ = selection_ == 1 ? kPauseQuit : kPauseContinue;
            if (result_ != 0) escape_.Arm();
            return Drew();
        }
        if (!seeded_) {
            // Seeded once the last frame of the menu is shown.
            media::SeedRandom(media::Millisecs());
            seeded_ = true;
        }
        if (escape_.Blocks(EscapeHeld())) return Idle(kReleasePollMs);
        InGame = 1;
        const int paused = media::MillisecsBetween(pausedAt_, media::Millisecs());
        GameStartTime =
            static_cast<int>(static_cast<uint32_t>(GameStartTime) + static_cast<uint32_t>(paused));
        return PopScreen(result_, false);
    }

  private:
    // Draws one frame of the menu and takes the choice made in it.
    void DrawMenuFrame() {
        const double panelLeft = 0.1 * VirtualWidth;
        const double panelTop = 0.375 * VirtualHeight;
        BeginFrame(1);
        ResetDrawState();
        SetBlendKind(1);
        phase_ += 0.4;
        SetScaleXY(media::Sin(phase_) * 0.5 + 1.5, media::Sin(1.3 * phase_) * 0.5 + 1.5);
        angle_ += 0.1;
        SetAngle(angle_);
        media::SetImageFont(UIFonts[7]);
        media::DrawImage(snapshot_, static_cast<float>(VirtualWidth / 2),
                         static_cast<float>(VirtualHeight / 2), 0);

        media::SeedRandom(kScatterSeed);
        DrawScatter(angle_, 1, kScatterFirst);

        SetAngle(0);
        SetScaleXY(1);
        SetColourAlpha(0, 0, 0, 0.5);
        media::DrawRect(static_cast<float>(panelLeft), static_cast<float>(panelTop),
                        static_cast<float>(VirtualWidth / 6.0),
                        static_cast<float>(VirtualHeight / 4.0));

        bool up = AnyPlayerAction(0) || media::KeyDown(media::KEY_UP);
        bool down = AnyPlayerAction(8) || media::KeyDown(media::KEY_DOWN);
        bool select =
            AnyPlayerAction(10) || AnyPlayerAction(11) || media::KeyDown(media::KEY_SPACE);
        if (up && latch_ == 0) {
            --selection_;
            latch_ = 1;
        }
        if (down && latch_ == 0) {
            ++selection_;
            latch_ = 1;
        }
        if (!up && !down && !select) latch_ = 0;

        int y = static_cast<int>(panelTop);
        SetColourAlpha(255, 255, 255);
        media::SetImageFont(UIFonts[7]);
        if (selection_ < 0) selection_ = 1;
        static const char* const kEntries[2] = {"Continue", "Quit"};
        for (int entry = 0; entry < 2; ++entry) {
            y += 60;
            int indent = 0;
            if (selection_ == entry) {
                SetColourAlpha(255, 255, 0, 1);
                indent = 20;
            } else {
                SetColourAlpha(255, 255, 255, 1);
            }
            if (select && latch_ == 0 && selection_ == entry) {
                latch_ = 1;
                result_ = entry == 0 ? kPauseContinue : kPauseQuit;
            }
            DrawTextAligned(static_cast<int>(panelLeft + indent + 10), y, kEntries[entry], 0, 0);
        }
        if (selection_ > 1) selection_ = 0;

        SetScaleXY(media::Sin(phase_) * 0.5 + 1.5, media::Sin(1.3 * phase_) * 0.5 + 1.5);
        DrawScatter(angle_, kScatterFirst + 1, kScatterLast);
    }

    std::shared_ptr<media::TImage> snapshot_;
    int pausedAt_;
    Latch escape_{true};  // the Escape that opened the menu
    double angle_ = 0, phase_ = 0;
    int selection_ = 0, result_ = 0, latch_ = 1;
    bool seeded_ = false;
};

}  // namespace

std::unique_ptr<Screen> MakePauseMenu() {
    return std::make_unique<PauseMenu>();
}

}  // namespace engine

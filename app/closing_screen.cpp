// The closing screen and the orderly end of the program.
#include "app/closing_screen.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/name_entry.h"
#include "app/settings_file.h"
#include "engine/controls.h"
#include "engine/draw_helpers.h"
#include "engine/graphics_setup.h"
#include "engine/log.h"
#include "engine/media/clock.h"
#include "engine/media/graphics.h"
#include "engine/media/input.h"
#include "engine/media/key_codes.h"
#include "engine/media/terminate.h"
#include "engine/media/text.h"
#include "scores/score_file.h"
#include "share/board_share.h"

namespace app {

namespace {

// Milliseconds between input reads while waiting: short enough that a press
// is seen at once, long enough that the wait does not keep a core busy.
constexpr int kPollMs = 5;
constexpr int kReleasePasses = 120;
constexpr int kReleasePassMs = 16;

struct Line {
    int offset;
    int r, g, b;
    const char* text;
};

const Line kLines[] = {
    {40, 255, 255, 180, "Why not take the next few minutes to hop back to the site"},
    {80, 255, 255, 180, "where you found this game, and leave a comment."},
    {130, 255, 255, 180, "Good or bad, every little helps."},
    {180, 255, 210, 180, "There are so many wonderful homebrew communities"},
    {220, 255, 210, 180, "and developers out there, who bring you hundreds"},
    {260, 255, 210, 180, "of free games, every month."},
    {320, 255, 255, 180, "Give a little back."},
    {380, 180, 255, 255, "Feedback is King"},
};

void DrawClosingFrame() {
    const int vw = engine::VirtualWidth;
    const int vh = engine::VirtualHeight;
    media::Cls();
    engine::BeginFrame(1);
    engine::Backdrop();
    media::DrawImage(engine::LogoImage, 256, 256, 0);
    media::DrawImage(engine::SiteLogoImage, vw - 256, 256, 0);
    engine::SetFont(1, 6);
    engine::SetColourAlpha(180, 255, 255, 1);
    engine::DrawTextAligned(vw / 2, vh / 2, "Thanks for Playing", 1, 1);
    engine::SetFont(2, 5);
    for (const Line& line : kLines) {
        engine::SetColourAlpha(line.r, line.g, line.b);
        engine::DrawTextAligned(40, vh / 2 + line.offset, line.text);
    }
    // Shown at once and whatever the frame's parity: nothing else is drawn after it.
    media::Flip(-1);
}

}  // namespace

std::string SaveEverything() {
    scores::StorePendingRun();
    // A send in flight is cancelled at once; its run stays in the queue file.
    scores::StopBoardSharing();
    const bool settings = SaveSetup();
    const bool scoreFile = scores::SaveScores();
    if (settings && scoreFile) return "settings and scores saved";
    if (settings) return "settings saved, scores NOT saved";
    if (scoreFile) return "scores saved, settings NOT saved";
    return "settings and scores NOT saved";
}

bool ClosingInputHeld() {
    // One look at the window's events per poll, however many keys are asked.
    media::InputSnapshot snapshot;
    const bool alt = media::KeyDown(media::KEY_LALT) || media::KeyDown(media::KEY_RALT);
    return media::MouseDown(1) || media::MouseDown(2) || engine::ScanInput() != 0 ||
           (alt && media::KeyDown(media::KEY_F4)) || media::AppTerminate();
}

namespace {

// The closing screen: saves and logs on its first step, shows its one frame,
// lets go of whatever brought it here (about two seconds at most), then
// waits for a fresh press and pops with the exit status 0.
class ClosingScreen : public engine::Screen {
  public:
    engine::StepResult Step() override {
        switch (phase_) {
            case Phase::Start:
                if (!SaveAndLog()) return engine::PopScreen(0, false);
                DrawClosingFrame();
                phase_ = Phase::Release;
                return engine::Idle(0);
            case Phase::Release:
                if (media::TerminateRequested()) return engine::PopScreen(0, false);
                if (releasePasses_ < kReleasePasses && ClosingInputHeld()) {
                    ++releasePasses_;
                    return engine::Idle(kReleasePassMs);
                }
                phase_ = Phase::Press;
                [[fallthrough]];
            case Phase::Press:
                break;
        }
        if (!ClosingInputHeld() && !media::TerminateRequested()) return engine::Idle(kPollMs);
        return engine::PopScreen(0, false);
    }

  private:
    enum class Phase { Start, Release, Press };

    // Saves, writes the closing lines; returns false when a signal asked to end
    // (nobody waits at the screen for a thank-you then).
    static bool SaveAndLog() {
        media::ShowMouse();
        SaveEverything();
        const int signal = media::TerminateRequested();
        if (signal != 0) engine::WriteLog("\tEnded by signal " + media::Str(signal));
        engine::WriteLog("Closing Up");
        engine::WriteLog("");
        engine::WriteLog("Bye!");
        engine::WriteLog("");
        engine::WriteLog("Play again, soon!!");
        return signal == 0;
    }

    Phase phase_ = Phase::Start;
    int releasePasses_ = 0;
};

}  // namespace

std::unique_ptr<engine::Screen> MakeClosingScreen() {
    return std::make_unique<ClosingScreen>();
}

void LeaveAfterLostDisplay() {
    const std::string saved = SaveEverything();
    engine::WriteLog("");
    engine::WriteLog("Lost the connection to the X server: " + saved);
    engine::CloseLog();
    const char* display = std::getenv("DISPLAY");
    std::fprintf(stderr, "zarquill: lost the connection to X display \"%s\"; %s\n",
                 display ? display : "", saved.c_str());
    std::fflush(stderr);
    std::_Exit(1);
}

void FinishProgram() {
    media::CloseGraphics();
    engine::CloseLog();
}

}  // namespace app

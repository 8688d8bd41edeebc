// The engine test, a screen of its own, and the sprite budgets it sets.
#include "engine/sprite_budgets.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

#include "engine/draw_helpers.h"
#include "engine/frame_end.h"
#include "engine/graphics_setup.h"
#include "engine/log.h"
#include "engine/media/graphics.h"
#include "engine/media/random.h"
#include "engine/media/text.h"
#include "engine/setup_table.h"

namespace engine {

namespace {

constexpr int kLoadStep = 500;
constexpr int kLogoFrames = 15000;
constexpr int kMaxLoad = 20000;
constexpr int kFramesPerLoad = 8;
// Floors of the budgets; an image budget below its floor means a slow system.
constexpr int kImageFloor = 1000;
constexpr int kGlowFloor = 500;
constexpr int kParticleFloor = 250;
constexpr int kSlowRate = 30;

}  // namespace

int TargetRate = 60;
int BestLoad = 0;

namespace {

// Returns a number as log text: whole numbers without a fraction.
std::string NumberText(double v) {
    if (v == std::trunc(v) && std::fabs(v) < 1e15) return media::Str(static_cast<int64_t>(v));
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

// Draws the backdrop and the two logos, at x factor t of the screen (animation) or fixed.
void DrawTestBackground(double logoX, double logoY, double siteX, double siteY) {
    BeginFrame(1);
    ResetDrawState();
    Backdrop();
    SetScaleXY(1.5);
    media::DrawImage(LogoImage, static_cast<float>(logoX), static_cast<float>(logoY), 0);
    media::DrawImage(SiteLogoImage, static_cast<float>(siteX), static_cast<float>(siteY), 0);
    SetScaleXY(1);
}

}  // namespace

namespace {

// The engine test, one frame per step: the logos slide in, then ever more
// sprites until the frame rate falls below the aim.
class EngineTestScreen : public Screen {
  public:
    EngineTestScreen(int aim, double spriteScale, std::function<void()> done)
        : aim_(aim), spriteScale_(spriteScale), done_(std::move(done)) {
        OverlayOn = 0;
        if (Setup[SETUP_ESS] == 1) aim_ = kSlowRate;
        TargetRate = aim_;
        DrawBudgets[KIND_IMAGE] = 500;
        DrawBudgets[KIND_GLOW] = 500;
        DrawBudgets[KIND_PARTICLE] = 250;
        BestLoad = 0;
        WriteLog("Starting Engine Test");
        WriteLog("Aiming for " + media::Str(aim_) + "," + NumberText(spriteScale));
    }

    StepResult Step() override {
        const double vw = VirtualWidth, vh = VirtualHeight;
        if (logoLoad_ <= kLogoFrames) {
            double t = ClampReal(logoLoad_ / 500.0 / 15.0 - 1.0, -1.0, 1.0);
            DrawTestBackground(vw * 0.3 * t, vh * 0.3, vw - vw * 0.3 * t, vh - vh * 0.3);
            EndStep(0);
            logoLoad_ += kLoadStep;
            return Drew();
        }
        if (frame_ == kFramesPerLoad) {
            // The rate the last frame of this load was presented at decides.
            const int f = CurrentFps;
            if (f >= aim_ - 2 && load_ > kLoadStep) BestLoad = load_;
            if (f <= aim_ - 2 && load_ > kLoadStep) load_ = kMaxLoad;
            load_ += kLoadStep;
            frame_ = 0;
        }
        if (load_ > kMaxLoad) {
            Finish();
            return PopScreen(0, false);
        }
        DrawTestBackground(vw * 0.3, vh * 0.3, vw * 0.7, vh * 0.7);
        for (int s = 0; s <= load_; ++s) {
            SetAngle(media::RandomInt(360, 1));
            SetColourAlpha(0, 0, 0, 0);
            SetScaleXY(spriteScale_);
            int y = media::RandomInt(VirtualHeight, 1);
            int x = media::RandomInt(VirtualWidth, 1);
            media::DrawImage(IconsSharpImage, static_cast<float>(x), static_cast<float>(y), 0);
        }
        EndStep(0);
        ++frame_;
        return Drew();
    }

  private:
    // Sets the budgets from the best load and logs them.
    void Finish() {
        WriteLog("Test Complete");
        DrawBudgets[KIND_IMAGE] = static_cast<int>(BestLoad * 0.4);
        DrawBudgets[KIND_GLOW] = static_cast<int>(BestLoad * 0.4);
        DrawBudgets[KIND_PARTICLE] = static_cast<int>(BestLoad * 0.2);
        WriteLog("");
        WriteLog("Engine Test Results");
        WriteLog("");
        WriteLog("\tMaximum Sprites Allowed for " + media::Str(aim_) + " Frames Per Second");
        WriteLog("\tMain sprites : " + media::Str(DrawBudgets[KIND_IMAGE]));
        WriteLog("\tGlowy Sprites : " + media::Str(DrawBudgets[KIND_GLOW]));
        WriteLog("\tParticles : " + media::Str(DrawBudgets[KIND_PARTICLE]));
        WriteLog("");

        if (DrawBudgets[KIND_IMAGE] < kImageFloor) {
            DrawBudgets[KIND_IMAGE] = kImageFloor;
            TargetRate = kSlowRate;
            Setup[SETUP_ESS] = 1;
        }
        if (DrawBudgets[KIND_GLOW] < kGlowFloor) DrawBudgets[KIND_GLOW] = kGlowFloor;
        if (DrawBudgets[KIND_PARTICLE] < kParticleFloor) {
            DrawBudgets[KIND_PARTICLE] = kParticleFloor;
        }

        if (TargetRate == kSlowRate)
            WriteLog("Settings Overwritten, Set to Default Lower Limits at 30fps.");
        WriteLog("");
        OverlayOn = 0;
        if (done_) done_();
    }

    int aim_;
    double spriteScale_;
    std::function<void()> done_;
    int logoLoad_ = kLoadStep;  // the logo phase's counter, 500..15000
    int load_ = kLoadStep;      // sprites drawn per frame in the load phase
    int frame_ = 0;             // frames drawn at this load
};

}  // namespace

std::unique_ptr<Screen> MakeEngineTest(int aim, double spriteScale, std::function<void()> done) {
    return std::make_unique<EngineTestScreen>(aim, spriteScale, std::move(done));
}

void ResetEngineTest() {
    TargetRate = 60;
    BestLoad = 0;
}

}  // namespace engine

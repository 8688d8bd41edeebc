// The engine test and the sprite budgets it sets.
#include "engine/sprite_budgets.h"

#include <cmath>
#include <cstdio>
#include <string>

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

void EngineTest(int aim, double spriteScale) {
    OverlayOn = 0;
    if (Setup[SETUP_ESS] == 1) aim = kSlowRate;
    TargetRate = aim;
    DrawBudgets[KIND_IMAGE] = 500;
    DrawBudgets[KIND_GLOW] = 500;
    DrawBudgets[KIND_PARTICLE] = 250;
    BestLoad = 0;
    WriteLog("Starting Engine Test");
    WriteLog("Aiming for " + media::Str(aim) + "," + NumberText(spriteScale));

    const double vw = VirtualWidth, vh = VirtualHeight;
    for (int n = kLoadStep; n <= kLogoFrames; n += kLoadStep) {
        double t = ClampReal(n / 500.0 / 15.0 - 1.0, -1.0, 1.0);
        DrawTestBackground(vw * 0.3 * t, vh * 0.3, vw - vw * 0.3 * t, vh - vh * 0.3);
        FrameEnd(60, 0, 0);
    }

    for (int n = kLoadStep; n <= kMaxLoad; n += kLoadStep) {
        for (int frame = 0; frame < kFramesPerLoad; ++frame) {
            DrawTestBackground(vw * 0.3, vh * 0.3, vw * 0.7, vh * 0.7);
            for (int s = 0; s <= n; ++s) {
                SetAngle(media::RandomInt(360, 1));
                SetColourAlpha(0, 0, 0, 0);
                SetScaleXY(spriteScale);
                int y = media::RandomInt(VirtualHeight, 1);
                int x = media::RandomInt(VirtualWidth, 1);
                media::DrawImage(IconsSharpImage, static_cast<float>(x), static_cast<float>(y), 0);
            }
            FrameEnd(250, 0, 0);
        }
        int f = CurrentFps;
        if (f >= aim - 2 && n > kLoadStep) BestLoad = n;
        if (f <= aim - 2 && n > kLoadStep) n = kMaxLoad;
    }

    WriteLog("Test Complete");
    DrawBudgets[KIND_IMAGE] = static_cast<int>(BestLoad * 0.4);
    DrawBudgets[KIND_GLOW] = static_cast<int>(BestLoad * 0.4);
    DrawBudgets[KIND_PARTICLE] = static_cast<int>(BestLoad * 0.2);
    WriteLog("");
    WriteLog("Engine Test Results");
    WriteLog("");
    WriteLog("\tMaximum Sprites Allowed for " + media::Str(aim) + " Frames Per Second");
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
    if (DrawBudgets[KIND_PARTICLE] < kParticleFloor) DrawBudgets[KIND_PARTICLE] = kParticleFloor;

    if (TargetRate == kSlowRate)
        WriteLog("Settings Overwritten, Set to Default Lower Limits at 30fps.");
    WriteLog("");
    OverlayOn = 0;
}

void ResetEngineTest() {
    TargetRate = 60;
    BestLoad = 0;
}

}  // namespace engine

// Drawing helpers: thin wrappers over the media layer's draw state and
// drawing calls, the two budgeted sprite routines and the backdrop.
#include "engine/draw_helpers.h"

#include <cmath>

#include "engine/frame_end.h"
#include "engine/graphics_setup.h"
#include "engine/setup_table.h"

namespace engine {

namespace {

// Budgets before the engine test has measured anything.
constexpr int kDefaultImageBudget = 500;
constexpr int kDefaultGlowBudget = 500;
constexpr int kDefaultParticleBudget = 250;
// The backdrop's start colour: a deep blue with a touch of red.
constexpr std::array<double, 3> kBackdropStart = {0.2, 0.0, 1.0};
// The gap below which the backdrop snaps onto its target.
constexpr double kBackdropSnap = 0.005;

}  // namespace

std::array<int, kDrawKinds> DrawnCounts{};
std::array<int, kDrawKinds> DrawBudgets{0, kDefaultImageBudget, kDefaultGlowBudget,
                                        kDefaultParticleBudget};
int BlendKind = 1;
std::array<double, 3> BackdropColour = kBackdropStart;
std::array<double, 3> BackdropTarget = kBackdropStart;
bool DrawingOff = false;

namespace {

// Returns true on a frame a slow system computes but never shows.
bool SkipThisFrame() {
    int ess = SlowSystem();
    if (ess == 0) return false;
    return !(ess == 1 && FrameParity == 0);
}

// Returns a colour component clamped to 0..255 and truncated (not-a-number reads 0).
int ColourByte(double v) {
    if (std::isnan(v)) return 0;
    return static_cast<int>(ClampReal(v, 0.0, 255.0));
}

// Returns true when kind names an entry of the counters.
bool ValidKind(int kind) {
    return kind >= 1 && kind < kDrawKinds;
}

// Draws a frame so that its top-left lands on x,y under scale sx,sy.
void DrawAtTopLeft(const std::shared_ptr<media::TImage>& image, double x, double y, int frame,
                   float sx, float sy) {
    media::DrawImage(image, static_cast<float>(x + media::ImageWidth(image) * sx / 2.0),
                     static_cast<float>(y + media::ImageHeight(image) * sy / 2.0), frame);
}

}  // namespace

void BeginFrame(int clear) {
    if (clear == 1 && !DrawingOff) media::Cls();
    DrawnCounts.fill(0);
}

void ResetDrawState() {
    if (DrawingOff) {
        BlendKind = 1;
        return;
    }
    media::SetRotation(0);
    media::SetScale(1, 1);
    media::SetColor(255, 255, 255);
    media::SetAlpha(1);
    SetBlendKind(1);
}

void SetColourAlpha(double r, double g, double b, double alpha) {
    if (DrawingOff) return;
    media::SetColor(ColourByte(r), ColourByte(g), ColourByte(b));
    if (alpha != KEEP_ALPHA) {
        media::SetAlpha(std::isnan(alpha) ? 0.0f : static_cast<float>(ClampReal(alpha, 0.0, 1.0)));
    }
}

void SetScaleXY(double sx, double sy) {
    if (DrawingOff) return;
    if (sy == SAME_AS_X) sy = sx;
    media::SetScale(static_cast<float>(sx), static_cast<float>(sy));
}

void SetAngle(double degrees) {
    if (DrawingOff) return;
    media::SetRotation(static_cast<float>(degrees));
}

void SetBlendKind(int kind) {
    BlendKind = kind;
    if (DrawingOff) return;
    switch (kind) {
        case 0:
            media::SetBlend(media::SOLIDBLEND);
            break;
        case 1:
            media::SetBlend(media::ALPHABLEND);
            break;
        case 2:
            media::SetBlend(media::SHADEBLEND);
            break;
        case 3:
            media::SetBlend(media::LIGHTBLEND);
            break;
        default:
            break;
    }
}

void SetFont(int family, int size) {
    if (DrawingOff) return;
    if (family < 1 || family > 3) family = 1;
    if (size < 0 || size > 8) size = 0;
    media::SetImageFont(FontGrid[(family - 1) * 10 + size]);
}

int ClampInt(int v, int lo, int hi) {
    if (v > hi) v = hi;
    if (v < lo) v = lo;
    return v;
}

double ClampReal(double v, double lo, double hi) {
    if (v > hi) v = hi;
    if (v < lo) v = lo;
    return v;
}

int MouseInRect(double x, double y, double w, double h) {
    return (x < PointerX && PointerX < x + w && y < PointerY && PointerY < y + h) ? 1 : 0;
}

int MouseWasInRect(double x, double y, double w, double h) {
    return (x < PrevPointerX && PrevPointerX < x + w && y < PrevPointerY && PrevPointerY < y + h)
               ? 1
               : 0;
}

void DrawTextAligned(int x, int y, const std::string& text, int alignX, int alignY) {
    if (DrawingOff) return;
    if (alignX == 1) x -= media::TextWidth(text) / 2;
    if (alignX == 2) x -= media::TextWidth(text);
    if (alignY == 1) y -= media::TextHeight() / 2;
    if (alignY == 2) y -= media::TextHeight();
    media::DrawText(text, static_cast<float>(x), static_cast<float>(y));
}

void DrawSprite(const std::shared_ptr<media::TImage>& image, double x, double y, int frame,
                int kind) {
    if (DrawingOff || SkipThisFrame()) return;
    if (!ValidKind(kind) || DrawnCounts[kind] >= DrawBudgets[kind]) return;
    ++DrawnCounts[kind];
    float sx = 1, sy = 1;
    media::GetScale(sx, sy);
    DrawAtTopLeft(image, x, y, frame, sx, sy);
}

void DrawGlowSprite(const std::shared_ptr<media::TImage>& image, double x, double y, int frame,
                    const std::shared_ptr<media::TImage>& glowImage, double glowScale,
                    double glowAlpha) {
    if (DrawingOff || SkipThisFrame()) return;
    float sx = 1, sy = 1;
    media::GetScale(sx, sy);
    float a0 = media::GetAlpha();
    int b0 = media::GetBlend();

    if (DrawnCounts[KIND_IMAGE] < DrawBudgets[KIND_IMAGE]) {
        ++DrawnCounts[KIND_IMAGE];
        DrawAtTopLeft(image, x, y, frame, sx, sy);
    }
    media::SetScale(static_cast<float>(glowScale * sx), static_cast<float>(glowScale * sy));
    media::SetAlpha(static_cast<float>(a0 * glowAlpha));
    SetBlendKind(3);
    if (DrawnCounts[KIND_GLOW] < DrawBudgets[KIND_GLOW]) {
        ++DrawnCounts[KIND_GLOW];
        // The offsets use the base image and scale so the glow centres on the sprite.
        media::DrawImage(glowImage ? glowImage : image,
                         static_cast<float>(x + media::ImageWidth(image) * sx / 2.0),
                         static_cast<float>(y + media::ImageHeight(image) * sy / 2.0), frame);
    }
    media::SetScale(sx, sy);
    media::SetAlpha(a0);
    media::SetBlend(b0);
}

void Backdrop() {
    ResetDrawState();
    for (int i = 0; i < 3; ++i) {
        BackdropColour[i] -= (BackdropColour[i] - BackdropTarget[i]) / 16.0;
        if (std::fabs(BackdropColour[i] - BackdropTarget[i]) < kBackdropSnap) {
            BackdropColour[i] = BackdropTarget[i];
        }
    }
    if (DrawingOff) return;
    int k = 25;
    SetAngle(-45);
    for (int y = 0; y <= VirtualHeight; y += 10) {
        ++k;
        SetColourAlpha(k * BackdropColour[0], k * BackdropColour[1], k * BackdropColour[2],
                       KEEP_ALPHA);
        media::DrawRect(-100.0f, static_cast<float>(3 * y), static_cast<float>(VirtualWidth + 1800),
                        30.0f);
    }
    ResetDrawState();
}

void ResetDrawHelpers() {
    DrawnCounts.fill(0);
    DrawBudgets.fill(0);
    DrawBudgets[KIND_IMAGE] = kDefaultImageBudget;
    DrawBudgets[KIND_GLOW] = kDefaultGlowBudget;
    DrawBudgets[KIND_PARTICLE] = kDefaultParticleBudget;
    BlendKind = 1;
    BackdropColour = kBackdropStart;
    BackdropTarget = kBackdropStart;
    DrawingOff = false;
}

}  // namespace engine

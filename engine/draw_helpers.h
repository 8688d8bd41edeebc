// Drawing helpers every screen uses: frame start, draw-state reset, colour
// with clamping, scale and rotation shorthands, the blend selector by kind,
// aligned text, the font selector, pointer-in-rectangle tests, clamps, the
// animated backdrop and the two budgeted sprite routines.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "engine/media/graphics.h"

namespace engine {

// Marker for "keep the current alpha" (the alpha argument of SetColourAlpha).
inline constexpr double KEEP_ALPHA = 37171648.0;
// Marker for "y scale equals x scale" (the sy argument of SetScaleXY).
inline constexpr double SAME_AS_X = -37171648.0;

// Sprite kinds counted against the budgets.
inline constexpr int KIND_IMAGE = 1;
inline constexpr int KIND_GLOW = 2;
inline constexpr int KIND_PARTICLE = 3;
// Entries of DrawnCounts and DrawBudgets (index 0 unused, kinds 1..10).
inline constexpr int kDrawKinds = 11;

// Sprites drawn so far in this frame per kind (1 images, 2 glow, 3 particles).
extern std::array<int, kDrawKinds> DrawnCounts;
// The most sprites of each kind drawn per frame (set by the engine test).
extern std::array<int, kDrawKinds> DrawBudgets;
// The last kind given to SetBlendKind.
extern int BlendKind;
// The backdrop's current red, green and blue multipliers.
extern std::array<double, 3> BackdropColour;
// The colour the backdrop eases toward.
extern std::array<double, 3> BackdropTarget;
// When true the helpers keep their own bookkeeping (blend kind, frame counts,
// backdrop colour) but draw nothing and leave the media layer's draw state
// alone, and the game skips its drawing: set by the headless re-simulation.
extern bool DrawingOff;

// Starts a frame: clears the screen when clear is 1, then zeroes DrawnCounts.
void BeginFrame(int clear);
// Resets rotation, scale, colour, alpha and blend (kind 1) to their defaults.
void ResetDrawState();
// Sets the colour from reals clamped to 0..255; sets alpha (clamped) unless it is KEEP_ALPHA.
void SetColourAlpha(double r, double g, double b, double alpha = KEEP_ALPHA);
// Sets the scale; sy equal to SAME_AS_X takes sx.
void SetScaleXY(double sx, double sy = SAME_AS_X);
// Sets the rotation in degrees.
void SetAngle(double degrees);
// Selects the blend by kind: 0 solid, 1 alpha, 2 shade, 3 light; others only store the kind.
void SetBlendKind(int kind);
// Selects font family 1..3 at size 0..8 from FontGrid (out-of-range values become 1 and 0).
void SetFont(int family, int size);
// Returns v limited to hi, then raised to lo.
int ClampInt(int v, int lo, int hi);
// Returns v limited to hi, then raised to lo.
double ClampReal(double v, double lo, double hi);
// Returns 1 when this frame's pointer is strictly inside the rectangle, else 0.
int MouseInRect(double x, double y, double w, double h);
// Returns 1 when the previous frame's pointer was strictly inside the rectangle, else 0.
int MouseWasInRect(double x, double y, double w, double h);
// Draws text aligned on x,y: align 1 centres, 2 subtracts the whole width/height, others leave it.
void DrawTextAligned(int x, int y, const std::string& text, int alignX = 0, int alignY = 0);
// Draws a frame with its scaled top-left at x,y, counted against the kind's budget.
// Note: draws nothing on skipped frames of a slow system or when the budget is used up.
void DrawSprite(const std::shared_ptr<media::TImage>& image, double x, double y, int frame,
                int kind);
// Draws a sprite (image budget) and an additive glow over it (glow budget).
// Note: a null glowImage glows with the image itself; scale, alpha and blend mode are restored.
void DrawGlowSprite(const std::shared_ptr<media::TImage>& image, double x, double y, int frame,
                    const std::shared_ptr<media::TImage>& glowImage, double glowScale,
                    double glowAlpha);
// Draws the slowly re-colouring banded background, easing the colour toward its target.
void Backdrop();
// Resets the helpers' state: counts zero, budgets 500/500/250, blend kind 1,
// backdrop colour and target (0.2, 0, 1.0), drawing on.
void ResetDrawHelpers();

}  // namespace engine

// The browser's input (input.js holds the page's half): events the page queued
// are taken in order whenever the program asks about input, and turned into the
// input state the desktop's X events feed: keys, typed characters, buttons and
// the pointer in the window's pixels. Pointer lock and relative touches move the
// pointer by fractions of the canvas, kept here with their remainders so that a
// slow finger or mouse still moves it.
#include "engine/media/browser/input.h"

#include <algorithm>
#include <cmath>

#include "engine/media/graphics.h"
#include "engine/media/platform_seam.h"

extern "C" {
// The script side (input.js); see there.
int zqin_install();
int zqin_take(double* out, int most);
void zqin_lock_wanted(int wanted);
int zqin_locked();
int zqin_lock_lost();
void zqin_touch_relative(int relative);
void zqin_text_wanted(int wanted);
void zqin_canvas_size(int* size);
}

namespace media {

namespace {

// The page's event kinds (input.js).
constexpr int kKey = 1;
constexpr int kChar = 2;
constexpr int kButton = 3;
constexpr int kAt = 4;
constexpr int kMove = 5;
constexpr int kRelease = 6;
// Events taken from the page per call; a pump takes them all.
constexpr int kBatch = 64;

// The pointer as relative moves left it, with the part of a pixel they carried.
struct BrowserInput {
    bool installed = false;
    double x = 0;
    double y = 0;
};

BrowserInput g_browser;

// Returns the window's size in pixels: the size the program opened, or the canvas's.
void WindowSize(int& width, int& height) {
    if (GraphicsOpen() && DrawState().g_width > 0 && DrawState().g_height > 0) {
        width = DrawState().g_width;
        height = DrawState().g_height;
        return;
    }
    int size[2] = {0, 0};
    zqin_canvas_size(size);
    width = std::max(1, size[0]);
    height = std::max(1, size[1]);
}

// Returns v kept inside 0..most - 1.
double Inside(double v, int most) {
    return std::clamp(v, 0.0, static_cast<double>(most - 1));
}

// Places the pointer at fractions of the window (fx, fy in 0..1).
void PointerAt(double fx, double fy) {
    int w = 0, h = 0;
    WindowSize(w, h);
    g_browser.x = Inside(std::floor(fx * w), w);
    g_browser.y = Inside(std::floor(fy * h), h);
    detail::SetPointerWindowPosition(static_cast<int>(g_browser.x), static_cast<int>(g_browser.y));
}

// Moves the pointer by fractions of the window, from where the program last saw it.
void PointerBy(double dfx, double dfy) {
    int w = 0, h = 0;
    WindowSize(w, h);
    // The program may have put the pointer elsewhere (MoveVirtualMouse): start from there.
    if (static_cast<int>(g_browser.x) != detail::PointerWindowX()) {
        g_browser.x = detail::PointerWindowX();
    }
    if (static_cast<int>(g_browser.y) != detail::PointerWindowY()) {
        g_browser.y = detail::PointerWindowY();
    }
    g_browser.x = Inside(g_browser.x + dfx * w, w);
    g_browser.y = Inside(g_browser.y + dfy * h, h);
    detail::SetPointerWindowPosition(static_cast<int>(g_browser.x), static_cast<int>(g_browser.y));
}

// Applies one of the page's events to the input state.
void Apply(const double* e) {
    const int kind = static_cast<int>(e[0]);
    switch (kind) {
        case kKey:
            detail::InputKey(static_cast<int>(e[1]), e[2] != 0, e[3] != 0);
            break;
        case kChar:
            detail::InputTypedChar(static_cast<int>(e[1]));
            break;
        case kButton:
            detail::InputButton(static_cast<int>(e[1]), e[2] != 0);
            break;
        case kAt:
            PointerAt(e[1], e[2]);
            break;
        case kMove:
            PointerBy(e[1], e[2]);
            break;
        case kRelease:
            detail::InputReleaseAll();
            break;
        default:
            break;
    }
}

// Takes every event the page queued, in order (the input queries' pump).
void PumpBrowserEvents() {
    double events[kBatch * 4];
    int taken = 0;
    do {
        taken = zqin_take(events, kBatch);
        for (int i = 0; i < taken; ++i) Apply(events + 4 * i);
    } while (taken == kBatch);
}

}  // namespace

bool InstallBrowserInput() {
    if (g_browser.installed) return true;
    if (!zqin_install()) return false;
    g_browser.installed = true;
    detail::Platform().pumpEvents = PumpBrowserEvents;
    return true;
}

void SetPointerLockWanted(bool wanted) {
    zqin_lock_wanted(wanted ? 1 : 0);
}

bool PointerLocked() {
    return zqin_locked() != 0;
}

bool PointerLockLost() {
    return zqin_lock_lost() != 0;
}

void SetTouchRelative(bool relative) {
    zqin_touch_relative(relative ? 1 : 0);
}

void ShowOnScreenKeyboard(bool show) {
    zqin_text_wanted(show ? 1 : 0);
}

}  // namespace media

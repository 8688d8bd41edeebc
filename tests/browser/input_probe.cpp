// The program the browser test of the input runs (input_page.py): it opens the
// game's logical screen on the page's canvas, installs the browser's input and
// lets the page ask what the input queries answer (probe_query, probe_axis,
// probe_text) and set what the game sets while it runs (probe_set).
#include <emscripten.h>

#include <cstdio>
#include <string>

#include "engine/media/browser/browser.h"
#include "engine/media/browser/input.h"
#include "engine/media/graphics.h"
#include "engine/media/input.h"
#include "engine/media/joystick.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 960;

}  // namespace

// Returns one answer of the input queries: 0 MouseX, 1 MouseY, 2 MouseDown(arg),
// 3 MouseHit(arg), 4 KeyDown(arg), 5 KeyHit(arg), 6 GetChar, 7 PointerLocked,
// 8 JoyCount, 9 JoyButtonMask(arg), 10 JoyDown(arg % 100, arg / 100), 11 FlushKeys,
// 12 PointerLockLost.
extern "C" EMSCRIPTEN_KEEPALIVE int probe_query(int what, int arg) {
    switch (what) {
        case 0:
            return media::MouseX();
        case 1:
            return media::MouseY();
        case 2:
            return media::MouseDown(arg);
        case 3:
            return media::MouseHit(arg);
        case 4:
            return media::KeyDown(arg);
        case 5:
            return media::KeyHit(arg);
        case 6:
            return media::GetChar();
        case 7:
            return media::PointerLocked() ? 1 : 0;
        case 8:
            return media::JoyCount();
        case 9:
            return media::JoyButtonMask(arg);
        case 10:
            return media::JoyDown(arg % 100, arg / 100);
        case 11:
            media::FlushKeys();
            return 0;
        case 12:
            return media::PointerLockLost() ? 1 : 0;
        default:
            return -1;
    }
}

// Returns JoyAxis(port, axis).
extern "C" EMSCRIPTEN_KEEPALIVE double probe_axis(int port, int axis) {
    return media::JoyAxis(port, axis);
}

// Returns 0 JoyName(arg) or 1 GamepadNote().
extern "C" EMSCRIPTEN_KEEPALIVE const char* probe_text(int what, int arg) {
    static std::string text;
    text = what == 0 ? media::JoyName(arg) : media::GamepadNote();
    return text.c_str();
}

// Sets 0 the pointer lock wanted, 1 relative touches, 2 the on-screen keyboard,
// 3 the pointer's place (x * 10000 + y), as the game sets them.
extern "C" EMSCRIPTEN_KEEPALIVE void probe_set(int what, int value) {
    switch (what) {
        case 0:
            media::SetPointerLockWanted(value != 0);
            break;
        case 1:
            media::SetTouchRelative(value != 0);
            break;
        case 2:
            media::ShowOnScreenKeyboard(value != 0);
            break;
        case 3:
            media::MoveVirtualMouse(static_cast<float>(value / 10000),
                                    static_cast<float>(value % 10000));
            break;
        default:
            break;
    }
}

int main() {
    media::InstallBrowserMedia();
    const bool opened = media::OpenGraphics(kWidth, kHeight) != nullptr;
    const bool listening = media::InstallBrowserInput();
    std::printf("graphics=%d input=%d\n", opened ? 1 : 0, listening ? 1 : 0);
    std::printf("done\n");
    return 0;
}

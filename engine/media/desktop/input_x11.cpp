// Translation of the window's X events into the input state: key codes and
// typed characters, mouse buttons, pointer motion and the focus policy.
#include "engine/media/desktop/x11_bridge.h"
// After the bridge: Xutil needs Xlib first.
#include <X11/Xutil.h>

#include "engine/media/desktop/x11_keymap.h"
#include "engine/media/key_codes.h"

namespace media::detail {

namespace {

// Returns the program's button number for an X button, or 0 for the wheel
// (4..7) and any further buttons, which are not buttons to the program.
int ProgramButton(unsigned int x_button) {
    switch (x_button) {
        case Button1:
            return MOUSE_LEFT;
        case Button2:
            return MOUSE_MIDDLE;
        case Button3:
            return MOUSE_RIGHT;
        default:
            return 0;
    }
}

// Returns the program's key code of a key event, or 0.
int KeyCodeOf(const XKeyEvent& key) {
    XKeyEvent copy = key;
    int code = KeyCodeFromKeySym(XLookupKeysym(&copy, 0));
    if (!code) code = KeyCodeFromKeyPosition(key.keycode);
    return code;
}

// Returns the code point a key press types, or 0.
int TypedCharOf(const XKeyEvent& key) {
    XKeyEvent copy = key;
    char text[8] = {};
    KeySym sym = NoSymbol;
    int length = XLookupString(&copy, text, sizeof text, &sym, nullptr);
    return TypedCharFromKey(sym, text, length);
}

void HandleKey(const XKeyEvent& key, bool pressed, bool repeat) {
    // Key symbols are looked up on the event's connection; an event without
    // one cannot be translated.
    if (!key.display) return;
    InputKey(KeyCodeOf(key), pressed, repeat);
    if (pressed) InputTypedChar(TypedCharOf(key));
}

void HandleButton(const XButtonEvent& button, bool pressed) {
    SetPointerWindowPosition(button.x, button.y);
    InputButton(ProgramButton(button.button), pressed);
}

}  // namespace

void InputHandleXEvent(const XEvent& event, bool repeat) {
    switch (event.type) {
        case KeyPress:
            HandleKey(event.xkey, true, repeat);
            break;
        case KeyRelease:
            HandleKey(event.xkey, false, false);
            break;
        case ButtonPress:
            HandleButton(event.xbutton, true);
            break;
        case ButtonRelease:
            HandleButton(event.xbutton, false);
            break;
        case MotionNotify:
            SetPointerWindowPosition(event.xmotion.x, event.xmotion.y);
            break;
        case EnterNotify:
        case LeaveNotify:
            SetPointerWindowPosition(event.xcrossing.x, event.xcrossing.y);
            break;
        case FocusIn:
        case FocusOut:
            if (FocusPolicy(event.xfocus).release_input) InputReleaseAll();
            break;
        default:
            break;
    }
}

FocusEffect FocusPolicy(const XFocusChangeEvent& focus) {
    FocusEffect effect;
    // Focus moving into a child of the window, or back from one, keeps the
    // keyboard with us.
    if (focus.detail == NotifyInferior) return effect;
    // Focus that really moved (not one announced by a grab starting or
    // ending) decides the full-screen grabs; reacting to grab announcements
    // would answer every grab with another.
    const bool moved = focus.mode == NotifyNormal || focus.mode == NotifyWhileGrabbed;
    if (focus.type == FocusOut) {
        // Any loss, a grab by another client included, takes the key releases away.
        effect.release_input = true;
        effect.release_grab = moved;
    } else {
        effect.take_grab = moved;
    }
    return effect;
}

}  // namespace media::detail

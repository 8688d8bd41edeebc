// The keyboard, mouse and close-request state: turns the window's X events
// (handed over by the event pump in the window code, see x11_bridge.h) into
// held keys and buttons, press counts, typed characters and the pointer
// position, and answers the polled queries.
#include "engine/media/input.h"

#include <X11/Xutil.h>

#include <array>

#include "engine/media/x11_bridge.h"
#include "engine/media/x11_keymap.h"

namespace media {

namespace {

constexpr int kMouseButtons = 4;  // 1..3 used, 0 unused
constexpr int kCharQueueSize = 256;

// Everything the input side remembers between polls.
struct InputState {
    std::array<bool, KEY_COUNT> key_down{};
    std::array<int, KEY_COUNT> key_hits{};
    std::array<bool, kMouseButtons> mouse_down{};
    std::array<int, kMouseButtons> mouse_hits{};
    std::array<int, kCharQueueSize> chars{};  // ring of typed code points
    int char_head = 0;                        // index of the oldest character
    int char_count = 0;
    int pointer_x = 0;
    int pointer_y = 0;
    bool close_requested = false;
};

InputState g_input;
// Open InputSnapshot guards; while any is open the queries do not pump.
int g_snapshots = 0;

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

// Handles the window's pending events unless a snapshot holds the state still.
void PumpUnlessHeld() {
    if (g_snapshots == 0) detail::PumpEvents();
}

// Appends a typed character; drops it when the queue is full.
void QueueChar(int code) {
    if (code <= 0 || g_input.char_count == kCharQueueSize) return;
    g_input.chars[(g_input.char_head + g_input.char_count) % kCharQueueSize] = code;
    ++g_input.char_count;
}

// Returns the program's key code of a key event, or 0.
int KeyCodeOf(const XKeyEvent& key) {
    XKeyEvent copy = key;
    int code = detail::KeyCodeFromKeySym(XLookupKeysym(&copy, 0));
    if (!code) code = detail::KeyCodeFromKeyPosition(key.keycode);
    return code;
}

// Returns the code point a key press types, or 0.
int TypedCharOf(const XKeyEvent& key) {
    XKeyEvent copy = key;
    char text[8] = {};
    KeySym sym = NoSymbol;
    int length = XLookupString(&copy, text, sizeof text, &sym, nullptr);
    return detail::TypedCharFromKey(sym, text, length);
}

void HandleKey(const XKeyEvent& key, bool pressed, bool repeat) {
    // Key symbols are looked up on the event's connection; an event without
    // one cannot be translated.
    if (!key.display) return;
    int code = KeyCodeOf(key);
    if (pressed) {
        if (code > 0 && code < KEY_COUNT) {
            // A repeat is no new press; but a repeat of a key that reads as
            // released (focus came back while it was held) holds it again.
            if (!repeat) ++g_input.key_hits[code];
            g_input.key_down[code] = true;
        }
        QueueChar(TypedCharOf(key));
    } else if (code > 0 && code < KEY_COUNT) {
        g_input.key_down[code] = false;
    }
}

void HandleButton(const XButtonEvent& button, bool pressed) {
    g_input.pointer_x = button.x;
    g_input.pointer_y = button.y;
    int b = ProgramButton(button.button);
    if (!b) return;
    if (pressed) ++g_input.mouse_hits[b];
    g_input.mouse_down[b] = pressed;
}

}  // namespace

namespace detail {

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
            g_input.pointer_x = event.xmotion.x;
            g_input.pointer_y = event.xmotion.y;
            break;
        case EnterNotify:
        case LeaveNotify:
            g_input.pointer_x = event.xcrossing.x;
            g_input.pointer_y = event.xcrossing.y;
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

void InputPostCloseRequest() {
    g_input.close_requested = true;
}

void InputReleaseAll() {
    g_input.key_down.fill(false);
    g_input.mouse_down.fill(false);
}

int PointerWindowX() {
    return g_input.pointer_x;
}

int PointerWindowY() {
    return g_input.pointer_y;
}

void SetPointerWindowPosition(int x, int y) {
    g_input.pointer_x = x;
    g_input.pointer_y = y;
}

}  // namespace detail

int KeyDown(int key) {
    PumpUnlessHeld();
    if (key <= 0 || key >= KEY_COUNT) return 0;
    return g_input.key_down[key] ? 1 : 0;
}

int KeyHit(int key) {
    PumpUnlessHeld();
    if (key <= 0 || key >= KEY_COUNT) return 0;
    int hits = g_input.key_hits[key];
    g_input.key_hits[key] = 0;
    return hits;
}

void FlushKeys() {
    PumpUnlessHeld();
    g_input.key_down.fill(false);
    g_input.key_hits.fill(0);
    g_input.mouse_down.fill(false);
    g_input.mouse_hits.fill(0);
    g_input.char_head = 0;
    g_input.char_count = 0;
}

int GetChar() {
    PumpUnlessHeld();
    if (g_input.char_count == 0) return 0;
    int code = g_input.chars[g_input.char_head];
    g_input.char_head = (g_input.char_head + 1) % kCharQueueSize;
    --g_input.char_count;
    return code;
}

int MouseDown(int button) {
    PumpUnlessHeld();
    if (button <= 0 || button >= kMouseButtons) return 0;
    return g_input.mouse_down[button] ? 1 : 0;
}

int MouseHit(int button) {
    PumpUnlessHeld();
    if (button <= 0 || button >= kMouseButtons) return 0;
    int hits = g_input.mouse_hits[button];
    g_input.mouse_hits[button] = 0;
    return hits;
}

int MouseX() {
    PumpUnlessHeld();
    return g_input.pointer_x;
}

int MouseY() {
    PumpUnlessHeld();
    return g_input.pointer_y;
}

int AppTerminate() {
    PumpUnlessHeld();
    bool requested = g_input.close_requested;
    g_input.close_requested = false;
    return requested ? 1 : 0;
}

InputSnapshot::InputSnapshot() {
    detail::PumpEvents();
    ++g_snapshots;
}

InputSnapshot::~InputSnapshot() {
    --g_snapshots;
}

}  // namespace media

// The keyboard, mouse and close-request state: held keys and buttons, press
// counts, typed characters and the pointer position, fed by the desktop's
// event translation (input_x11.cpp through platform_seam.h), and the polled
// queries. Without a desktop nothing feeds it and every query reads idle.
#include "engine/media/input.h"

#include <array>

#include "engine/media/platform_seam.h"

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

}  // namespace

namespace detail {

void InputKey(int code, bool pressed, bool repeat) {
    if (code <= 0 || code >= KEY_COUNT) return;
    // A repeat is no new press; but a repeat of a key that reads as released
    // (focus came back while it was held) holds it again.
    if (pressed && !repeat) ++g_input.key_hits[code];
    g_input.key_down[code] = pressed;
}

void InputTypedChar(int code) {
    QueueChar(code);
}

void InputButton(int button, bool pressed) {
    if (button <= 0 || button >= kMouseButtons) return;
    if (pressed) ++g_input.mouse_hits[button];
    g_input.mouse_down[button] = pressed;
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

// Joysticks in the browser build: the page's gamepads (the Gamepad API, read by
// input.js), on ports 0..3 as the browser numbers them. The pads are read again
// when the program asks and the last reading is older than a short while, so a
// frame's queries share one reading and a frame pays for one at most. A pad
// shows only once the browser lets the page see it (after a button press), so
// the count grows while the program runs.
#include <array>
#include <cstdint>
#include <string>

#include <emscripten.h>

#include "engine/media/browser/input.h"
#include "engine/media/joystick.h"

extern "C" {
// The script side (input.js); see there.
int zqin_pad_api();
int zqin_pad_poll(int ports);
int zqin_pad_read(int port, int32_t* held, double* axes, char* name, int nameSize);
}

namespace media {

namespace {

// Ports the program sees, as the browser numbers its pads.
constexpr int kPorts = 4;
// Analog axes read per pad (JOY_X .. JOY_V).
constexpr int kAxes = 6;
// The standard layout's d-pad buttons.
constexpr int kPadUp = 12;
constexpr int kPadDown = 13;
constexpr int kPadLeft = 14;
constexpr int kPadRight = 15;
// A reading younger than this is reused: shorter than a frame on any display.
constexpr double kReadEveryMs = 4.0;

// One port's reading.
struct Pad {
    bool connected = false;
    bool standard = false;
    int buttons = 0;
    uint32_t held = 0;
    std::array<double, kAxes> axes{};
    std::string name;
};

// The last reading of every port and when it was taken.
struct Pads {
    std::array<Pad, kPorts> ports;
    int count = 0;
    double readAt = 0;
    bool read = false;
};

Pads g_pads;

// Reads the pads again unless the last reading is recent.
void Refresh() {
    const double now = emscripten_get_now();
    if (g_pads.read && now - g_pads.readAt < kReadEveryMs) return;
    g_pads.read = true;
    g_pads.readAt = now;
    g_pads.count = zqin_pad_poll(kPorts);
    for (int p = 0; p < kPorts; ++p) {
        Pad& pad = g_pads.ports[p];
        int32_t held = 0;
        char name[64] = {};
        const int got =
            p < g_pads.count ? zqin_pad_read(p, &held, pad.axes.data(), name, sizeof name) : -1;
        pad.connected = got >= 0;
        if (!pad.connected) {
            pad = Pad{};
            continue;
        }
        pad.standard = got >= 1000;
        pad.buttons = got % 1000;
        pad.held = static_cast<uint32_t>(held);
        pad.name = name;
    }
}

// Returns the port's reading, or null for a port without a pad.
const Pad* PadAt(int port) {
    Refresh();
    if (port < 0 || port >= kPorts || !g_pads.ports[port].connected) return nullptr;
    return &g_pads.ports[port];
}

// Returns whether button b of the pad is held.
bool Held(const Pad& pad, int b) {
    return b >= 0 && b < 32 && (pad.held >> b & 1u) != 0;
}

// Returns the hat of a standard pad's d-pad: -1 centred, else eighths of a turn from up.
double Hat(const Pad& pad) {
    const int dx = (Held(pad, kPadRight) ? 1 : 0) - (Held(pad, kPadLeft) ? 1 : 0);
    const int dy = (Held(pad, kPadDown) ? 1 : 0) - (Held(pad, kPadUp) ? 1 : 0);
    // Directions clockwise from up, indexed by (dy + 1) * 3 + (dx + 1); -1 for none.
    static constexpr int kEighths[9] = {7, 0, 1, 6, -1, 2, 5, 4, 3};
    const int eighth = kEighths[(dy + 1) * 3 + (dx + 1)];
    return eighth < 0 ? -1.0 : eighth * 0.125;
}

}  // namespace

int JoyCount() {
    Refresh();
    return g_pads.count;
}

std::string JoyName(int port) {
    const Pad* pad = PadAt(port);
    if (pad && !pad->name.empty()) return pad->name;
    return "Joystick " + std::to_string(port + 1);
}

int JoyButtonMask(int port) {
    const Pad* pad = PadAt(port);
    if (!pad || pad->buttons <= 0) return 0;
    return pad->buttons >= 31 ? 0x7fffffff : (1 << pad->buttons) - 1;
}

int JoyDown(int button, int port) {
    const Pad* pad = PadAt(port);
    return pad && Held(*pad, button) ? 1 : 0;
}

double JoyAxis(int port, int axis) {
    const Pad* pad = PadAt(port);
    if (axis == JOY_HAT) return pad && pad->standard ? Hat(*pad) : -1.0;
    if (!pad || axis < 0 || axis >= kAxes) return 0.0;
    return pad->axes[axis];
}

std::vector<std::string> DefaultJoystickPaths() {
    return {};
}

void SetJoystickPaths(const std::vector<std::string>&) {
    ResetJoysticks();
}

void ResetJoysticks() {
    g_pads = Pads{};
}

std::string GamepadNote() {
    switch (zqin_pad_api()) {
        case 0:
            return "This browser offers no gamepads";
        case 2:
            return "Gamepads show only on secure pages (localhost or https): this page is not one";
        default:
            break;
    }
    if (JoyCount() > 0) return "";
    return "No gamepad seen yet: press a button on it (pads show only on secure pages: "
           "localhost or https)";
}

}  // namespace media

// Controls: the binding code space, input tests, the any-input scan, joystick
// discovery, code names and the control grid.
#include "engine/controls.h"

#include "engine/draw_helpers.h"
#include "engine/graphics_setup.h"
#include "engine/media/input.h"
#include "engine/media/joystick.h"
#include "engine/media/text.h"
#include "engine/setup_table.h"

namespace engine {

namespace {

// First code of the joystick range; port p covers 250 + 50p .. 299 + 50p.
constexpr int kFirstJoyCode = 300;
// Joystick sub-codes.
constexpr int kSubHatUp = 20;
constexpr int kSubHatLeft = 23;
constexpr int kSubHatRight = 25;
constexpr int kSubHatDown = 28;
constexpr int kSubFirstButton = 30;
constexpr int kSubLastButton = 49;
// ScanInput reports buttons below this number only.
constexpr int kScanButtonLimit = 19;
// Size of a binding cell.
constexpr int kCellSize = 48;

// Icon frames of a binding cell.
constexpr int kFrameKey = 3;
constexpr int kFrameHat = 8;
constexpr int kFrameAxis = 9;
constexpr int kFrameButton = 10;

// The axis each pair of sub-codes 0..11 tests, in sub-code order.
constexpr int kSubAxes[6] = {media::JOY_Y, media::JOY_X, media::JOY_Z,
                             media::JOY_U, media::JOY_V, media::JOY_R};
// Names of sub-codes 0..11.
constexpr const char* kAxisNames[12] = {"Y-", "Y+", "X-", "X+", "Z-", "Z+",
                                        "U-", "U+", "V-", "V+", "R-", "R+"};

// One cell of the control grid: control, offset from the port's base, colour.
struct GridCell {
    int control;
    int dx, dy;
    int r, g, b;
};

constexpr GridCell kGridCells[8] = {
    {0, 50, 0, 80, 255, 80},    {3, 0, 50, 80, 255, 80},    {5, 100, 50, 80, 255, 80},
    {8, 50, 50, 80, 255, 80},   {13, 190, 0, 255, 255, 80}, {12, 155, 30, 80, 80, 255},
    {11, 225, 30, 255, 80, 80}, {10, 190, 60, 80, 255, 80},
};

}  // namespace

int JoyPorts = 0;
std::array<std::string, kMaxJoyPorts + 1> JoyNames;
std::array<int, kMaxJoyPorts + 1> JoyButtonMasks{};
std::array<double, kMaxJoyPorts + 1> RestX{}, RestY{}, RestZ{}, RestU{}, RestV{}, RestR{};
std::array<int, kMaxJoyPorts + 1> JoyEnabled{};
std::array<int, kMaxJoyPorts + 1> HatUsable{};

namespace {

// Returns the rest value of a media-layer axis for port p.
double RestOf(int p, int axis) {
    switch (axis) {
        case media::JOY_X:
            return RestX[p];
        case media::JOY_Y:
            return RestY[p];
        case media::JOY_Z:
            return RestZ[p];
        case media::JOY_U:
            return RestU[p];
        case media::JOY_V:
            return RestV[p];
        default:
            return RestR[p];
    }
}

// Returns true while axis sub-code s (0..11) of port p is pushed past its dead zone.
bool AxisActive(int p, int s) {
    int axis = kSubAxes[s / 2];
    return AxisPastRest(s, media::JoyAxis(p - 1, axis), RestOf(p, axis));
}

// Returns true while a hat direction sub-code of port p is active.
bool HatActive(int p, int s) {
    if (HatUsable[p] != 1) return false;
    return HatInWindow(s, media::JoyAxis(p - 1, media::JOY_HAT));
}

// Returns true for a port that is in use and enabled.
bool PortLive(int p) {
    return p >= 1 && p <= JoyPorts && p <= kMaxJoyPorts && JoyEnabled[p] == 1;
}

// Returns the keyboard name of a code, or nullptr when the table has none.
const char* KeyboardName(int code) {
    static const char* const kDigits[10] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"};
    static const char* const kLetters[26] = {"A", "B", "C", "D", "E", "F", "G", "H", "I",
                                             "J", "K", "L", "M", "N", "O", "P", "Q", "R",
                                             "S", "T", "U", "V", "W", "X", "Y", "Z"};
    static const char* const kFKeys[12] = {"F1", "F2", "F3", "F4",  "F5",  "F6",
                                           "F7", "F8", "F9", "F10", "F11", "F12"};
    static const char* const kCursor[8] = {"Page Up", "Page Down", "End",   "Home",
                                           "Left",    "Up",        "Right", "Down"};
    static const char* const kEditing[6] = {"Select", "Print",  "Execute",
                                            "Screen", "Insert", "Delete"};
    static const char* const kModifiers[6] = {"LShift",   "RShift", "LControl",
                                              "RControl", "LAlt",   "RAlt"};
    static const char* const kPunctuation[7] = {";", "=", ",", "-", ".", "/", "'"};
    static const char* const kBrackets[5] = {"[", "\\", "]", "#", "`"};
    switch (code) {
        case 1:
            return "Left Mousebutton";
        case 2:
            return "Right Mousebutton";
        case 3:
            return "Middle Mousebutton";
        case 8:
            return "Backspace";
        case 9:
            return "Tab";
        case 12:
            return "Clear";
        case 13:
            return "Return";
        case 19:
            return "Pause";
        case 20:
            return "CapsLock";
        case 27:
            return "Escape";
        case 32:
            return "Space";
        case 91:
            return "Sys Left";
        case 92:
            return "Sys Right";
        case 106:
            return "*";
        case 107:
            return "+";
        case 109:
            return "-";
        case 110:
            return ".";
        case 111:
            return "/";
        case 144:
            return "NumLock";
        case 145:
            return "ScrollLock";
        case 173:
            return "Mute";
        case 174:
            return "Volume Down";
        case 175:
            return "Volume Up";
        case 226:
            return "\\";
        default:
            break;
    }
    if (code >= 33 && code <= 40) return kCursor[code - 33];
    if (code >= 41 && code <= 46) return kEditing[code - 41];
    if (code >= 48 && code <= 57) return kDigits[code - 48];
    if (code >= 65 && code <= 90) return kLetters[code - 65];
    if (code >= 96 && code <= 105) return kDigits[code - 96];
    if (code >= 112 && code <= 123) return kFKeys[code - 112];
    if (code >= 160 && code <= 165) return kModifiers[code - 160];
    if (code >= 186 && code <= 192) return kPunctuation[code - 186];
    if (code >= 219 && code <= 223) return kBrackets[code - 219];
    return nullptr;
}

}  // namespace

bool AxisPastRest(int subCode, double value, double rest) {
    return (subCode % 2 == 0) ? value < rest - kAxisDeadZone : value > rest + kAxisDeadZone;
}

bool HatInWindow(int subCode, double hat) {
    // The windows overlap so that a diagonal presses two directions at once.
    switch (subCode) {
        case kSubHatUp:
            return hat >= 0 && (hat > 0.8 || hat < 0.2);
        case kSubHatRight:
            return hat > 0.1 && hat < 0.4;
        case kSubHatDown:
            return hat > 0.3 && hat < 0.7;
        case kSubHatLeft:
            return hat > 0.6 && hat < 0.9;
        default:
            return false;
    }
}

void DiscoverJoysticks() {
    ResetControls();
    JoyPorts = ClampInt(media::JoyCount(), 0, kMaxJoyPorts);
    for (int p = 1; p <= JoyPorts; ++p) {
        JoyButtonMasks[p] = media::JoyButtonMask(p - 1);
        JoyNames[p] = media::JoyName(p - 1);
        RestX[p] = media::JoyAxis(p - 1, media::JOY_X);
        RestY[p] = media::JoyAxis(p - 1, media::JOY_Y);
        RestZ[p] = media::JoyAxis(p - 1, media::JOY_Z);
        RestU[p] = media::JoyAxis(p - 1, media::JOY_U);
        RestV[p] = media::JoyAxis(p - 1, media::JOY_V);
        RestR[p] = media::JoyAxis(p - 1, media::JOY_R);
        JoyEnabled[p] = 1;
        HatUsable[p] = media::JoyAxis(p - 1, media::JOY_HAT) == -1.0 ? 1 : 0;
    }
}

int InputDown(int code) {
    if (code >= 10 && code <= 254) return media::KeyDown(code) ? 1 : 0;
    if (code < kFirstJoyCode) return 0;
    int p = code / 50 - 5;
    int s = code % 50;
    if (!PortLive(p)) return 0;
    if (s <= 11) return AxisActive(p, s) ? 1 : 0;
    if (s >= kSubFirstButton && s <= kSubLastButton) {
        return media::JoyDown(s - kSubFirstButton, p - 1) ? 1 : 0;
    }
    return HatActive(p, s) ? 1 : 0;
}

int ActionDown(int control, int port) {
    int slot = (port - 1) * 20 + control;
    if (slot < 0 || slot >= kKeyMapSlots) return 0;
    return InputDown(KeyMap[slot]);
}

int ScanInput() {
    media::InputSnapshot snapshot;
    if (media::KeyDown(media::KEY_F11) || media::KeyDown(media::KEY_F12)) return 0;
    for (int k = 1; k <= 255; ++k) {
        if (media::KeyDown(k)) return k;
    }
    for (int p = 1; p <= JoyPorts && p <= kMaxJoyPorts; ++p) {
        if (JoyEnabled[p] != 1) continue;
        int base = 250 + 50 * p;
        for (int s = 0; s <= 11; ++s) {
            if (AxisActive(p, s)) return base + s;
        }
        if (HatUsable[p] == 1) {
            double hat = media::JoyAxis(p - 1, media::JOY_HAT);
            if (hat == 0.0) return base + kSubHatUp;
            if (hat == 0.25) return base + kSubHatRight;
            if (hat == 0.5) return base + kSubHatDown;
            if (hat == 0.75) return base + kSubHatLeft;
        }
        for (int b = 0; b < JoyButtonMasks[p] && b < kScanButtonLimit; ++b) {
            if (media::JoyDown(b, p - 1)) return base + kSubFirstButton + b;
        }
    }
    return 0;
}

std::string KeyName(int code) {
    if (const char* name = KeyboardName(code)) return name;
    int s = code % 50;
    if (s >= 0 && s <= 11) return kAxisNames[s];
    switch (s) {
        case kSubHatUp:
            return "Up";
        case kSubHatLeft:
            return "Left";
        case kSubHatRight:
            return "Right";
        case kSubHatDown:
            return "Down";
        default:
            return media::Str(s - kSubFirstButton);
    }
}

void BindingWidget(int slot, int x, int y, int settingsSlide) {
    if (slot < 0 || slot >= kKeyMapSlots) return;
    double hot = 0;
    if (MouseInRect(x, y, kCellSize, kCellSize) && settingsSlide >= 0) {
        hot = 1;
        int c = ScanInput();
        if (c > 8) KeyMap[slot] = c;
        if (c == 8) KeyMap[slot] = 0;
    }
    int code = KeyMap[slot];
    if (InputDown(code)) hot = 1;

    int frame = kFrameKey;
    bool centred = true;
    if (code >= kFirstJoyCode) {
        int s = code % 50;
        if (s <= 11) {
            frame = kFrameAxis;
            centred = false;
        } else if (s == kSubHatUp || s == kSubHatLeft || s == kSubHatRight || s == kSubHatDown) {
            frame = kFrameHat;
            centred = false;
        } else {
            frame = kFrameButton;
        }
    }
    SetScaleXY(3);
    DrawGlowSprite(IconsSharpImage, x, y, frame, IconsImage, 1.1, hot);
    SetScaleXY(1);
    std::string label = code == 0 ? "?!" : KeyName(code);
    if (centred) {
        DrawTextAligned(x + kCellSize / 2, y + kCellSize / 2, label, 1, 1);
    } else {
        DrawTextAligned(x, y, label, 1, 1);
    }
}

void DrawControlGrid(int settingsSlide) {
    for (int p = 1; p <= ControlPorts; ++p) {
        int bx = p <= 2 ? 250 : 650;
        int by = settingsSlide + 10 + ((p % 2 == 0) ? 150 : 0);
        for (const GridCell& cell : kGridCells) {
            SetColourAlpha(cell.r, cell.g, cell.b, KEEP_ALPHA);
            BindingWidget((p - 1) * 20 + cell.control, bx + cell.dx, by + cell.dy, settingsSlide);
        }
    }
}

void ResetControls() {
    JoyPorts = 0;
    JoyNames.fill("");
    JoyButtonMasks.fill(0);
    RestX.fill(0);
    RestY.fill(0);
    RestZ.fill(0);
    RestU.fill(0);
    RestV.fill(0);
    RestR.fill(0);
    JoyEnabled.fill(0);
    HatUsable.fill(0);
}

}  // namespace engine

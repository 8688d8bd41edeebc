// Joysticks in the browser build: there are no device files to read, so no
// joystick ever opens (the page may hand gamepads over in a later version).
#include "engine/media/joystick.h"

namespace media {

int JoyCount() {
    return 0;
}

std::string JoyName(int port) {
    return "Joystick " + std::to_string(port + 1);
}

int JoyButtonMask(int) {
    return 0;
}

int JoyDown(int, int) {
    return 0;
}

double JoyAxis(int, int axis) {
    return axis == JOY_HAT ? -1.0 : 0.0;
}

std::vector<std::string> DefaultJoystickPaths() {
    return {};
}

void SetJoystickPaths(const std::vector<std::string>&) {}

void ResetJoysticks() {}

}  // namespace media

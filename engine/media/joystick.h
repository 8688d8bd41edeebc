// Joysticks: the polled queries the controls read. Native builds (native/)
// discover the Linux joystick devices and keep one reader thread per device,
// sharing button bits and axis values through atomics; the browser build reads
// the page's gamepads (browser/joystick.cpp).
#pragma once

#include <string>
#include <vector>

namespace media {

// Axes as JoyAxis takes them.
constexpr int JOY_X = 0;
constexpr int JOY_Y = 1;
constexpr int JOY_Z = 2;
constexpr int JOY_R = 3;
constexpr int JOY_U = 4;
constexpr int JOY_V = 5;
constexpr int JOY_HAT = 6;

// Opens the joystick devices on the first call and returns how many opened.
// Note: later calls return the same count; ports are numbered 0.. in the
// order found, and a device reachable by two paths counts once.
// Note: in the browser the count is read anew (1 + the last of ports 0..3 with
// a pad): a pad shows only after its first button press, and only to secure
// pages (localhost or https), so it can grow or shrink while the program runs
// and a port without a pad reads as an unknown one.
int JoyCount();
// Returns the device's name ("Joystick N" when the device has none).
std::string JoyName(int port);
// Returns (1 << number of buttons) - 1 for the port, 0 for an unknown port.
int JoyButtonMask(int port);
// Returns 1 while button (0-based) of the port is held, else 0.
int JoyDown(int button, int port);
// Returns an axis value in -1..1; the hat reads -1 when centred and 0, 0.25,
// 0.5, 0.75 for up, right, down, left (0.125 steps for diagonals).
// Note: an unknown port reads 0, and its hat -1.
double JoyAxis(int port, int axis);

// Returns the device paths probed by default: "/dev/input/jsN" and
// "/dev/jsN" for N = 0..7, in that order per number.
std::vector<std::string> DefaultJoystickPaths();
// Resets the joystick subsystem and sets the device paths the next JoyCount
// probes (tests point it at FIFOs). There are none until the desktop part
// (desktop/desktop.h) sets DefaultJoystickPaths(): a headless program has no joysticks.
void SetJoystickPaths(const std::vector<std::string>& paths);
// Stops every reader thread, closes the devices and forgets them, so that
// the next JoyCount probes again.
void ResetJoysticks();

}  // namespace media

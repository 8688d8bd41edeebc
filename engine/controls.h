// Controls: binding codes for keys, joystick axes, hat directions and joystick
// buttons; whether a bound input is active; the scan for any active input;
// joystick discovery with the rest positions of the axes; the display names
// of codes; and the binding cells of the control grid.
#pragma once

#include <array>
#include <string>

namespace engine {

// Joystick ports the controls know (1..4; index 0 unused).
inline constexpr int kMaxJoyPorts = 4;
// Ports shown in the control grid.
inline constexpr int ControlPorts = 4;
// The dead zone around an axis's rest position.
inline constexpr double kAxisDeadZone = 0.3;

// Number of joystick ports in use (at most 4).
extern int JoyPorts;
// Per port 1..4: device name, button mask, axis rest values, enabled and hat flags.
extern std::array<std::string, kMaxJoyPorts + 1> JoyNames;
extern std::array<int, kMaxJoyPorts + 1> JoyButtonMasks;
extern std::array<double, kMaxJoyPorts + 1> RestX, RestY, RestZ, RestU, RestV, RestR;
extern std::array<int, kMaxJoyPorts + 1> JoyEnabled;
extern std::array<int, kMaxJoyPorts + 1> HatUsable;

// Returns true when an axis reading lies past the dead zone around its rest value,
// below it for even sub-codes (0, 2, .. 10) and above it for odd ones.
bool AxisPastRest(int subCode, double value, double rest);
// Returns true when a hat reading lies in the window of a hat sub-code (20, 23, 25, 28).
bool HatInWindow(int subCode, double hat);
// Records the joysticks present now: names, button masks, rest positions, hat check.
void DiscoverJoysticks();
// Returns 1 while the input a binding code names is active, else 0.
int InputDown(int code);
// Returns 1 while the input bound to a control (0..19) of a port (1..5) is active, else 0.
int ActionDown(int control, int port);
// Returns the code of the first active input, or 0 (always 0 while F11 or F12 is held).
int ScanInput();
// Returns the display name of a binding code.
std::string KeyName(int code);
// Draws one 48x48 cell of the control grid at x,y and rebinds it while hovered.
// Note: settingsSlide is the settings panel's offset; it rebinds only when the panel is fully open.
void BindingWidget(int slot, int x, int y, int settingsSlide);
// Draws the control grid of the four ports below the settings panel's top.
void DrawControlGrid(int settingsSlide);
// Forgets every joystick (no ports, nothing enabled).
void ResetControls();

}  // namespace engine

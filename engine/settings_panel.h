// The settings panel that slides down from the top of every screen while Tab
// has opened it: window or full screen, resolution, frame skipping and Apply
// on the left; the audio driver, three volume sliders and the joystick list
// on the right; the control grid in the middle while PointerMode is 0.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace engine {

// The panel's offset when it is shut and fully slid away.
inline constexpr int kSettingsSlideShut = -300;
// Where the open panel rests.
inline constexpr int kSettingsSlideOpen = 20;
// Pixels the panel moves per frame.
inline constexpr int kSettingsSlideStep = 32;

// The panel's vertical offset: -300 when shut, 20 when open.
extern int SettingsSlide;

// The input the panel polls; the defaults are the media layer's. Tests replace members.
struct SettingsPanelCalls {
    std::function<int(int)> mouseHit;
    std::function<int(int)> mouseDown;
    std::function<int(int)> keyHit;
    std::function<int(int, int)> joyDown;  // (button, media-layer port)
};

// Returns the calls the panel uses (tests may replace any of them).
SettingsPanelCalls& SettingsPanelIO();

// A line the platform adds under the joysticks (the browser's: full screen,
// sending runs, why no gamepad shows): its text, and what a click on it does
// (null: it is only read).
struct PanelLine {
    std::string text;
    std::function<void()> clicked;
};
// Sets what gives the platform's lines, asked on every frame the panel shows (null: none).
void SetPlatformLines(std::function<std::vector<PanelLine>()> lines);
// Registers what runs after a volume slider changed a volume, besides the
// effect channels the panel updates itself (the game re-applies its music
// volume here); null registers nothing.
void SetVolumeListener(std::function<void()> listener);
// Gives every effect channel its volume from the current settings again and
// calls the volume listener.
void ApplyVolumes();

// Moves SettingsSlide one step toward open (SettingsOpen 1) or shut.
void StepSettingsSlide();
// Returns a mode index one step up (dir > 0) or down from index, wrapping
// within 1..count; an index outside that range steps to 1 (up) or count (down).
// Note: with no modes (count < 1) the index is returned unchanged.
int StepModeIndex(int index, int count, int dir);
// Returns a slider value snapped to its ends: below 6 is 0, above 94 is 100.
int SnapVolume(int value);
// Returns the verdict text on a display height against the logical screen.
std::string ResolutionVerdict(int height);

// Draws an option button (icon iconBase + Setup[slot] and the chosen label)
// and cycles Setup[slot] on a click; returns 1 while the pointer is over it.
// Note: option0 "AUDIO" lists the audio drivers; "|" splits a label into two lines.
int OptionCycler(int slot, int x, int y, int iconBase, const std::string& option0,
                 const std::string& option1 = "", const std::string& option2 = "",
                 const std::string& option3 = "", const std::string& option4 = "",
                 const std::string& option5 = "");
// Draws a volume slider (track, knob, label and value) at x,y and returns the
// value, moved to the pointer while the left button is held over it.
// Note: the caller snaps the result (SnapVolume).
int Slider(int value, int x, int y, const std::string& label);
// Runs the panel for one frame: takes the clicks, slides, draws and handles it.
void SettingsPanel();
// Resets the panel (shut, default input calls, no volume listener).
void ResetSettingsPanel();

}  // namespace engine

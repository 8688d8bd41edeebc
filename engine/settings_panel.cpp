// The settings panel: its slide, the option buttons, the volume sliders, the
// resolution stepper, Apply, the audio driver button, the joystick list and
// the control grid, and the re-applying of volumes while a slider moves.
#include "engine/settings_panel.h"

#include <array>

#include "engine/controls.h"
#include "engine/draw_helpers.h"
#include "engine/frame_end.h"
#include "engine/game_state.h"
#include "engine/graphics_setup.h"
#include "engine/hooks.h"
#include "engine/media/audio.h"
#include "engine/media/graphics.h"
#include "engine/media/input.h"
#include "engine/media/joystick.h"
#include "engine/media/text.h"
#include "engine/setup_table.h"

namespace engine {

namespace {

constexpr int kOptions = 6;          // options an OptionCycler can hold
constexpr int kPanelFont = 2;        // UIFonts slot of every text of the panel
constexpr int kLabelOffset = 38;     // label x past the option icon
constexpr int kButtonHeight = 32;    // option button height
constexpr int kSliderSnapLow = 6;    // values below snap to 0
constexpr int kSliderSnapHigh = 94;  // values above snap to 100
constexpr int kLastEffectSlot = 255;
constexpr const char* kAudioMarker = "AUDIO";

}  // namespace

int SettingsSlide = kSettingsSlideShut;

namespace {

SettingsPanelCalls g_calls;
bool g_callsSet = false;
std::function<void()> g_volumeListener;

// Returns the calls with the defaults filled in on first use.
SettingsPanelCalls& Calls() {
    if (!g_callsSet) {
        g_calls.mouseHit = media::MouseHit;
        g_calls.mouseDown = media::MouseDown;
        g_calls.keyHit = media::KeyHit;
        g_calls.joyDown = media::JoyDown;
        g_callsSet = true;
    }
    return g_calls;
}

// Returns the option texts of a cycler, with "AUDIO" expanded to the drivers.
std::array<std::string, kOptions> CyclerOptions(const std::array<std::string, kOptions>& given) {
    if (given[0] != kAudioMarker) return given;
    std::array<std::string, kOptions> options{};
    for (int k = 0; k < kOptions && k < static_cast<int>(AudioDriverNames.size()); ++k) {
        options[k] = "Audio Driver|" + AudioDriverNames[k];
    }
    if (options[0].empty()) options[0] = "Audio Driver|";
    return options;
}

// Draws label text vertically centred at x,y in the panel font.
void DrawLabel(int x, int y, const std::string& text) {
    DrawTextAligned(x, y, text, 0, 1);
}

// Steps the display mode while the resolution button is hovered.
void StepResolution(int up, int down) {
    SettingsPanelCalls& io = Calls();
    const auto stepTo = [](int dir) {
        if (ModeCount < 1) return;
        const int index = StepModeIndex(Setup[SETUP_MODEINDEX], ModeCount, dir);
        Setup[SETUP_MODEINDEX] = index;
        if (index < static_cast<int>(ModeWidths.size()) &&
            index < static_cast<int>(ModeHeights.size())) {
            Setup[SETUP_WIDTH] = ModeWidths[index];
            Setup[SETUP_HEIGHT] = ModeHeights[index];
        }
    };
    // Both keys of a direction are read so that neither keeps a stale press.
    const int upKeys = io.keyHit(media::KEY_RIGHT) + io.keyHit(media::KEY_UP);
    if (upKeys > 0 || up != 0) stepTo(1);
    const int downKeys = io.keyHit(media::KEY_LEFT) + io.keyHit(media::KEY_DOWN);
    if (downKeys > 0 || down != 0) stepTo(-1);
}

// Draws the left column: display mode, resolution, frame skipping and Apply.
// Returns true when Apply re-opened the window (the frame is over then).
bool GraphicsColumn() {
    SetColourAlpha(80, 255, 80, 1);
    DrawTextAligned(20, SettingsSlide + 4, "Graphics");

    OptionCycler(SETUP_FULLSCREEN, 20, 30, 13, "Windowed", "Fullscreen");

    int hover = OptionCycler(SETUP_WIDESCREEN, 20, 70, 11, "Resolution");
    if (hover == 0) hover = MouseInRect(20, 70 + SettingsSlide, 200, 70);
    if (hover != 0) StepResolution(LeftClick, RightClick);

    SetScaleXY(1);
    const int y = 108;
    DrawTextAligned(20, y + SettingsSlide,
                    media::Str(Setup[SETUP_WIDTH]) + "x" + media::Str(Setup[SETUP_HEIGHT]));
    const int height = Setup[SETUP_HEIGHT];
    if (height < 900) {
        SetColourAlpha(255, 180, 80);
    } else if (height > 960) {
        SetColourAlpha(180, 255, 80);
    } else {
        SetColourAlpha(255, 255, 80);
    }
    DrawTextAligned(80, y + SettingsSlide + 20, ResolutionVerdict(height));

    SetColourAlpha(80, 255, 80, 1);
    OptionCycler(SETUP_ESS, 20, 146, 18, "Draw all Frames|Decent System", "Frameskip|Slow System");

    SetScaleXY(1);
    SetColourAlpha(0, 120, 0, 0.5);
    const int applyW = media::TextWidth("Apply") + 4;
    const int applyH = media::TextHeight() + 4;
    if (MouseInRect(18, SettingsSlide + 258, applyW, applyH)) {
        media::DrawRect(18, SettingsSlide + 258, applyW, applyH);
        if (LeftClick != 0) {
            LeftClick = 0;
            SettingsOpen = 0;
            if (Hooks().saveSetup) Hooks().saveSetup();
            // Without a window nothing can be shown or played: the app leaves
            // with a clear message rather than running on blind.
            if (!ApplyGraphicsSettings() && Hooks().displayLost) Hooks().displayLost();
            // Every image and font of this frame belongs to the old window.
            return true;
        }
    }
    SetColourAlpha(80, 255, 80, 1);
    DrawTextAligned(20, SettingsSlide + 260, "Apply");
    return false;
}

// Draws one volume slider of a settings slot; returns true when its value changed.
bool VolumeSlider(int slot, int x, int y, const std::string& label) {
    const int before = Setup[slot];
    Setup[slot] = SnapVolume(Slider(before, x, y, label));
    return Setup[slot] != before;
}

// State: what gives the platform's lines (null: none).
std::function<std::vector<PanelLine>()> g_platformLines;

// The widest a platform's line is drawn before it wraps.
constexpr int kPlatformLineWidth = 270;

// Returns text split at spaces into lines no wider than width (a longer word keeps its line).
std::vector<std::string> Wrapped(const std::string& text, int width) {
    std::vector<std::string> lines;
    std::string line;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(' ', at);
        if (end == std::string::npos) end = text.size();
        const std::string word = text.substr(at, end - at);
        const std::string longer = line.empty() ? word : line + " " + word;
        if (!line.empty() && media::TextWidth(longer) > width) {
            lines.push_back(line);
            line = word;
        } else {
            line = longer;
        }
        at = end + 1;
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

// Draws the platform's lines from y down; a click on a line that acts runs it.
void PlatformLines(int x, int y) {
    if (!g_platformLines) return;
    for (const PanelLine& entry : g_platformLines()) {
        const std::vector<std::string> lines = Wrapped(entry.text, kPlatformLineWidth);
        const int height = 15 * static_cast<int>(lines.size());
        const bool over = entry.clicked && MouseInRect(x, y, kPlatformLineWidth, height) != 0;
        SetColourAlpha(255, 255, over ? 255 : 180, entry.clicked ? 1.0 : 0.7);
        if (over && LeftClick != 0) {
            LeftClick = 0;
            entry.clicked();
        }
        for (const std::string& line : lines) {
            DrawTextAligned(x, y, line);
            y += 15;
        }
        y += 5;
    }
}

// Draws the right column: audio driver, volumes and joysticks.
void AudioColumn() {
    const int x = VirtualWidth - 280;
    int y = SettingsSlide + 10;
    OptionCycler(SETUP_AUDIODRIVER, x, 20, 24, kAudioMarker);
    SetScaleXY(1);
    SetColourAlpha(255, 180, 180, 1);
    DrawTextAligned(x, y + 40, "Changes require a Restart");

    bool changed = false;
    y += 60;
    changed |= VolumeSlider(SETUP_MASTER, x, y, "Master Volume");
    y += 50;
    changed |= VolumeSlider(SETUP_SOUND, x, y, "Sounds");
    y += 50;
    changed |= VolumeSlider(SETUP_MUSIC, x, y, "Music");
    if (changed) ApplyVolumes();

    y += 60;
    SettingsPanelCalls& io = Calls();
    for (int p = 1; p <= JoyPorts && p <= kMaxJoyPorts; ++p) {
        const bool held = io.joyDown(0, p - 1) != 0;
        SetColourAlpha(held ? 255 : 80, 255, 80, JoyEnabled[p] == 0 ? 0.2 : 1.0);
        if (MouseInRect(x, y, media::TextWidth(JoyNames[p]), 14) && LeftClick != 0) {
            LeftClick = 0;
            JoyEnabled[p] = 1 - JoyEnabled[p];
        }
        DrawTextAligned(x, y, JoyNames[p]);
        y += 15;
    }
    PlatformLines(x, y + 10);
}

}  // namespace

SettingsPanelCalls& SettingsPanelIO() {
    return Calls();
}

void SetPlatformLines(std::function<std::vector<PanelLine>()> lines) {
    g_platformLines = std::move(lines);
}

void SetVolumeListener(std::function<void()> listener) {
    g_volumeListener = std::move(listener);
}

void ApplyVolumes() {
    const double effects = Setup[SETUP_SOUND] * Setup[SETUP_MASTER] / 100.0 / 100.0;
    for (int slot = 1; slot <= kLastEffectSlot; ++slot) {
        if (SfxChannels[slot]) SfxChannels[slot]->SetVolume(effects * SfxVolumes[slot]);
    }
    if (SfxChannels[kJingleSlot]) SfxChannels[kJingleSlot]->SetVolume(effects);
    if (g_volumeListener) g_volumeListener();
}

void StepSettingsSlide() {
    if (SettingsOpen == 1) {
        if (SettingsSlide < 0) SettingsSlide += kSettingsSlideStep;
    } else if (SettingsSlide >= kSettingsSlideShut + 1) {
        SettingsSlide -= kSettingsSlideStep;
    }
}

int StepModeIndex(int index, int count, int dir) {
    if (count < 1) return index;
    if (index < 1 || index > count) return dir > 0 ? 1 : count;
    index += dir > 0 ? 1 : -1;
    if (index > count) index = 1;
    if (index < 1) index = count;
    return index;
}

int SnapVolume(int value) {
    if (value < kSliderSnapLow) return 0;
    if (value > kSliderSnapHigh) return 100;
    return value;
}

std::string ResolutionVerdict(int height) {
    if (height < 900) return "Small (Bit blurry)";
    if (height > 960) return "Bigger! (High-Definition!)";
    return "Native (Crisp, Clear)";
}

int OptionCycler(int slot, int x, int y, int iconBase, const std::string& option0,
                 const std::string& option1, const std::string& option2, const std::string& option3,
                 const std::string& option4, const std::string& option5) {
    const std::array<std::string, kOptions> options =
        CyclerOptions({option0, option1, option2, option3, option4, option5});
    int count = 1;
    for (int k = kOptions - 1; k >= 0; --k) {
        if (!options[k].empty()) {
            count = k + 1;
            break;
        }
    }
    const int chosen = Setup[slot];
    const std::string& label =
        chosen >= 0 && chosen < kOptions && !options[chosen].empty() ? options[chosen] : options[0];

    SetScaleXY(1);
    media::SetImageFont(UIFonts[kPanelFont]);
    const int top = y + SettingsSlide;
    const size_t bar = label.find('|');
    std::string measured = label;
    if (bar == std::string::npos) {
        DrawLabel(x + kLabelOffset, top + 16, label);
    } else {
        measured = label.substr(0, bar);
        DrawLabel(x + kLabelOffset, top + 8, measured);
        DrawLabel(x + kLabelOffset, top + 24, label.substr(bar + 1));
    }

    SetScaleXY(2);
    const int w = media::TextWidth(measured);
    const int frame = iconBase + chosen;
    if (!MouseInRect(x, top, w, kButtonHeight)) {
        DrawSprite(IconsSharpImage, x, top, frame, KIND_IMAGE);
    }
    if (MouseInRect(x, top, w + kLabelOffset, kButtonHeight)) {
        DrawGlowSprite(IconsSharpImage, x, top, frame, IconsImage, 1.1, 0.8);
        if (LeftClick != 0) Setup[slot] = ((chosen + 1) % count + count) % count;
        return 1;
    }
    return 0;
}

int Slider(int value, int x, int y, const std::string& label) {
    SetColourAlpha(80, 255, 80);
    SetScaleXY(3.1, 1.5);
    DrawSprite(IconsSharpImage, x - 2, y, 21, KIND_IMAGE);
    DrawSprite(IconsSharpImage, x + 48, y, 22, KIND_IMAGE);
    SetColourAlpha(255, 80, 80);
    SetScaleXY(1, 1.5);
    DrawSprite(IconsSharpImage, x + value - 9, y, 23, KIND_IMAGE);
    SetColourAlpha(80, 180, 255);
    if (MouseInRect(x - 2, y - 4, 100, 24) && Calls().mouseDown(media::MOUSE_LEFT) != 0) {
        value = PointerX - x + 2;
    }
    SetScaleXY(1);
    DrawTextAligned(x, y + 20, label + " : " + media::Str(value));
    return value;
}

void SettingsPanel() {
    SettingsPanelCalls& io = Calls();
    LeftClick = io.mouseHit(media::MOUSE_LEFT);
    RightClick = io.mouseHit(media::MOUSE_RIGHT);
    StepSettingsSlide();
    if (SettingsSlide <= kSettingsSlideShut) return;

    media::SetImageFont(UIFonts[kPanelFont]);
    ResetDrawState();

    SetBlendKind(2);
    SetColourAlpha(40, 40, 40, 0.8);
    media::DrawRect(0, 0, VirtualWidth, SettingsSlide + 300);
    SetBlendKind(1);
    SetColourAlpha(80, 80, 80, 0.4);
    media::DrawRect(0, 0, VirtualWidth, SettingsSlide + 298);
    SetColourAlpha(180, 255, 180, 1);
    media::DrawRect(0, SettingsSlide + 298, VirtualWidth, 2);

    // The panel's icons must show even when the screen beneath used up the budgets.
    DrawnCounts[KIND_IMAGE] = 0;
    DrawnCounts[KIND_GLOW] = 0;

    if (GraphicsColumn()) return;
    if (PointerMode == 0) DrawControlGrid(SettingsSlide);
    AudioColumn();
}

void ResetSettingsPanel() {
    SettingsSlide = kSettingsSlideShut;
    g_callsSet = false;
    Calls();
    g_volumeListener = nullptr;
}

}  // namespace engine

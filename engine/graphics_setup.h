// Graphics mode set-up and the common assets: the list of usable display
// modes, the window (full screen or windowed), the logical screen size per
// aspect, and everything drawable or audible that every screen shares (fonts,
// icons, logos, badges, the start-up jingle, the numbered sound effects).
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "engine/media/audio.h"
#include "engine/media/graphics.h"

namespace engine {

// Entries of UIFonts (index 0 unused, 1..13).
inline constexpr int kUIFontSlots = 14;
// Entries of FontGrid: slot (family - 1) * 10 + size, families 1..3, sizes 0..8.
inline constexpr int kFontGridSlots = 30;
// Entries of SoundBank (index 0 unused, effects 1..200).
inline constexpr int kSoundBankSlots = 201;
// Entries of SfxChannels and SfxVolumes (slots 0..259).
inline constexpr int kSfxSlots = 260;
// The slot of SfxChannels that holds the start-up jingle.
inline constexpr int kJingleSlot = 256;

// The usable display modes of one listing, entries 1..count (entry 0 unused).
struct ModeList {
    std::vector<int> widths{0};
    std::vector<int> heights{0};
    int count = 0;
    int matched = 0;  // the entry equal to the wanted size, 0 when none
};

// The logical screen chosen for a display size.
struct VirtualScreen {
    int width = 1280;
    int height = 960;
    bool wide16x9 = false;   // the 16:9 test held
    bool wide16x10 = false;  // the 16:10 test held (decides when both hold)
};

// Usable display modes, entries 1..ModeCount (entry 0 unused).
extern std::vector<int> ModeWidths;
extern std::vector<int> ModeHeights;
extern int ModeCount;
// The display mode in use, in pixels.
extern int ScreenWidth, ScreenHeight;
// The logical screen every screen draws on.
extern int VirtualWidth, VirtualHeight;
// 0 until the window has been opened once, then 1.
extern int GraphicsOpened;
// Font size factors f1, f2, f3 chosen by the screen width.
extern std::array<float, 3> FontScale;
// The body text font family.
extern std::string BodyFontFamily;
// Fonts with fixed roles, 1..13.
extern std::array<std::shared_ptr<media::TImageFont>, kUIFontSlots> UIFonts;
// Three families by nine sizes.
extern std::array<std::shared_ptr<media::TImageFont>, kFontGridSlots> FontGrid;
// Shared images.
extern std::shared_ptr<media::TImage> IconsImage, IconsSharpImage, LogoImage, SiteLogoImage,
    BadgesImage;
// The badge sound (also the start-up jingle).
extern std::shared_ptr<media::TSound> BadgeSound;
// Numbered sound effects 1..200 (null where the file is missing).
extern std::array<std::shared_ptr<media::TSound>, kSoundBankSlots> SoundBank;
// The effect channels (slots 1..255 for effects, 256 the jingle); null is none.
extern std::array<std::shared_ptr<media::TChannel>, kSfxSlots> SfxChannels;
// The volume factor last given to each channel slot.
extern std::array<double, kSfxSlots> SfxVolumes;

// Returns true when w x h is 16:10, 16:9 or 4:3 in truncating integer arithmetic.
bool UsableMode(int w, int h);
// Builds the usable mode list from a driver's modes (duplicates of a size removed).
ModeList BuildModeList(const std::vector<media::TGraphicsMode>& modes, int wantWidth,
                       int wantHeight);
// Returns the logical screen for a display size.
VirtualScreen VirtualSizeFor(int width, int height);
// Returns the font factors f1, f2, f3 for a screen width.
std::array<float, 3> FontScaleFor(int screenWidth);
// Returns the body font family for a screen width.
std::string BodyFamilyFor(int screenWidth);

// Opens the window from the settings, loads the common and game assets and the scores.
// Returns false when no window could be opened (no display); nothing is loaded then.
// Note: a full-screen mode the display refuses falls back to a window with a notice.
// Note: with an engine test hooked in, the game assets load once that test (pushed on the
// screen stack) has run.
bool ApplyGraphicsSettings();
// Loads fonts, icons, logos, badges, sounds and the score file (and the jingle on the first call).
void LoadCommonObjects();
// Uses this drawing driver instead of the OpenGL one from the next ApplyGraphicsSettings.
// Note: tests pass the recording driver; null restores the OpenGL driver.
void SetGraphicsSetupDriver(std::shared_ptr<media::TDraw2DDriver> driver);
// Resets the set-up's state (800x600, 1280x960, nothing loaded, not yet opened).
void ResetGraphicsSetup();

}  // namespace engine

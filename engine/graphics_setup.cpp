// Graphics mode set-up and the common assets (fonts, icons, logos, badges,
// the start-up jingle, the numbered sound effects), followed by the game's
// assets and the score file through the engine hooks.
#include "engine/graphics_setup.h"

#include "engine/draw_helpers.h"
#include "engine/frame_end.h"
#include "engine/hooks.h"
#include "engine/identity.h"
#include "engine/log.h"
#include "engine/media/files.h"
#include "engine/media/folders.h"
#include "engine/media/paths.h"
#include "engine/media/text.h"
#include "engine/screen_stack.h"
#include "engine/setup_table.h"

namespace engine {

namespace {

constexpr const char* kSectionLine = "-=-=-=-=-=-=-=-=-=-=-=-=-=-";
constexpr const char* kCrashMarker = "crash.dat";
// Full-screen depths tried in order.
constexpr int kFullScreenDepths[3] = {32, 24, 16};
// Font style passed to every font load.
constexpr int kFontStyle = 4;
// FontGrid sizes 0..8 before scaling.
constexpr int kGridSizes[9] = {8, 12, 18, 24, 32, 40, 52, 64, 96};
constexpr const char* kHeadingFamily = "Blue Highway";
constexpr const char* kDisplayFontFile = "Acknowledge TT BRK.ttf";
// Image flags of the common images: masked and filtered, or masked only.
constexpr int kMaskedFiltered = 3;
constexpr int kMaskedSharp = 1;
constexpr int kSoundEffects = 200;

}  // namespace

std::vector<int> ModeWidths{0};
std::vector<int> ModeHeights{0};
int ModeCount = 0;
int ScreenWidth = 800, ScreenHeight = 600;
int VirtualWidth = 1280, VirtualHeight = 960;
int GraphicsOpened = 0;
std::array<float, 3> FontScale{1, 1, 1};
std::string BodyFontFamily = "SVBasicManual";
std::array<std::shared_ptr<media::TImageFont>, kUIFontSlots> UIFonts;
std::array<std::shared_ptr<media::TImageFont>, kFontGridSlots> FontGrid;
std::shared_ptr<media::TImage> IconsImage, IconsSharpImage, LogoImage, SiteLogoImage, BadgesImage;
std::shared_ptr<media::TSound> BadgeSound;
std::array<std::shared_ptr<media::TSound>, kSoundBankSlots> SoundBank;
std::array<std::shared_ptr<media::TChannel>, kSfxSlots> SfxChannels;
std::array<double, kSfxSlots> SfxVolumes{};

namespace {

// The driver the next set-up installs; null means the OpenGL driver.
std::shared_ptr<media::TDraw2DDriver> g_setupDriver;

// Loads a font of a family (a name without ".ttf", or a file name) at size x factor.
std::shared_ptr<media::TImageFont> LoadFont(const std::string& file, double size) {
    return media::LoadImageFont(file, static_cast<int>(size), kFontStyle);
}

// Returns the family's file name: a name gets ".ttf", a file name stays.
std::string FontFile(const std::string& family) {
    if (media::Right(family, 4) == ".ttf") return family;
    return family + ".ttf";
}

// Returns the depth to open: 0 for a window, else the first full-screen depth
// the display lists for the size (0 with a notice when none does).
int ChooseDepth() {
    if (Setup[SETUP_FULLSCREEN] != 1) return 0;
    for (int depth : kFullScreenDepths) {
        if (media::GraphicsModeExists(ScreenWidth, ScreenHeight, depth, 0)) return depth;
    }
    AddNotice("Can't set to fullscreen in this resolution.", 1);
    return 0;
}

// Returns where the crash marker lives: the path fixed at start-up (the game
// folder of a portable folder, the per-user state folder when installed).
std::string CrashMarkerPath() {
    return media::ProgramPathOr(media::ProgramPaths().crashMarker, kCrashMarker);
}

// Creates the empty marker file that shows the program died while setting up graphics.
void WriteCrashMarker() {
    auto marker = media::WriteFile(CrashMarkerPath());
    media::CloseFile(marker);
}

}  // namespace

bool UsableMode(int w, int h) {
    return w * 10 / 16 == h || w * 9 / 16 == h || w * 3 / 4 == h;
}

ModeList BuildModeList(const std::vector<media::TGraphicsMode>& modes, int wantWidth,
                       int wantHeight) {
    ModeList list;
    for (const media::TGraphicsMode& mode : modes) {
        int w = mode.width, h = mode.height;
        if (!UsableMode(w, h)) continue;
        bool seen = false;
        for (int i = 1; i <= list.count && !seen; ++i) {
            seen = list.widths[i] == w && list.heights[i] == h;
        }
        if (seen) continue;
        list.widths.push_back(w);
        list.heights.push_back(h);
        ++list.count;
        if (w == wantWidth && h == wantHeight) list.matched = list.count;
    }
    return list;
}

VirtualScreen VirtualSizeFor(int width, int height) {
    VirtualScreen v;
    if (width * 9 / 16 == height) {
        v.wide16x9 = true;
        v.width = 1600;
        v.height = 900;
    }
    if (width * 10 / 16 == height) {
        v.wide16x10 = true;
        v.width = 1440;
        v.height = 900;
    }
    return v;
}

std::array<float, 3> FontScaleFor(int screenWidth) {
    if (screenWidth >= 900) return {1.0f, 1.0f, 1.0f};
    if (screenWidth >= 600) return {1.2f, 1.4f, 1.8f};
    return {1.5f, 2.0f, 2.5f};
}

std::string BodyFamilyFor(int screenWidth) {
    return screenWidth > 800 ? "November" : "SVBasicManual";
}

bool ApplyGraphicsSettings() {
    std::vector<media::TGraphicsMode> driverModes;
    int n = media::CountGraphicsModes();
    for (int i = 0; i < n; ++i) {
        media::TGraphicsMode m;
        media::GetGraphicsMode(i, m.width, m.height, m.depth, m.hertz);
        driverModes.push_back(m);
    }
    ModeList list = BuildModeList(driverModes, Setup[SETUP_WIDTH], Setup[SETUP_HEIGHT]);
    ModeWidths = list.widths;
    ModeHeights = list.heights;
    ModeCount = list.count;
    if (list.matched > 0) {
        Setup[SETUP_MODEINDEX] = list.matched;
        ScreenWidth = list.widths[list.matched];
        ScreenHeight = list.heights[list.matched];
    }
    Setup[SETUP_WIDTH] = ScreenWidth;
    Setup[SETUP_HEIGHT] = ScreenHeight;

    WriteLog("");
    WriteLog(kSectionLine);
    WriteLog("Applying Graphical Settings");
    if (GraphicsOpened == 1) {
        media::CloseGraphics();
        WriteLog("\tChanged Graphics Mode ingame.");
    }
    Setup[SETUP_GFXENGINE] = 0;
    media::SetGraphicsDriver(g_setupDriver ? g_setupDriver : media::DefaultGraphicsDriver(), 2);
    WriteLog("\tUsing OpenGL Driver");

    int depth = ChooseDepth();
    WriteLog("\tResolution : " + media::Str(ScreenWidth) + "x" + media::Str(ScreenHeight) + "," +
             media::Str(depth));
    WriteCrashMarker();
    bool opened = media::OpenGraphics(ScreenWidth, ScreenHeight, depth, 60, 0) != nullptr;
    if (!opened && depth != 0) {
        // The display listed the mode but refused it: fall back to a window.
        WriteLog("\tFullscreen refused, using a window.");
        AddNotice("Can't set to fullscreen in this resolution.", 1);
        opened = media::OpenGraphics(ScreenWidth, ScreenHeight, 0, 60, 0) != nullptr;
    }
    if (!opened) {
        WriteLog("\tCould not open the display.");
        WriteLog(kSectionLine);
        media::DeleteFile(CrashMarkerPath());
        return false;
    }

    Setup[SETUP_WIDESCREEN] = 0;
    VirtualScreen v = VirtualSizeFor(ScreenWidth, ScreenHeight);
    if (v.wide16x9) {
        Setup[SETUP_WIDESCREEN] = 1;
        WriteLog("\tWidescreen mode!");
    }
    if (v.wide16x10) {
        Setup[SETUP_WIDESCREEN] = 1;
        WriteLog("\tWidescreen mode B (10:16)!");
    }
    VirtualWidth = v.width;
    VirtualHeight = v.height;
    media::SetVirtualResolution(static_cast<float>(VirtualWidth),
                                static_cast<float>(VirtualHeight));

    LoadCommonObjects();
    // The set-up ends (and the crash marker goes) once the engine test has run
    // on the new window, a screen of its own on top of whatever is running.
    auto finish = [] {
        if (Hooks().loadGameAssets) Hooks().loadGameAssets();
        WriteLog(kSectionLine);
        media::DeleteFile(CrashMarkerPath());
    };
    if (Hooks().engineTest) {
        Screens().PushAfterStep(Hooks().engineTest(finish));
    } else {
        finish();
    }
    return true;
}

void LoadCommonObjects() {
    media::AutoMidHandle(true);
    WriteLog("");
    WriteLog("Loading : Common Objects");
    WriteLog("");
    WriteLog("Switching to Default Folder");
    WriteLog("");
    media::ChangeDir("../");
    media::ChangeDir("Common/");

    WriteLog("\tDefault Fonts");
    FontScale = FontScaleFor(ScreenWidth);
    BodyFontFamily = BodyFamilyFor(ScreenWidth);
    const double f1 = FontScale[0], f2 = FontScale[1];
    const std::string body = FontFile(BodyFontFamily);
    const std::string heading = FontFile(kHeadingFamily);
    const std::string display = kDisplayFontFile;
    UIFonts.fill(nullptr);
    UIFonts[1] = LoadFont(body, 24 * f1);
    UIFonts[2] = LoadFont(body, 16 * f2);
    UIFonts[3] = LoadFont(body, 16 * f2);
    UIFonts[4] = LoadFont(body, 20 * f1);
    UIFonts[5] = LoadFont(heading, 96 * f1);
    UIFonts[6] = LoadFont(heading, 72 * f1);
    UIFonts[7] = LoadFont(heading, 32 * f1);
    UIFonts[8] = LoadFont(body, 32 * f1);
    UIFonts[9] = LoadFont(body, 14 * f1);
    UIFonts[10] = LoadFont(display, 112);
    UIFonts[11] = LoadFont(display, 96);
    UIFonts[12] = LoadFont(display, 32);
    UIFonts[13] = LoadFont(display, 20);
    const std::string families[3] = {body, heading, display};
    FontGrid.fill(nullptr);
    for (int family = 1; family <= 3; ++family) {
        for (int size = 0; size <= 8; ++size) {
            FontGrid[(family - 1) * 10 + size] =
                LoadFont(families[family - 1], kGridSizes[size] * f1);
        }
    }

    WriteLog("\tDefault Icons");
    IconsImage = media::LoadAnimImage("icons.png", 16, 16, 0, 64, kMaskedFiltered);
    IconsSharpImage = media::LoadAnimImage("icons.png", 16, 16, 0, 64, kMaskedSharp);

    WriteLog("\tLogos");
    if (media::Instr(SeriesName, "Reelbox 50") > 0) {
        LogoImage = media::LoadImage("logo50.png", kMaskedFiltered);
    } else {
        LogoImage = media::LoadImage("logo.png", kMaskedFiltered);
    }
    SiteLogoImage = media::LoadImage("Codaloo.png", kMaskedFiltered);

    WriteLog("\tBadgeGet");
    BadgeSound = media::LoadSound("open.ogg", 0);

    if (GraphicsOpened == 0) {
        BeginFrame(1);
        Backdrop();
        SfxChannels[kJingleSlot] = media::CueSound(BadgeSound, SfxChannels[kJingleSlot]);
        SfxChannels[kJingleSlot]->SetVolume(Setup[SETUP_SOUND] * Setup[SETUP_MASTER] / 100.0 /
                                            100.0);
        SfxChannels[kJingleSlot]->SetPaused(false);
        media::Flip(-1);
        GraphicsOpened = 1;
    }

    WriteLog("");
    WriteLog("Switching to Game Folder");
    media::ChangeDir("../");
    media::ChangeDir(GameFolder());

    BadgesImage = media::LoadAnimImage("badges.png", 64, 64, 0, 16, kMaskedFiltered);

    WriteLog("");
    WriteLog("Loading Sound effects");
    SoundBank.fill(nullptr);
    for (int n = 1; n <= kSoundEffects; ++n) {
        std::string name = media::Right("000" + media::Str(n), 3) + ".wav";
        if (media::FileType(name) == 1) {
            WriteLog("\tSFX(" + media::Str(n) + ")");
            SoundBank[n] = media::LoadSound(name, 0);
        }
    }
    WriteLog("Sounds loaded");
    WriteLog("");

    if (Hooks().loadScores) Hooks().loadScores();
}

void SetGraphicsSetupDriver(std::shared_ptr<media::TDraw2DDriver> driver) {
    g_setupDriver = std::move(driver);
}

void ResetGraphicsSetup() {
    ModeWidths = {0};
    ModeHeights = {0};
    ModeCount = 0;
    ScreenWidth = 800;
    ScreenHeight = 600;
    VirtualWidth = 1280;
    VirtualHeight = 960;
    GraphicsOpened = 0;
    FontScale = {1, 1, 1};
    BodyFontFamily = "SVBasicManual";
    UIFonts.fill(nullptr);
    FontGrid.fill(nullptr);
    IconsImage = IconsSharpImage = LogoImage = SiteLogoImage = BadgesImage = nullptr;
    BadgeSound = nullptr;
    SoundBank.fill(nullptr);
    for (auto& channel : SfxChannels) {
        if (channel) channel->Stop();
        channel = nullptr;
    }
    SfxVolumes.fill(0);
}

}  // namespace engine

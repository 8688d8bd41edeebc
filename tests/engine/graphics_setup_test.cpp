// Tests of the graphics set-up: the usable-mode rules, the logical screen per
// aspect, the font scale table, and whole set-ups on the recording driver in
// a folder laid out as the program's (log lines in order, fall-backs,
// full-screen depth, the start-up jingle once, sound effects, the marker file,
// and a display that cannot be opened).
#include <sys/stat.h>

#include <filesystem>

#include "engine/media/folders.h"
#include "tests/engine/engine_fixture.h"

using namespace engine;

namespace {

const std::string kSection = "-=-=-=-=-=-=-=-=-=-=-=-=-=-";

// Returns a short mono 16-bit PCM WAV file.
std::string TinyWav() {
    auto u32 = [](uint32_t v) {
        return std::string{static_cast<char>(v), static_cast<char>(v >> 8),
                           static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
    };
    auto u16 = [](uint16_t v) {
        return std::string{static_cast<char>(v), static_cast<char>(v >> 8)};
    };
    std::string samples(200, '\0');
    return "RIFF" + u32(36 + samples.size()) + "WAVEfmt " + u32(16) + u16(1) + u16(1) + u32(8000) +
           u32(16000) + u16(2) + u16(16) + "data" + u32(samples.size()) + samples;
}

// A recording driver that refuses every full-screen mode.
class WindowOnlyDriver : public media::TRecordingDriver {
  public:
    bool CreateGraphics(int width, int height, int depth, int hertz, int flags,
                        const std::string& title) override {
        if (depth != 0) return false;
        return TRecordingDriver::CreateGraphics(width, height, depth, hertz, flags, title);
    }
};

class GraphicsSetupTest : public zqtest::EngineFixture {
  protected:
    void SetUp() override {
        EngineFixture::SetUp();
        ASSERT_TRUE(media::ChangeDir(dir_.path()));
        ASSERT_EQ(::mkdir("Common", 0700), 0);
        ASSERT_EQ(::mkdir("274", 0700), 0);
        ASSERT_TRUE(OpenLog(dir_ / "Debug.txt"));
        ASSERT_TRUE(media::ChangeDir("274/"));
        Hooks().loadScores = [this] {
            WriteLog("SCORES");
            marker_during_load_ = media::FileType(dir_ / "274/crash.dat");
        };
        Hooks().loadGameAssets = [] { WriteLog("GAME"); };
    }
    std::vector<std::string> Log() {
        CloseLog();
        return LogLines(dir_ / "Debug.txt");
    }

    zqtest::TempDir dir_;
    zqtest::CwdGuard cwd_;
    int marker_during_load_ = -1;
};

}  // namespace

TEST(ModeRules, UsableAspectsInTruncatingArithmetic) {
    EXPECT_TRUE(UsableMode(1024, 768));   // 4:3
    EXPECT_TRUE(UsableMode(1920, 1080));  // 16:9
    EXPECT_TRUE(UsableMode(1920, 1200));  // 16:10
    EXPECT_TRUE(UsableMode(1366, 768));   // 1366 x 9 / 16 truncates to 768
    EXPECT_FALSE(UsableMode(1360, 768));  // 765
    EXPECT_FALSE(UsableMode(1280, 1024));
}

TEST(ModeRules, ListKeepsDriverOrderDropsDuplicatesAndFindsTheWantedSize) {
    std::vector<media::TGraphicsMode> modes = {
        {1920, 1080, 32, 60}, {1280, 1024, 32, 60}, {1024, 768, 32, 60},
        {1920, 1080, 16, 75}, {1024, 768, 24, 60},  {1366, 768, 32, 60},
    };
    ModeList list = BuildModeList(modes, 1024, 768);
    ASSERT_EQ(list.count, 3);
    EXPECT_EQ(list.widths, (std::vector<int>{0, 1920, 1024, 1366}));
    EXPECT_EQ(list.heights, (std::vector<int>{0, 1080, 768, 768}));
    EXPECT_EQ(list.matched, 2);
    EXPECT_EQ(BuildModeList(modes, 800, 600).matched, 0);
    EXPECT_EQ(BuildModeList({{1280, 1024, 32, 60}}, 1280, 1024).count, 0);
}

TEST(ModeRules, LogicalScreenPerAspect) {
    VirtualScreen wide = VirtualSizeFor(1920, 1080);
    EXPECT_EQ(wide.width, 1600);
    EXPECT_EQ(wide.height, 900);
    EXPECT_TRUE(wide.wide16x9);
    EXPECT_FALSE(wide.wide16x10);
    VirtualScreen tall = VirtualSizeFor(1920, 1200);
    EXPECT_EQ(tall.width, 1440);
    EXPECT_EQ(tall.height, 900);
    EXPECT_TRUE(tall.wide16x10);
    VirtualScreen square = VirtualSizeFor(1024, 768);
    EXPECT_EQ(square.width, 1280);
    EXPECT_EQ(square.height, 960);
    EXPECT_FALSE(square.wide16x9 || square.wide16x10);
}

TEST(ModeRules, FontScaleAndBodyFamilyByWidth) {
    EXPECT_EQ(FontScaleFor(900), (std::array<float, 3>{1, 1, 1}));
    EXPECT_EQ(FontScaleFor(899), (std::array<float, 3>{1.2f, 1.4f, 1.8f}));
    EXPECT_EQ(FontScaleFor(600), (std::array<float, 3>{1.2f, 1.4f, 1.8f}));
    EXPECT_EQ(FontScaleFor(599), (std::array<float, 3>{1.5f, 2.0f, 2.5f}));
    EXPECT_EQ(BodyFamilyFor(800), "SVBasicManual");
    EXPECT_EQ(BodyFamilyFor(801), "November");
    EXPECT_EQ(BodyFamilyFor(1920), "November");
}

TEST_F(GraphicsSetupTest, FirstSetUpLogsInOrderPlaysTheJingleAndEndsInTheGameFolder) {
    engine::Setup[SETUP_WIDTH] = 1024;
    engine::Setup[SETUP_HEIGHT] = 768;
    ASSERT_TRUE(ApplyGraphicsSettings());
    EXPECT_EQ(ModeCount, 5);  // 1280x1024 is 5:4
    EXPECT_EQ(engine::Setup[SETUP_MODEINDEX], 3);
    EXPECT_EQ(ScreenWidth, 1024);
    EXPECT_EQ(rec_->width, 1024);
    EXPECT_EQ(rec_->depth, 0);
    EXPECT_EQ(rec_->hertz, 60);
    EXPECT_EQ(VirtualWidth, 1280);
    EXPECT_EQ(VirtualHeight, 960);
    EXPECT_FLOAT_EQ(rec_->res_width, 1280);
    EXPECT_EQ(engine::Setup[SETUP_WIDESCREEN], 0);
    EXPECT_EQ(GraphicsOpened, 1);
    EXPECT_EQ(BodyFontFamily, "November");
    EXPECT_EQ(FontScale[0], 1.0f);
    ASSERT_NE(SfxChannels[kJingleSlot], nullptr);
    EXPECT_EQ(rec_->presents, 1);
    EXPECT_FALSE(rec_->OfKind(media::DrawKind::Rect).empty());  // the backdrop's first frame
    EXPECT_EQ(marker_during_load_, 1);
    EXPECT_EQ(media::FileType(dir_ / "274/crash.dat"), 0);
    EXPECT_EQ(media::CurrentDir(), dir_ / "274");

    std::vector<std::string> want = {"",
                                     kSection,
                                     "Applying Graphical Settings",
                                     "\tUsing OpenGL Driver",
                                     "\tResolution : 1024x768,0",
                                     "",
                                     "Loading : Common Objects",
                                     "",
                                     "Switching to Default Folder",
                                     "",
                                     "\tDefault Fonts",
                                     "\tDefault Icons",
                                     "\tLogos",
                                     "\tBadgeGet",
                                     "",
                                     "Switching to Game Folder",
                                     "",
                                     "Loading Sound effects",
                                     "Sounds loaded",
                                     "",
                                     "SCORES",
                                     "GAME",
                                     kSection};
    EXPECT_EQ(Log(), want);
}

TEST_F(GraphicsSetupTest, SecondSetUpReopensQuietlyAndSaysSo) {
    ASSERT_TRUE(ApplyGraphicsSettings());
    SfxChannels[kJingleSlot] = nullptr;
    rec_->Clear();
    int opens = rec_->opens;
    ASSERT_TRUE(ApplyGraphicsSettings());
    EXPECT_EQ(rec_->opens, opens + 1);
    EXPECT_EQ(SfxChannels[kJingleSlot], nullptr);
    EXPECT_EQ(rec_->presents, 0);
    auto log = Log();
    int changed = 0;
    for (size_t i = 0; i < log.size(); ++i) {
        if (log[i] == "\tChanged Graphics Mode ingame.") {
            ++changed;
            EXPECT_EQ(log[i - 1], "Applying Graphical Settings");
        }
    }
    EXPECT_EQ(changed, 1);
}

TEST_F(GraphicsSetupTest, EachFontSlotLoadsItsFileAtItsScaledSize) {
    for (const char* file :
         {"SVBasicManual.ttf", "November.ttf", "Blue Highway.ttf", "Acknowledge TT BRK.ttf"}) {
        std::filesystem::copy_file(std::string(ZQ_DIST_DIR) + "/Files/Common/" + file,
                                   dir_ / (std::string("Common/") + file));
    }
    const std::string body800 = "SVBasicManual.ttf", body1024 = "November.ttf";
    const std::string heading = "Blue Highway.ttf", display = "Acknowledge TT BRK.ttf";
    struct Slot {
        bool grid;  // FontGrid rather than UIFonts
        int slot;
        std::string file800;
        int size800;  // at 800x600: f1 1.2, f2 1.4, truncated
        std::string file1024;
        int size1024;  // at 1024x768: f1 = f2 = 1
    };
    const Slot slots[] = {
        {false, 1, body800, 28, body1024, 24}, {false, 2, body800, 22, body1024, 16},
        {false, 3, body800, 22, body1024, 16}, {false, 4, body800, 24, body1024, 20},
        {false, 5, heading, 115, heading, 96}, {false, 6, heading, 86, heading, 72},
        {false, 7, heading, 38, heading, 32},  {false, 8, body800, 38, body1024, 32},
        {false, 9, body800, 16, body1024, 14}, {false, 10, display, 112, display, 112},
        {false, 11, display, 96, display, 96}, {false, 12, display, 32, display, 32},
        {false, 13, display, 20, display, 20}, {true, 0, body800, 9, body1024, 8},
        {true, 8, body800, 115, body1024, 96}, {true, 13, heading, 28, heading, 24},
        {true, 24, display, 38, display, 32},  {true, 28, display, 115, display, 96},
    };
    for (int width : {800, 1024}) {
        engine::Setup[SETUP_WIDTH] = width;
        engine::Setup[SETUP_HEIGHT] = width * 3 / 4;
        ASSERT_TRUE(ApplyGraphicsSettings());
        for (const Slot& s : slots) {
            const auto& font = s.grid ? FontGrid[s.slot] : UIFonts[s.slot];
            ASSERT_NE(font, nullptr) << width << (s.grid ? " grid " : " ui ") << s.slot;
            EXPECT_EQ(font->Path(), width == 800 ? s.file800 : s.file1024)
                << width << (s.grid ? " grid " : " ui ") << s.slot;
            EXPECT_EQ(font->Size(), width == 800 ? s.size800 : s.size1024)
                << width << (s.grid ? " grid " : " ui ") << s.slot;
        }
        EXPECT_EQ(UIFonts[0], nullptr);
        EXPECT_EQ(FontGrid[9], nullptr);  // each family's tenth slot stays empty
    }
}

TEST_F(GraphicsSetupTest, UnlistedSizeFallsBackToThePreviousMode) {
    engine::Setup[SETUP_WIDTH] = 1000;
    engine::Setup[SETUP_HEIGHT] = 700;
    engine::Setup[SETUP_MODEINDEX] = 4;
    ASSERT_TRUE(ApplyGraphicsSettings());
    EXPECT_EQ(rec_->width, 800);
    EXPECT_EQ(rec_->height, 600);
    EXPECT_EQ(engine::Setup[SETUP_WIDTH], 800);
    EXPECT_EQ(engine::Setup[SETUP_HEIGHT], 600);
    EXPECT_EQ(engine::Setup[SETUP_MODEINDEX], 4);
    EXPECT_EQ(BodyFontFamily, "SVBasicManual");
    EXPECT_EQ(FontScale[0], 1.2f);
}

TEST_F(GraphicsSetupTest, OnlyFiveToFourModesLeaveTheListEmpty) {
    rec_->modes = {{1280, 1024, 32, 60}};
    engine::Setup[SETUP_WIDTH] = 1280;
    engine::Setup[SETUP_HEIGHT] = 1024;
    ASSERT_TRUE(ApplyGraphicsSettings());
    EXPECT_EQ(ModeCount, 0);
    EXPECT_EQ(rec_->width, 800);
    EXPECT_EQ(rec_->height, 600);
}

TEST_F(GraphicsSetupTest, WidescreenModesPickTheirLogicalScreens) {
    rec_->modes = {{1920, 1080, 32, 60}, {1920, 1200, 32, 60}};
    engine::Setup[SETUP_WIDTH] = 1920;
    engine::Setup[SETUP_HEIGHT] = 1200;
    ASSERT_TRUE(ApplyGraphicsSettings());
    EXPECT_EQ(VirtualWidth, 1440);
    EXPECT_EQ(VirtualHeight, 900);
    EXPECT_EQ(engine::Setup[SETUP_WIDESCREEN], 1);
    engine::Setup[SETUP_WIDTH] = 1920;
    engine::Setup[SETUP_HEIGHT] = 1080;
    ASSERT_TRUE(ApplyGraphicsSettings());
    EXPECT_EQ(VirtualWidth, 1600);
    EXPECT_EQ(VirtualHeight, 900);
    auto log = Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "\tWidescreen mode B (10:16)!"), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "\tWidescreen mode!"), 1);
}

TEST_F(GraphicsSetupTest, FullScreenTakesTheDeepestListedDepth) {
    rec_->modes = {{1024, 768, 16, 60}, {1024, 768, 24, 60}};
    engine::Setup[SETUP_FULLSCREEN] = 1;
    engine::Setup[SETUP_WIDTH] = 1024;
    engine::Setup[SETUP_HEIGHT] = 768;
    ASSERT_TRUE(ApplyGraphicsSettings());
    EXPECT_EQ(rec_->depth, 24);
    auto log = Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "\tResolution : 1024x768,24"), 1);
}

TEST_F(GraphicsSetupTest, FullScreenWithoutADepthFallsBackToAWindowWithANotice) {
    rec_->modes = {{1024, 768, 8, 60}};
    engine::Setup[SETUP_FULLSCREEN] = 1;
    engine::Setup[SETUP_WIDTH] = 1024;
    engine::Setup[SETUP_HEIGHT] = 768;
    ASSERT_TRUE(ApplyGraphicsSettings());
    EXPECT_EQ(rec_->depth, 0);
    EXPECT_EQ(engine::Setup[SETUP_FULLSCREEN], 1);
    ASSERT_EQ(NoticeList.size(), 1u);
    EXPECT_EQ(NoticeList.front().txt, "Can't set to fullscreen in this resolution.");
    auto log = Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "\tResolution : 1024x768,0"), 1);
}

TEST_F(GraphicsSetupTest, RefusedFullScreenOpensAWindowInstead) {
    auto driver = std::make_shared<WindowOnlyDriver>();
    SetGraphicsSetupDriver(driver);
    engine::Setup[SETUP_FULLSCREEN] = 1;
    engine::Setup[SETUP_WIDTH] = 1024;
    engine::Setup[SETUP_HEIGHT] = 768;
    ASSERT_TRUE(ApplyGraphicsSettings());
    EXPECT_TRUE(driver->IsOpen());
    EXPECT_EQ(driver->depth, 0);
    EXPECT_EQ(NoticeList.size(), 1u);
    EXPECT_EQ(GraphicsOpened, 1);
}

TEST_F(GraphicsSetupTest, NoDisplayIsReportedAndNothingIsLoaded) {
    rec_->fail_open = true;
    bool assetsLoaded = false;
    Hooks().loadGameAssets = [&] { assetsLoaded = true; };
    EXPECT_FALSE(ApplyGraphicsSettings());
    EXPECT_FALSE(assetsLoaded);
    EXPECT_EQ(marker_during_load_, -1);
    EXPECT_EQ(GraphicsOpened, 0);
    EXPECT_EQ(media::FileType("crash.dat"), 0);
    auto log = Log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "\tCould not open the display.");
}

TEST_F(GraphicsSetupTest, PresentSoundEffectsAreLoadedAndLogged) {
    ASSERT_TRUE(zqtest::WriteWholeFile(dir_ / "274/001.wav", TinyWav()));
    ASSERT_TRUE(zqtest::WriteWholeFile(dir_ / "274/150.wav", TinyWav()));
    ASSERT_TRUE(ApplyGraphicsSettings());
    EXPECT_NE(SoundBank[1], nullptr);
    EXPECT_NE(SoundBank[150], nullptr);
    EXPECT_EQ(SoundBank[2], nullptr);
    auto log = Log();
    auto at = std::find(log.begin(), log.end(), "Loading Sound effects");
    ASSERT_NE(at, log.end());
    EXPECT_EQ(*(at + 1), "\tSFX(1)");
    EXPECT_EQ(*(at + 2), "\tSFX(150)");
    EXPECT_EQ(*(at + 3), "Sounds loaded");
}

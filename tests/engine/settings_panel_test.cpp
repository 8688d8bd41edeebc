// Tests of the settings panel through the recording driver with scripted
// clicks and keys: the slide, option buttons (wrap-around, two-line labels,
// the audio driver list), resolution stepping, slider snapping, the verdict
// line, Apply, the volume listener, the joystick switch and live test, the
// control grid switch and icons drawn past a used-up sprite budget.
#include "engine/settings_panel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "engine/controls.h"
#include "engine/draw_helpers.h"
#include "engine/frame_end.h"
#include "engine/game_state.h"
#include "engine/graphics_setup.h"
#include "engine/hooks.h"
#include "engine/media/audio.h"
#include "engine/media/audio_driver.h"
#include "engine/media/clock.h"
#include "engine/media/folders.h"
#include "engine/media/graphics.h"
#include "engine/media/image_font.h"
#include "engine/media/key_codes.h"
#include "engine/media/recording_driver.h"
#include "engine/setup_table.h"
#include "tests/support/clocks.h"
#include "tests/support/temp_dir.h"

namespace engine {
namespace {

using media::DrawKind;
using media::DrawRecord;

constexpr int kVW = 1280;
constexpr int kVH = 960;
constexpr int kRightX = kVW - 280;  // the right column

// The panel on a 1280x960 logical screen with icons and scripted input.
class SettingsPanelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        rec_ = media::UseRecordingDriver();
        ASSERT_NE(media::OpenGraphics(kVW, kVH), nullptr);
        Hooks() = EngineHooks{};
        SetupDefaults();
        ResetDrawHelpers();
        ResetFrameEnd();
        ResetControls();
        ResetGameState();
        ResetSettingsPanel();
        PointerMode = 1;
        VirtualWidth = kVW;
        VirtualHeight = kVH;
        IconsImage = Sheet(64);
        IconsSharpImage = Sheet(64);
        // Every font slot holds the built-in font itself (see TearDown).
        UIFonts.fill(media::DefaultImageFont());
        media::SetImageFont(media::DefaultImageFont());
        AudioDriverNames = {"Null", "FreeMixer"};

        SettingsPanelCalls& io = SettingsPanelIO();
        io.mouseHit = [this](int button) {
            int& pending = button == media::MOUSE_LEFT ? leftClicks_ : rightClicks_;
            if (button != media::MOUSE_LEFT && button != media::MOUSE_RIGHT) return 0;
            int n = pending;
            pending = 0;
            return n;
        };
        io.mouseDown = [this](int button) { return button == media::MOUSE_LEFT && held_; };
        io.keyHit = [this](int key) {
            auto it = std::find(keys_.begin(), keys_.end(), key);
            if (it == keys_.end()) return 0;
            keys_.erase(it);
            return 1;
        };
        io.joyDown = [this](int button, int port) { return button == 0 && port == joyHeldPort_; };
        PointAt(0, 900);
    }
    void TearDown() override {
        // Nothing may keep the built-in font past the test: the media layer's
        // font cache is released after FreeType at exit.
        UIFonts.fill(nullptr);
        media::SetImageFont(nullptr);
        ResetSettingsPanel();
        Hooks() = EngineHooks{};
        ResetControls();
        ResetGameState();
        IconsImage = nullptr;
        IconsSharpImage = nullptr;
        SfxChannels.fill(nullptr);
        media::CloseGraphics();
        media::SetGraphicsDriver(nullptr, 2);
    }

    static std::shared_ptr<media::TImage> Sheet(int frames) {
        auto pm = media::CreatePixmap(16, 16);
        std::vector<std::shared_ptr<media::TPixmap>> list(static_cast<size_t>(frames), pm);
        return media::LoadImageFromPixmaps(list, 0);
    }
    static void PointAt(int x, int y) {
        PointerX = x;
        PointerY = y;
    }
    // Opens the panel fully (10 frames).
    void OpenPanel() {
        SettingsOpen = 1;
        for (int i = 0; i < 10; ++i) SettingsPanel();
        ASSERT_EQ(SettingsSlide, kSettingsSlideOpen);
    }
    // Runs one frame of the open panel with a left click.
    void ClickFrame() {
        leftClicks_ = 1;
        rec_->Clear();
        SettingsPanel();
    }
    std::vector<DrawRecord> Texts() const { return rec_->OfKind(DrawKind::Text); }
    const DrawRecord* FindText(const std::string& text) const {
        for (const DrawRecord& r : rec_->records) {
            if (r.kind == DrawKind::Text && r.text == text) return &r;
        }
        return nullptr;
    }

    zqtest::VirtualClockInPlace<> clock_;
    std::shared_ptr<media::TRecordingDriver> rec_;
    int leftClicks_ = 0;
    int rightClicks_ = 0;
    bool held_ = false;
    std::vector<int> keys_;
    int joyHeldPort_ = -1;
};

// --- Slide -------------------------------------------------------------------

TEST_F(SettingsPanelTest, OpensInTenFramesAndClosesInTenAfterWhichNothingIsDrawn) {
    SettingsPanel();
    EXPECT_EQ(SettingsSlide, -300);
    EXPECT_TRUE(rec_->records.empty());

    SettingsOpen = 1;
    std::vector<int> seen;
    for (int i = 0; i < 11; ++i) {
        SettingsPanel();
        seen.push_back(SettingsSlide);
    }
    EXPECT_EQ(seen, (std::vector<int>{-268, -236, -204, -172, -140, -108, -76, -44, -12, 20, 20}));

    SettingsOpen = 0;
    for (int i = 0; i < 9; ++i) SettingsPanel();
    EXPECT_EQ(SettingsSlide, -268);
    rec_->Clear();
    SettingsPanel();
    EXPECT_EQ(SettingsSlide, -300);
    EXPECT_TRUE(rec_->records.empty());
    SettingsPanel();
    EXPECT_EQ(SettingsSlide, -300);
}

TEST_F(SettingsPanelTest, ClicksAreTakenEveryFrameEvenWhileShut) {
    leftClicks_ = 1;
    SettingsPanel();
    EXPECT_EQ(LeftClick, 1);
    EXPECT_EQ(leftClicks_, 0);
    SettingsPanel();
    EXPECT_EQ(LeftClick, 0);
}

TEST_F(SettingsPanelTest, BackingStripFollowsTheSlide) {
    OpenPanel();
    rec_->Clear();
    SettingsPanel();
    auto rects = rec_->OfKind(DrawKind::Rect);
    ASSERT_GE(rects.size(), 3u);
    EXPECT_EQ(rects[0].h, 20 + 300);
    EXPECT_EQ(rects[0].w, kVW);
    EXPECT_EQ(rects[0].state.blend_mode, media::SHADEBLEND);
    EXPECT_EQ(rects[2].y, 20 + 298);
    EXPECT_EQ(rects[2].h, 2);
}

// --- Option buttons ----------------------------------------------------------

TEST_F(SettingsPanelTest, OptionCyclerWrapsAroundItsOptions) {
    SettingsSlide = 20;
    engine::Setup[SETUP_ESS] = 0;
    PointAt(25, 30 + 20 + 10);
    std::vector<int> seen;
    for (int i = 0; i < 4; ++i) {
        LeftClick = 1;
        EXPECT_EQ(OptionCycler(SETUP_ESS, 20, 30, 18, "A", "B", "C"), 1);
        seen.push_back(engine::Setup[SETUP_ESS]);
    }
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 0, 1}));
}

TEST_F(SettingsPanelTest, OptionCyclerWithoutClickOrPointerChangesNothing) {
    SettingsSlide = 20;
    engine::Setup[SETUP_FULLSCREEN] = 1;
    PointAt(25, 60);
    LeftClick = 0;
    EXPECT_EQ(OptionCycler(SETUP_FULLSCREEN, 20, 30, 13, "Windowed", "Fullscreen"), 1);
    EXPECT_EQ(engine::Setup[SETUP_FULLSCREEN], 1);

    PointAt(600, 600);
    LeftClick = 1;
    EXPECT_EQ(OptionCycler(SETUP_FULLSCREEN, 20, 30, 13, "Windowed", "Fullscreen"), 0);
    EXPECT_EQ(engine::Setup[SETUP_FULLSCREEN], 1);
}

TEST_F(SettingsPanelTest, OptionCyclerShowsTheChosenLabelAndIcon) {
    SettingsSlide = 20;
    engine::Setup[SETUP_FULLSCREEN] = 1;
    PointAt(600, 600);
    rec_->Clear();
    OptionCycler(SETUP_FULLSCREEN, 20, 30, 13, "Windowed", "Fullscreen");
    const DrawRecord* label = FindText("Fullscreen");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->x, 20 + 38);
    EXPECT_EQ(label->y, 30 + 20 + 16 - media::TextHeight() / 2);
    auto images = rec_->OfKind(DrawKind::Image);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].frame, 14);
    EXPECT_EQ(images[0].image, IconsSharpImage.get());

    // Hovered: the icon glows (the base and the glow frame).
    PointAt(25, 60);
    rec_->Clear();
    OptionCycler(SETUP_FULLSCREEN, 20, 30, 13, "Windowed", "Fullscreen");
    images = rec_->OfKind(DrawKind::Image);
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[1].image, IconsImage.get());
    EXPECT_EQ(images[1].frame, 14);
}

TEST_F(SettingsPanelTest, OutOfRangeChoiceShowsTheFirstOptionAndCyclesBackIntoRange) {
    SettingsSlide = 20;
    engine::Setup[SETUP_FULLSCREEN] = 7;
    PointAt(25, 60);
    LeftClick = 1;
    rec_->Clear();
    OptionCycler(SETUP_FULLSCREEN, 20, 30, 13, "Windowed", "Fullscreen");
    EXPECT_NE(FindText("Windowed"), nullptr);
    EXPECT_EQ(engine::Setup[SETUP_FULLSCREEN], 0);

    engine::Setup[SETUP_FULLSCREEN] = -5;
    LeftClick = 1;
    OptionCycler(SETUP_FULLSCREEN, 20, 30, 13, "Windowed", "Fullscreen");
    EXPECT_GE(engine::Setup[SETUP_FULLSCREEN], 0);
    EXPECT_LE(engine::Setup[SETUP_FULLSCREEN], 1);
}

TEST_F(SettingsPanelTest, BarSplitsALabelIntoTwoLines) {
    SettingsSlide = 20;
    engine::Setup[SETUP_ESS] = 1;
    PointAt(600, 600);
    rec_->Clear();
    OptionCycler(SETUP_ESS, 20, 146, 18, "Draw all Frames|Decent System", "Frameskip|Slow System");
    const DrawRecord* first = FindText("Frameskip");
    const DrawRecord* second = FindText("Slow System");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->y - first->y, 16);
    EXPECT_EQ(first->y, 146 + 20 + 8 - media::TextHeight() / 2);
}

TEST_F(SettingsPanelTest, AudioDriverButtonCyclesOverTheDriversByName) {
    OpenPanel();
    engine::Setup[SETUP_AUDIODRIVER] = 0;
    PointAt(kRightX + 10, 20 + 20 + 10);
    std::vector<int> seen{engine::Setup[SETUP_AUDIODRIVER]};
    for (int i = 0; i < 2; ++i) {
        ClickFrame();
        seen.push_back(engine::Setup[SETUP_AUDIODRIVER]);
    }
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 0}));
    EXPECT_NE(FindText("Audio Driver"), nullptr);
    EXPECT_NE(FindText("FreeMixer"), nullptr);  // drawn before the click moved it on
    EXPECT_NE(FindText("Changes require a Restart"), nullptr);
}

TEST_F(SettingsPanelTest, PlatformLinesWrapUnderTheJoysticksAndActOnAClick) {
    int toggles = 0;
    const std::string note(40, 'n');  // two words wider together than a line
    SetPlatformLines([&] {
        return std::vector<PanelLine>{{note + " " + note, nullptr},
                                      {"Runs sent: no", [&] { ++toggles; }}};
    });
    OpenPanel();
    rec_->Clear();
    SettingsPanel();
    const DrawRecord* first = FindText(note);
    const DrawRecord* runs = FindText("Runs sent: no");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(runs, nullptr);
    const std::vector<DrawRecord> texts = Texts();
    EXPECT_EQ(std::count_if(texts.begin(), texts.end(),
                            [&](const DrawRecord& r) { return r.text == note; }),
              2);  // the note took two lines
    // A click on the note does nothing; on the acting line, it acts once and is used up.
    PointAt(static_cast<int>(first->x) + 2, static_cast<int>(first->y) + 2);
    ClickFrame();
    EXPECT_EQ(toggles, 0);
    PointAt(static_cast<int>(runs->x) + 2, static_cast<int>(runs->y) + 2);
    ClickFrame();
    EXPECT_EQ(toggles, 1);
    EXPECT_EQ(LeftClick, 0);
    SetPlatformLines(nullptr);
}

// --- Resolution --------------------------------------------------------------

class ResolutionTest : public SettingsPanelTest {
  protected:
    void SetUp() override {
        SettingsPanelTest::SetUp();
        ModeCount = 3;
        ModeWidths = {0, 800, 1024, 1280};
        ModeHeights = {0, 600, 768, 960};
        engine::Setup[SETUP_MODEINDEX] = 3;
        OpenPanel();
        PointAt(100, 70 + 20 + 40);  // on the resolution area, below its button
    }
};

TEST_F(ResolutionTest, KeysStepUpAndDownWithWrapAround) {
    keys_ = {media::KEY_RIGHT};
    SettingsPanel();
    EXPECT_EQ(engine::Setup[SETUP_MODEINDEX], 1);
    EXPECT_EQ(engine::Setup[SETUP_WIDTH], 800);
    EXPECT_EQ(engine::Setup[SETUP_HEIGHT], 600);

    keys_ = {media::KEY_DOWN};
    SettingsPanel();
    EXPECT_EQ(engine::Setup[SETUP_MODEINDEX], 3);
    EXPECT_EQ(engine::Setup[SETUP_WIDTH], 1280);
    EXPECT_EQ(engine::Setup[SETUP_HEIGHT], 960);

    keys_ = {media::KEY_UP};
    SettingsPanel();
    EXPECT_EQ(engine::Setup[SETUP_MODEINDEX], 1);
    keys_ = {media::KEY_LEFT};
    SettingsPanel();
    EXPECT_EQ(engine::Setup[SETUP_MODEINDEX], 3);
}

TEST_F(ResolutionTest, ClicksStepUpAndRightClicksDown) {
    ClickFrame();
    EXPECT_EQ(engine::Setup[SETUP_MODEINDEX], 1);
    rightClicks_ = 1;
    SettingsPanel();
    EXPECT_EQ(engine::Setup[SETUP_MODEINDEX], 3);
    rightClicks_ = 1;
    SettingsPanel();
    EXPECT_EQ(engine::Setup[SETUP_MODEINDEX], 2);
    EXPECT_EQ(engine::Setup[SETUP_WIDTH], 1024);
}

TEST_F(ResolutionTest, KeysDoNothingWhileThePointerIsElsewhere) {
    PointAt(600, 800);
    keys_ = {media::KEY_RIGHT};
    SettingsPanel();
    EXPECT_EQ(engine::Setup[SETUP_MODEINDEX], 3);
    EXPECT_EQ(keys_.size(), 1u);  // the press is left for others
}

TEST_F(ResolutionTest, NoListedModesLeavesTheSettingsAlone) {
    ModeCount = 0;
    ModeWidths = {0};
    ModeHeights = {0};
    engine::Setup[SETUP_WIDTH] = 1280;
    keys_ = {media::KEY_RIGHT};
    ClickFrame();
    EXPECT_EQ(engine::Setup[SETUP_MODEINDEX], 3);
    EXPECT_EQ(engine::Setup[SETUP_WIDTH], 1280);
}

TEST_F(ResolutionTest, ShowsTheSizeAndAVerdictOnItsHeight) {
    engine::Setup[SETUP_WIDTH] = 1280;
    engine::Setup[SETUP_HEIGHT] = 960;
    rec_->Clear();
    SettingsPanel();
    EXPECT_NE(FindText("1280x960"), nullptr);
    const DrawRecord* verdict = FindText("Native (Crisp, Clear)");
    ASSERT_NE(verdict, nullptr);
    EXPECT_EQ(verdict->x, 80);
    EXPECT_EQ(verdict->y, 20 + 108 + 20);
    EXPECT_EQ(verdict->state.color_red, 255);
    EXPECT_EQ(verdict->state.color_blue, 80);

    EXPECT_EQ(ResolutionVerdict(899), "Small (Bit blurry)");
    EXPECT_EQ(ResolutionVerdict(900), "Native (Crisp, Clear)");
    EXPECT_EQ(ResolutionVerdict(960), "Native (Crisp, Clear)");
    EXPECT_EQ(ResolutionVerdict(961), "Bigger! (High-Definition!)");
}

TEST(StepModeIndex, WrapsAndRecoversFromIndexesOutOfRange) {
    EXPECT_EQ(StepModeIndex(3, 3, 1), 1);
    EXPECT_EQ(StepModeIndex(1, 3, -1), 3);
    EXPECT_EQ(StepModeIndex(2, 3, 1), 3);
    EXPECT_EQ(StepModeIndex(9, 3, -1), 3);
    EXPECT_EQ(StepModeIndex(0, 3, 1), 1);
    EXPECT_EQ(StepModeIndex(1, 1, 1), 1);
    EXPECT_EQ(StepModeIndex(2, 0, 1), 2);
}

// --- Sliders and volumes -----------------------------------------------------

TEST_F(SettingsPanelTest, SliderFollowsThePointerWhileHeldAndSnapsAtBothEnds) {
    SettingsSlide = 20;
    const int x = 500, y = 400;
    held_ = true;
    PointAt(x - 1, y + 5);  // the left end
    EXPECT_EQ(Slider(40, x, y, "Music"), 1);
    EXPECT_EQ(SnapVolume(Slider(40, x, y, "Music")), 0);
    PointAt(x + 97, y + 5);  // the right end
    EXPECT_EQ(Slider(40, x, y, "Music"), 99);
    EXPECT_EQ(SnapVolume(Slider(40, x, y, "Music")), 100);
    PointAt(x + 48, y + 5);
    EXPECT_EQ(Slider(40, x, y, "Music"), 50);

    held_ = false;
    EXPECT_EQ(Slider(40, x, y, "Music"), 40);
    held_ = true;
    PointAt(x + 48, y + 30);  // below the slider
    EXPECT_EQ(Slider(40, x, y, "Music"), 40);

    for (int v : {0, 5}) EXPECT_EQ(SnapVolume(v), 0);
    for (int v : {6, 50, 94}) EXPECT_EQ(SnapVolume(v), v);
    for (int v : {95, 100}) EXPECT_EQ(SnapVolume(v), 100);
}

TEST_F(SettingsPanelTest, SliderDrawsTrackKnobAndLabel) {
    rec_->Clear();
    Slider(30, 500, 400, "Sounds");
    auto images = rec_->OfKind(DrawKind::Image);
    ASSERT_EQ(images.size(), 3u);
    EXPECT_EQ(images[0].frame, 21);
    EXPECT_EQ(images[1].frame, 22);
    EXPECT_EQ(images[2].frame, 23);
    EXPECT_FLOAT_EQ(images[2].state.tform_scale_y, 1.5f);
    // The knob's top-left is at x + value - 9.
    EXPECT_FLOAT_EQ(images[2].x, 500 + 30 - 9 + 8);
    ASSERT_NE(FindText("Sounds : 30"), nullptr);
    EXPECT_EQ(FindText("Sounds : 30")->y, 420);
}

TEST_F(SettingsPanelTest, DraggingAVolumeStoresItAndTellsTheListenerAtOnce) {
    int calls = 0;
    SetVolumeListener([&] { ++calls; });
    OpenPanel();
    EXPECT_EQ(calls, 0);
    engine::Setup[SETUP_MUSIC] = 40;
    const int master = engine::Setup[SETUP_MASTER];
    held_ = true;
    // Music is the third slider: y = 20 + 10 + 60 + 50 + 50.
    const int y = 20 + 10 + 60 + 50 + 50;
    PointAt(kRightX + 97, y + 5);
    SettingsPanel();
    EXPECT_EQ(engine::Setup[SETUP_MUSIC], 100);
    EXPECT_EQ(calls, 1);
    SettingsPanel();  // unchanged: no call
    EXPECT_EQ(calls, 1);
    PointAt(kRightX - 1, y + 5);
    SettingsPanel();
    EXPECT_EQ(engine::Setup[SETUP_MUSIC], 0);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(engine::Setup[SETUP_MASTER], master);  // the other sliders were not touched
}

// An audio driver "Probe" whose voices keep the settings they were last given,
// in the order the voices were made.
struct ProbeAudio {
    struct Voice : media::audio_detail::Voice {
        void Cue(const std::shared_ptr<const media::SoundData>&, bool,
                 const media::audio_detail::VoiceSettings& s) override {
            settings = s;
            live = true;
        }
        void Stop() override { live = false; }
        void SetPaused(bool) override {}
        void Apply(const media::audio_detail::VoiceSettings& s) override { settings = s; }
        bool Playing() override { return live; }
        media::audio_detail::VoiceSettings settings;
        bool live = false;
    };
    struct Driver : media::audio_detail::AudioDriver {
        explicit Driver(ProbeAudio& a) : audio(a) {}
        bool Start() override { return true; }
        std::shared_ptr<media::audio_detail::Voice> NewVoice() override {
            audio.voices.push_back(std::make_shared<Voice>());
            return audio.voices.back();
        }
        void Shutdown() override {}
        ProbeAudio& audio;
    };
    ProbeAudio() {
        source = media::audio_detail::AddAudioDriverSource(
            {[] { return std::vector<std::string>{"Probe"}; },
             [this](const std::string&) { return std::make_unique<Driver>(*this); }});
        media::SetAudioDriver("Probe");
    }
    ~ProbeAudio() {
        media::SetAudioDriver("Null");
        media::audio_detail::RemoveAudioDriverSource(source);
    }
    std::vector<std::shared_ptr<Voice>> voices;
    int source = 0;
};

TEST_F(SettingsPanelTest, ApplyVolumesReachesLiveEffectChannelsAndTheListener) {
    ProbeAudio audio;
    engine::Setup[SETUP_MASTER] = 80;
    engine::Setup[SETUP_SOUND] = 50;
    auto sound = std::make_shared<media::TSound>(
        media::SoundData{1, 44100, std::vector<int16_t>(441, 100)}, media::SOUND_LOOP);
    SfxChannels[5] = sound->Play();
    SfxVolumes[5] = 0.5;
    SfxChannels[kJingleSlot] = sound->Play();
    ASSERT_EQ(audio.voices.size(), 2u);
    const auto volumeOf = [&](size_t voice) { return audio.voices[voice]->settings.volume; };
    double volumeTheListenerSaw = -1;
    int calls = 0;
    SetVolumeListener([&] {
        ++calls;
        volumeTheListenerSaw = volumeOf(0);
    });
    ApplyVolumes();
    // Sound 50% of master 80%: effects at 0.4, times the effect's own volume.
    EXPECT_DOUBLE_EQ(volumeOf(0), 0.2);
    EXPECT_DOUBLE_EQ(volumeOf(1), 0.4);
    EXPECT_EQ(SfxChannels[5]->Playing(), 1);  // still playing, now at the new volume
    EXPECT_EQ(calls, 1);
    EXPECT_DOUBLE_EQ(volumeTheListenerSaw, 0.2);  // told after the channels were set
    SetVolumeListener(nullptr);
    engine::Setup[SETUP_SOUND] = 0;
    ApplyVolumes();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(volumeOf(0), 0.0);
    SfxChannels[5]->Stop();
    SfxChannels[kJingleSlot]->Stop();
}

// --- Apply -------------------------------------------------------------------

TEST_F(SettingsPanelTest, ApplyClosesThePanelSavesAndReopensTheWindow) {
    zqtest::TempDir dir;
    zqtest::CwdGuard cwd;
    ASSERT_TRUE(media::ChangeDir(dir.path()));
    SetGraphicsSetupDriver(rec_);
    int saves = 0;
    Hooks().saveSetup = [&] { ++saves; };
    OpenPanel();
    const int opensBefore = rec_->opens;
    PointAt(22, 20 + 258 + 4);
    ClickFrame();
    EXPECT_EQ(SettingsOpen, 0);
    EXPECT_EQ(saves, 1);
    EXPECT_EQ(rec_->opens, opensBefore + 1);
    EXPECT_EQ(LeftClick, 0);
    SetGraphicsSetupDriver(nullptr);
    ResetGraphicsSetup();
}

TEST_F(SettingsPanelTest, ApplyThatCannotOpenAWindowReportsTheLostDisplay) {
    zqtest::TempDir dir;
    zqtest::CwdGuard cwd;
    ASSERT_TRUE(media::ChangeDir(dir.path()));
    SetGraphicsSetupDriver(rec_);
    int lost = 0;
    Hooks().displayLost = [&] { ++lost; };
    OpenPanel();
    rec_->fail_open = true;
    PointAt(22, 20 + 258 + 4);
    ClickFrame();
    EXPECT_EQ(lost, 1);
    rec_->fail_open = false;
    Hooks().displayLost = nullptr;
    SetGraphicsSetupDriver(nullptr);
    ResetGraphicsSetup();
}

TEST_F(SettingsPanelTest, ApplyIsHighlightedUnderThePointerAndIdleWithoutAClick) {
    int saves = 0;
    Hooks().saveSetup = [&] { ++saves; };
    OpenPanel();
    PointAt(22, 20 + 258 + 4);
    rec_->Clear();
    SettingsPanel();
    EXPECT_EQ(saves, 0);
    EXPECT_EQ(SettingsOpen, 1);
    bool highlighted = false;
    for (const DrawRecord& r : rec_->OfKind(DrawKind::Rect)) {
        highlighted |= r.x == 18 && r.y == 20 + 258 && r.state.color_green == 120;
    }
    EXPECT_TRUE(highlighted);
}

// --- Joysticks ---------------------------------------------------------------

class JoystickListTest : public SettingsPanelTest {
  protected:
    void SetUp() override {
        SettingsPanelTest::SetUp();
        JoyPorts = 2;
        JoyNames[1] = "Pad One";
        JoyNames[2] = "Pad Two";
        JoyEnabled[1] = 1;
        JoyEnabled[2] = 1;
        OpenPanel();
    }
    static constexpr int kListY = 20 + 10 + 60 + 50 + 50 + 60;
};

TEST_F(JoystickListTest, ClickingANameTwiceSwitchesItOffAndOnAgain) {
    PointAt(kRightX + 3, kListY + 15 + 5);  // the second name
    ClickFrame();
    EXPECT_EQ(JoyEnabled[2], 0);
    EXPECT_EQ(JoyEnabled[1], 1);
    EXPECT_EQ(LeftClick, 0);
    // The name shows the switch from the next frame on.
    rec_->Clear();
    SettingsPanel();
    const DrawRecord* name = FindText("Pad Two");
    ASSERT_NE(name, nullptr);
    EXPECT_FLOAT_EQ(name->state.color_alpha, 0.2f);
    ClickFrame();
    EXPECT_EQ(JoyEnabled[2], 1);
    rec_->Clear();
    SettingsPanel();
    EXPECT_FLOAT_EQ(FindText("Pad Two")->state.color_alpha, 1.0f);
}

TEST_F(JoystickListTest, HeldButtonZeroLightsTheNameAsALiveTest) {
    joyHeldPort_ = 0;  // media-layer port 0 is port 1
    rec_->Clear();
    SettingsPanel();
    const DrawRecord* one = FindText("Pad One");
    const DrawRecord* two = FindText("Pad Two");
    ASSERT_NE(one, nullptr);
    ASSERT_NE(two, nullptr);
    EXPECT_EQ(one->state.color_red, 255);
    EXPECT_EQ(two->state.color_red, 80);
    EXPECT_EQ(two->y, kListY + 15);
}

// --- Budgets and the control grid ---------------------------------------------

TEST_F(SettingsPanelTest, IconsDrawEvenWhenTheScreenUsedUpTheBudgets) {
    OpenPanel();
    DrawnCounts[KIND_IMAGE] = DrawBudgets[KIND_IMAGE];
    DrawnCounts[KIND_GLOW] = DrawBudgets[KIND_GLOW];
    rec_->Clear();
    SettingsPanel();
    auto images = rec_->OfKind(DrawKind::Image);
    // Four option icons and three sliders of three sprites each.
    EXPECT_EQ(images.size(), 4u + 9u);
}

TEST_F(SettingsPanelTest, ControlGridIsDrawnOnlyWhilePointerModeIsZero) {
    OpenPanel();
    rec_->Clear();
    SettingsPanel();
    const size_t without = rec_->OfKind(DrawKind::Image).size();
    PointerMode = 0;
    rec_->Clear();
    SettingsPanel();
    const size_t with = rec_->OfKind(DrawKind::Image).size();
    // Four ports of eight cells, each a sprite and its glow.
    EXPECT_EQ(with - without, 4u * 8u * 2u);
}

}  // namespace
}  // namespace engine

// Tests of the frame end: pacing on the virtual clock and the frame rate,
// presenting and the slow-system skip, the order of its steps, the overlay
// and pointer, notices, the close request, the pause menu and screenshots.
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>

#include "engine/identity.h"
#include "engine/media/folders.h"
#include "tests/engine/engine_fixture.h"

using namespace engine;
using media::DrawKind;

namespace {

// Returns the recorded text draws with this text.
std::vector<media::DrawRecord> TextsIn(const media::TRecordingDriver& rec,
                                       const std::string& text) {
    std::vector<media::DrawRecord> found;
    for (const auto& r : rec.OfKind(DrawKind::Text)) {
        if (r.text == text) found.push_back(r);
    }
    return found;
}

class FrameEndTest : public zqtest::EngineFixture {
  protected:
    void SetUp() override {
        EngineFixture::SetUp();
        OpenWindow();
        for (auto& font : UIFonts) font = media::DefaultImageFont();
        IconsImage = Sheet(64);
    }
    std::vector<media::DrawRecord> TextsOf(const std::string& text) { return TextsIn(*rec_, text); }
};

class FrameEndKeyTest : public zqtest::KeyFixture {
  protected:
    void SetUp() override {
        KeyFixture::SetUp();
        if (IsSkipped()) return;
        OpenWindow();
        for (auto& font : UIFonts) font = media::DefaultImageFont();
        IconsImage = Sheet(64);
    }
    std::vector<media::DrawRecord> TextsOf(const std::string& text) { return TextsIn(*rec_, text); }
    // Holds a key for a moment starting at `at`, releasing it `hold` ms later.
    void Tap(int64_t at, KeySym sym, int64_t hold = 60) {
        clock_->At(at, [sym] { zqtest::SendKey(sym, true); });
        clock_->At(at + hold, [sym] { zqtest::SendKey(sym, false); });
    }
};

// A folder laid out as the program's: Files/ with the game folder inside,
// current directory in the game folder, the log open in Files/.
class ScreenshotTest : public FrameEndKeyTest {
  protected:
    void SetUp() override {
        FrameEndKeyTest::SetUp();
        if (IsSkipped()) return;
        ASSERT_TRUE(media::ChangeDir(dir_.path()));
        ASSERT_EQ(::mkdir("274", 0700), 0);
        ASSERT_TRUE(OpenLog(dir_ / "Debug.txt"));
        ASSERT_TRUE(media::ChangeDir("274/"));
    }
    zqtest::TempDir dir_;
    zqtest::CwdGuard cwd_;
};

}  // namespace

TEST_F(FrameEndTest, SanitisedNamesLoseTheTwelveCharacters) {
    EXPECT_EQ(SanitiseFileName("a#b'c,d`e.f\\g/h:i|j*k?l\"m"), "abcdefghijklm");
    EXPECT_EQ(SanitiseFileName("##..//"), "");
    EXPECT_EQ(SanitiseFileName("keep -= ()_"), "keep -= ()_");
    EXPECT_EQ(ScreenshotName("08 Dec 2026", "07:35:59"),
              "Vantrelle -=Daz4=- (Screenshot_08 Dec 2026_073559).png");
}

TEST_F(FrameEndTest, PacesToFifteenMillisecondsAndSmoothsTheRate) {
    int start = media::Millisecs();
    zqtest::EndFrame();
    EXPECT_EQ(media::Millisecs() - start, 15);
    EXPECT_EQ(FrameTime, 15);
    EXPECT_EQ(CurrentFps, (1000 / 15) / 3);
    EXPECT_EQ(FrameParity, 1);
    for (int i = 0; i < 30; ++i) zqtest::EndFrame();
    EXPECT_EQ(CurrentFps, 64);  // integer smoothing from below settles under 1000/15
    EXPECT_EQ(media::Millisecs() - start, 31 * 15);

    // A slow frame is not stretched further; it only lowers the rate.
    clock_->Advance(40);
    zqtest::EndFrame();
    EXPECT_EQ(FrameTime, 41);
    EXPECT_EQ(CurrentFps, (1000 / 41 + 2 * 64) / 3);
}

TEST_F(FrameEndTest, PacingHoldsAcrossTheClockWrap) {
    const int64_t start = int64_t{2147483647} - 20;
    clock_->Advance(start - clock_->NowMs());
    FrameStart = media::Millisecs();
    for (int i = 0; i < 4; ++i) {
        zqtest::EndFrame();
        EXPECT_EQ(FrameTime, 15) << "frame " << i;
    }
    EXPECT_EQ(clock_->NowMs(), start + 4 * 15);
}

TEST_F(FrameEndTest, SlowSystemPresentsEveryOtherFrame) {
    zqtest::EndFrame();
    zqtest::EndFrame();
    EXPECT_EQ(rec_->presents, 2);
    ASSERT_FALSE(rec_->flip_syncs.empty());
    EXPECT_EQ(rec_->flip_syncs.back(), 0);
    engine::Setup[SETUP_ESS] = 1;
    for (int i = 0; i < 4; ++i) zqtest::EndFrame();
    EXPECT_EQ(rec_->presents, 4);
}

TEST_F(FrameEndTest, OverlayPointerAndNoticesInOrderBeforeThePresent) {
    std::vector<std::string> calls;
    const auto note = [&](const char* what) {
        calls.push_back(what + std::to_string(rec_->records.size()) + "/" +
                        std::to_string(rec_->presents));
    };
    // Work that moves on every step (the sharing's requests) comes first, once.
    Hooks().betweenSteps = [&] { note("between@"); };
    Hooks().settingsPanel = [&] { note("panel@"); };
    AddNotice("hello", 7);
    zqtest::SendMotion(100, 200);
    zqtest::EndFrame(1);
    ASSERT_EQ(calls, (std::vector<std::string>{"between@0/0", "panel@0/0"}));

    auto& recs = rec_->records;
    std::vector<std::string> order;
    for (const auto& r : recs) {
        if (r.kind == DrawKind::Text) order.push_back(r.text);
        if (r.kind == DrawKind::Image) order.push_back("pointer");
    }
    ASSERT_GE(order.size(), 9u);
    EXPECT_EQ(order[0], "0");  // the frame rate before this frame was measured
    EXPECT_EQ(order[1], "Collection : 0");
    EXPECT_EQ(order[6], "Hit F12 to remove this");
    EXPECT_EQ(order[7], "pointer");
    EXPECT_EQ(order[8], "hello");
    EXPECT_EQ(rec_->presents, 1);

    auto overlay = TextsOf("Hit F12 to remove this");
    ASSERT_EQ(overlay.size(), 1u);
    EXPECT_FLOAT_EQ(overlay[0].x, 2);
    EXPECT_FLOAT_EQ(overlay[0].y, 150);
    EXPECT_FLOAT_EQ(overlay[0].state.tform_scale_x, 1.5f);
    auto images = rec_->OfKind(DrawKind::Image);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].frame, 63);
    EXPECT_FLOAT_EQ(images[0].x, 112);
    EXPECT_FLOAT_EQ(images[0].y, 212);
    EXPECT_FLOAT_EQ(images[0].state.tform_scale_x, 1.5f);

    // Without the overlay and with showPointer 0 only the notice remains.
    rec_->Clear();
    OverlayOn = 0;
    zqtest::EndFrame();
    EXPECT_TRUE(TextsOf("Hit F12 to remove this").empty());
    EXPECT_TRUE(rec_->OfKind(DrawKind::Image).empty());
    // The pointer shows anyway while the settings panel is open.
    SettingsOpen = 1;
    zqtest::EndFrame();
    EXPECT_EQ(rec_->OfKind(DrawKind::Image).size(), 1u);
}

TEST_F(FrameEndTest, PointerValuesAreTakenForTheNextFrame) {
    zqtest::SendMotion(30, 40);
    zqtest::EndFrame();
    EXPECT_EQ(PointerX, 30);
    EXPECT_EQ(PointerY, 40);
    zqtest::SendButton(Button1, true, 50, 60);
    zqtest::SendButton(Button1, false, 50, 60);
    zqtest::EndFrame();
    EXPECT_EQ(PrevPointerX, 30);
    EXPECT_EQ(PrevPointerY, 40);
    EXPECT_EQ(PointerX, 50);
    EXPECT_EQ(PointerY, 60);
    EXPECT_EQ(LeftClick, 1);
    EXPECT_EQ(RightClick, 0);
    zqtest::EndFrame();
    EXPECT_EQ(LeftClick, 0);
}

TEST_F(FrameEndTest, NoticesStackUpwardsInvertAfterASecondAndLeaveAfterThree) {
    for (int i = 1; i <= 12; ++i) AddNotice("old " + std::to_string(i), 1);
    zqtest::EndFrame();
    AddNotice("new", 1);
    zqtest::EndFrame();
    auto newest = TextsOf("new");
    auto oldest = TextsOf("old 1");
    ASSERT_EQ(newest.size(), 1u);
    EXPECT_FLOAT_EQ(oldest.back().y, VirtualHeight - 16);
    EXPECT_FLOAT_EQ(newest[0].y, VirtualHeight - 16 - 12 * 14);
    // Fresh: black text on yellow.
    EXPECT_EQ(newest[0].state.color_red, 0);
    auto rects = rec_->OfKind(DrawKind::Rect);
    auto newRect = rects.back();
    EXPECT_EQ(newRect.state.color_red, 255);
    EXPECT_EQ(newRect.state.color_green, 255);
    EXPECT_EQ(newRect.state.color_blue, 0);
    EXPECT_NEAR(newRect.state.color_alpha, 0.7f, 1e-6);
    EXPECT_FLOAT_EQ(newRect.w, media::TextWidth("new"));

    // The old ones (tick 2 here) leave at tick 180, the new one a frame later.
    for (int frame = 3; frame <= 179; ++frame) {
        rec_->Clear();
        zqtest::EndFrame();
        if (frame == 59) {
            EXPECT_EQ(TextsOf("old 1")[0].state.color_red, 0);
        }
        if (frame == 60) {
            EXPECT_EQ(TextsOf("old 1")[0].state.color_red, 255);
        }
    }
    EXPECT_EQ(NoticeList.size(), 13u);
    rec_->Clear();
    zqtest::EndFrame();
    EXPECT_EQ(TextsOf("old 1").size(), 1u);  // drawn on its last frame
    EXPECT_EQ(NoticeList.size(), 1u);
    EXPECT_EQ(NoticeList.front().txt, "new");
    EXPECT_EQ(NoticeList.front().c, 1);
    zqtest::EndFrame();
    EXPECT_TRUE(NoticeList.empty());
}

TEST_F(FrameEndTest, CloseRequestRunsTheClosingHook) {
    int closes = 0;
    const auto frame = [&closes] {
        zqtest::EndFrame();
        closes += TakeCloseRequest() ? 1 : 0;
    };
    frame();
    EXPECT_EQ(closes, 0);
    media::detail::InputPostCloseRequest();
    frame();
    EXPECT_EQ(closes, 1);
    frame();
    EXPECT_EQ(closes, 1);
}

TEST_F(FrameEndTest, APlatformsPauseRequestPausesARunningGameOnce) {
    // Asked outside a game, it is dropped; in a game, the next step pauses, once.
    InGame = 0;
    RequestPause();
    EXPECT_FALSE(EndStep(0));
    InGame = 1;
    EXPECT_FALSE(EndStep(0));
    RequestPause();
    EXPECT_TRUE(EndStep(0));
    EXPECT_NE(TakePauseSnapshot(), nullptr);  // the menu's backdrop, as with Escape
    EXPECT_FALSE(EndStep(0));
    InGame = 0;
}

TEST_F(FrameEndKeyTest, AltF4ClosesAndTabTogglesThePanelAndSaves) {
    int closes = 0, saves = 0;
    const auto frame = [&closes] {
        zqtest::EndFrame();
        closes += TakeCloseRequest() ? 1 : 0;
    };
    Hooks().saveSetup = [&] { ++saves; };
    zqtest::SendKey(XK_F4, true);
    frame();
    EXPECT_EQ(closes, 0);
    zqtest::SendKey(XK_Alt_R, true);
    frame();
    EXPECT_EQ(closes, 1);
    zqtest::SendKey(XK_Alt_R, false);
    zqtest::SendKey(XK_Alt_L, true);
    frame();
    EXPECT_EQ(closes, 2);
    zqtest::SendKey(XK_Alt_L, false);
    zqtest::SendKey(XK_F4, false);

    zqtest::SendKey(XK_Tab, true);
    zqtest::EndFrame();
    EXPECT_EQ(SettingsOpen, 1);
    EXPECT_EQ(saves, 1);
    zqtest::EndFrame();  // held: one press toggles once
    EXPECT_EQ(SettingsOpen, 1);
    zqtest::SendKey(XK_Tab, false);
    zqtest::SendKey(XK_Tab, true);
    zqtest::EndFrame();
    EXPECT_EQ(SettingsOpen, 0);
    EXPECT_EQ(saves, 2);
    zqtest::SendKey(XK_Tab, false);
}

TEST_F(FrameEndKeyTest, F12TogglesTheOverlay) {
    zqtest::SendKey(XK_F12, true);
    zqtest::SendKey(XK_F12, false);
    zqtest::EndFrame();
    EXPECT_EQ(OverlayOn, 0);
    EXPECT_TRUE(rec_->OfKind(DrawKind::Text).empty());
}

TEST_F(FrameEndKeyTest, PauseMenuUpWrapsToQuitAndEscapeQuits) {
    InGame = 1;
    GameStartTime = 1000;
    zqtest::SendKey(XK_Escape, true);
    int64_t t0 = clock_->NowMs();
    clock_->At(t0 + 50, [] { zqtest::SendKey(XK_Escape, false); });
    Tap(t0 + 200, XK_Up);
    Tap(t0 + 400, XK_Escape);
    int result = zqtest::EndFrame();
    EXPECT_EQ(result, 99);
    EXPECT_EQ(InGame, 1);
    EXPECT_TRUE(clock_->ScriptDone());
    // The whole pause (until the final frame's end) is added to the game's start time.
    EXPECT_GE(GameStartTime, 1000 + 400);
    EXPECT_LE(GameStartTime, 1000 + 400 + 60 + 30);
    // The pause frames were presented with the pointer shown.
    EXPECT_GT(rec_->presents, 20);
}

TEST_F(FrameEndKeyTest, PauseMenuDownWrapsToContinueAndSpaceSelects) {
    InGame = 1;
    zqtest::SendKey(XK_Escape, true);
    int64_t t0 = clock_->NowMs();
    clock_->At(t0 + 50, [] { zqtest::SendKey(XK_Escape, false); });
    Tap(t0 + 200, XK_Down);  // Quit
    Tap(t0 + 400, XK_Down);  // wraps to Continue
    Tap(t0 + 600, XK_Escape, 30);
    EXPECT_EQ(zqtest::EndFrame(), 1);

    zqtest::SendKey(XK_Escape, true);
    t0 = clock_->NowMs();
    clock_->At(t0 + 50, [] { zqtest::SendKey(XK_Escape, false); });
    Tap(t0 + 200, XK_Down);
    Tap(t0 + 400, XK_space);
    EXPECT_EQ(zqtest::EndFrame(), 99);
}

TEST_F(FrameEndKeyTest, PauseScatterIsTheSameEveryFrameAndTheSnapshotBreathes) {
    InGame = 1;
    zqtest::SendKey(XK_Escape, true);
    int64_t t0 = clock_->NowMs();
    clock_->At(t0 + 10, [] { zqtest::SendKey(XK_Escape, false); });
    std::vector<std::vector<media::DrawRecord>> frames;
    Hooks().settingsPanel = [&] {
        if (InGame == 2) frames.push_back(rec_->records);
        rec_->Clear();
    };
    Tap(t0 + 100, XK_Escape);
    EXPECT_EQ(zqtest::EndFrame(), 1);
    ASSERT_GE(frames.size(), 2u);
    auto titles = [](const std::vector<media::DrawRecord>& recs) {
        std::vector<std::pair<float, float>> at;
        for (const auto& r : recs) {
            if (r.kind == DrawKind::Text && r.text == GameTitle()) at.emplace_back(r.x, r.y);
        }
        return at;
    };
    auto first = titles(frames[0]);
    EXPECT_EQ(first.size(), 180u);
    EXPECT_EQ(first, titles(frames[1]));
    const media::DrawRecord* snap0 = nullptr;
    const media::DrawRecord* snap1 = nullptr;
    // The snapshot is the first image that is not the pointer icon.
    for (const auto& r : frames[0])
        if (r.kind == DrawKind::Image && r.image != IconsImage.get() && !snap0) snap0 = &r;
    for (const auto& r : frames[1])
        if (r.kind == DrawKind::Image && r.image != IconsImage.get() && !snap1) snap1 = &r;
    ASSERT_TRUE(snap0 && snap1);
    EXPECT_FLOAT_EQ(snap0->x, VirtualWidth / 2);
    EXPECT_NEAR(snap0->state.tform_rot, 0.1, 1e-5);
    EXPECT_NEAR(snap1->state.tform_rot, 0.2, 1e-5);
    // The phase advances 0.4 degrees a frame: a breath of 15 seconds, not a
    // flutter (0.4 radians a frame would already scale by about 1.69 here).
    EXPECT_NEAR(snap0->state.tform_scale_x, 1.50349, 1e-5);
    EXPECT_NEAR(snap0->state.tform_scale_y, 1.50454, 1e-5);
    EXPECT_NEAR(snap1->state.tform_scale_x, 1.50698, 1e-5);
}

TEST_F(FrameEndKeyTest, SlowSystemHonoursEscapeOnlyOnEvenFrames) {
    engine::Setup[SETUP_ESS] = 1;
    InGame = 1;
    zqtest::EndFrame();
    ASSERT_EQ(FrameParity, 1);
    zqtest::SendKey(XK_Escape, true);
    int64_t t0 = clock_->NowMs();
    bool paused = false;
    Hooks().settingsPanel = [&] { paused = paused || InGame == 2; };
    zqtest::EndFrame();  // odd frame: ignored
    EXPECT_FALSE(paused);
    clock_->At(t0 + 100, [] { zqtest::SendKey(XK_Escape, false); });
    Tap(t0 + 300, XK_Escape, 30);
    EXPECT_EQ(zqtest::EndFrame(), 1);  // held into the even frame: opens
    EXPECT_TRUE(paused);
}

TEST_F(ScreenshotTest, F11SavesBesideTheGameFolderUnderTheDatedName) {
    const std::string name = "Vantrelle -=Daz4=- (Screenshot_08 Dec 2026_073559).png";
    zqtest::SendKey(XK_F11, true);
    zqtest::SendKey(XK_F11, false);
    zqtest::EndFrame();
    EXPECT_EQ(media::FileType(dir_ / name), 1);
    EXPECT_EQ(media::FileType(dir_ / ("274/" + name)), 0);
    EXPECT_EQ(media::CurrentDir(), dir_ / "274");
    ASSERT_FALSE(NoticeList.empty());
    EXPECT_EQ(NoticeList.back().txt, "Saved Screenshot");
    EXPECT_EQ(TextsOf("Saving Screenshot").size(), 1u);
    EXPECT_EQ(TextsOf("Sometimes, this takes a while!").size(), 1u);
    EXPECT_EQ(rec_->presents, 2);  // the message, then the frame itself
    CloseLog();
    std::vector<std::string> want = {"",
                                     "\tScreenshot",
                                     "\tGrabbing Screenshot",
                                     "\tSaving Screenshot : " + name,
                                     "\tSaved Screenshot 1",
                                     ""};
    EXPECT_EQ(LogLines(dir_ / "Debug.txt"), want);
}

TEST_F(ScreenshotTest, SlowSystemTakesTheScreenshotOnTheNextEvenFrame) {
    engine::Setup[SETUP_ESS] = 1;
    zqtest::EndFrame();
    ASSERT_EQ(FrameParity, 1);
    zqtest::SendKey(XK_F11, true);
    zqtest::SendKey(XK_F11, false);
    zqtest::EndFrame();
    EXPECT_TRUE(NoticeList.empty());
    zqtest::EndFrame();
    ASSERT_EQ(NoticeList.size(), 1u);
    EXPECT_EQ(NoticeList.back().txt, "Saved Screenshot");
}

TEST_F(ScreenshotTest, FailedWriteIsLoggedAndNoticedAsNotSaved) {
    // A folder with the screenshot's name makes the write fail.
    const std::string name = "Vantrelle -=Daz4=- (Screenshot_08 Dec 2026_073559).png";
    ASSERT_EQ(::mkdir((dir_ / name).c_str(), 0700), 0);
    TakeScreenshot();
    CloseLog();
    auto lines = LogLines(dir_ / "Debug.txt");
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[4], "\tSaved Screenshot 0");
    EXPECT_EQ(NoticeList.back().txt, "Couldn't save the screenshot!");
}

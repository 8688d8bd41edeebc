// Tests of the closing screen on the recording driver and the scripted clock:
// what it saves, logs and shows (once, in order), and which inputs end its
// two waits.
#include "app/closing_screen.h"

#include <sys/stat.h>

#include "engine/frame_end.h"
#include "engine/graphics_setup.h"
#include "engine/log.h"
#include "engine/media/files.h"
#include "engine/media/folders.h"
#include "engine/media/paths.h"
#include "scores/score_file.h"
#include "tests/app/screen_fixture.h"
#include "tests/support/temp_dir.h"

namespace {

using media::DrawKind;

// The program's folders and window, with the closing screen's logos.
class ClosingScreenTest : public zqtest::ScreenFixture {
  protected:
    void SetUp() override {
        ScreenFixture::SetUp();
        if (IsSkipped()) return;
        engine::LogoImage = Sheet(1);
        engine::SiteLogoImage = Sheet(1);
    }
    // Runs the screen; returns the milliseconds it took.
    int64_t Run() {
        const int64_t start = clock_->NowMs();
        EXPECT_EQ(zqtest::RunScreen(app::MakeClosingScreen()), 0);
        return clock_->NowMs() - start;
    }
};

TEST(SaveEverything, SaysWhatWasSavedAndWhatWasNot) {
    struct Case {
        bool setupBlocked, scoresBlocked;
        const char* said;
    };
    const Case cases[] = {{false, false, "settings and scores saved"},
                          {false, true, "settings saved, scores NOT saved"},
                          {true, false, "scores saved, settings NOT saved"},
                          {true, true, "settings and scores NOT saved"}};
    for (const Case& c : cases) {
        zqtest::TempDir dir;
        media::TProgramPaths paths;
        paths.setupFile = dir / "Setup.ini";
        paths.scoreFile = dir / "nuscores.dat";
        // A folder in a file's place can be neither read nor replaced.
        for (const auto& [blocked, path] : {std::pair{c.setupBlocked, paths.setupFile},
                                            std::pair{c.scoresBlocked, paths.scoreFile}}) {
            if (blocked) {
                ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
            }
        }
        media::SetProgramPaths(paths);
        EXPECT_EQ(app::SaveEverything(), c.said);
    }
    media::SetProgramPaths({});
    scores::ResetScores();
    engine::NoticeList.clear();
}

TEST_F(ClosingScreenTest, SavesLogsDrawsOnceAndWaitsForTheEscapeToGoAndAFreshPress) {
    zqtest::SendKey(XK_Escape, true);  // still held from the front end
    const int64_t t0 = clock_->NowMs();
    clock_->At(t0 + 500, [] { zqtest::SendKey(XK_Escape, false); });
    clock_->At(t0 + 1500, [] { zqtest::SendKey(XK_a, true); });
    const int64_t took = Run();
    EXPECT_GE(took, 1500);
    EXPECT_LT(took, 1500 + 20);
    EXPECT_TRUE(clock_->ScriptDone());

    EXPECT_EQ(media::FileType(dir_ / "Setup.ini"), 1);
    EXPECT_EQ(media::FileType(dir_ / "274/nuscores.dat"), 1);
    engine::CloseLog();
    const auto log = LogLines(dir_ / "Debug.txt");
    ASSERT_GE(log.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(log.end() - 5, log.end()),
              (std::vector<std::string>{"Closing Up", "", "Bye!", "", "Play again, soon!!"}));

    // One frame, presented once: both logos, then the title, then the message.
    EXPECT_EQ(rec_->presents, 1);
    std::vector<std::string> texts;
    int logos = 0;
    for (const auto& r : rec_->records) {
        if (r.kind == DrawKind::Image) {
            EXPECT_TRUE(texts.empty()) << "a logo after the text";
            ++logos;
        }
        if (r.kind == DrawKind::Text) texts.push_back(r.text);
    }
    EXPECT_EQ(logos, 2);
    ASSERT_EQ(texts.size(), 9u);
    EXPECT_EQ(texts.front(), "Thanks for Playing");
    EXPECT_EQ(texts[1], "Why not take the next few minutes to hop back to the site");
    EXPECT_EQ(texts.back(), "Feedback is King");
}

TEST_F(ClosingScreenTest, AKeyHeldPastTheReleaseWaitEndsTheScreenAsSoonAsItGivesUp) {
    zqtest::SendKey(XK_a, true);
    const int64_t took = Run();
    // 120 passes of 16 ms, then the still-held key counts as the press.
    EXPECT_GE(took, 120 * 16);
    EXPECT_LT(took, 120 * 16 + 20);
}

TEST_F(ClosingScreenTest, ScreenshotAndOverlayKeysDoNotEndItButAMouseButtonDoes) {
    zqtest::SendKey(XK_F11, true);
    zqtest::SendKey(XK_F12, true);
    const int64_t t0 = clock_->NowMs();
    clock_->At(t0 + 3000, [] { zqtest::SendButton(1, true, 10, 10); });
    const int64_t took = Run();
    EXPECT_GE(took, 3000);
    EXPECT_LT(took, 3000 + 20);
}

}  // namespace

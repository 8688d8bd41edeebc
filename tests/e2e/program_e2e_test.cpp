// The real program end to end: start-up log, title screen keys, screenshots,
// the closing screen through Escape, the close button and Alt+F4, and the
// fall-backs for a settings file the display cannot honour.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "tests/e2e/e2e_fixture.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using zqtest::ProgramRun;

using ProgramE2E = zqtest::ProgramTest;

std::vector<std::string> SoundEffectLines() {
    std::vector<std::string> lines;
    for (int n = 1; n <= 200; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "%03d.wav", n);
        if (fs::exists(fs::path(ZQ_DIST_DIR) / "Files/274" / name)) {
            lines.push_back("\tSFX(" + std::to_string(n) + ")");
        }
    }
    return lines;
}

TEST_F(ProgramE2E, StartUpLogFromBannerToFinishedLoading) {
    ProgramRun run;
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(run.WaitForLogLine("Finished Loading", 120000)) << run.StdErr();
    std::vector<std::string> log = run.LogLines();

    std::vector<std::string> expected = {"Torvik's Wekkaplay Engine",
                                         "----------------------------",
                                         "Week #274",
                                         "----------------------------",
                                         "#274 : Vantrelle -=Daz4=-",
                                         "----------------------------",
                                         "",
                                         "Loading",
                                         "Setting Audio Driver",
                                         "Set Audio Driver",
                                         "",
                                         "\tRequested Resolution : 800x600",
                                         "\tSetup Loaded",
                                         "",
                                         "Grabbing Previous Scores",
                                         "",
                                         "",
                                         "-=-=-=-=-=-=-=-=-=-=-=-=-=-",
                                         "Applying Graphical Settings",
                                         "\tUsing OpenGL Driver",
                                         "\tResolution : 800x600,0",
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
                                         "Loading Sound effects"};
    for (const auto& sfx : SoundEffectLines()) expected.push_back(sfx);
    for (const char* l :
         {"Sounds loaded", "", "Starting Engine Test", "Aiming for 60,2", "Test Complete", "",
          "Engine Test Results", "", "\tMaximum Sprites Allowed for 60 Frames Per Second"}) {
        expected.push_back(l);
    }
    ASSERT_GE(log.size(), expected.size() + 8);
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(log[i], expected[i]) << "line " << i;

    // The measured budgets depend on this machine; their lines have a fixed form.
    size_t i = expected.size();
    EXPECT_TRUE(std::regex_match(log[i++], std::regex("\tMain sprites : [0-9]+")));
    EXPECT_TRUE(std::regex_match(log[i++], std::regex("\tGlowy Sprites : [0-9]+")));
    EXPECT_TRUE(std::regex_match(log[i++], std::regex("\tParticles : [0-9]+")));
    EXPECT_EQ(log[i++], "");
    if (log[i] == "Settings Overwritten, Set to Default Lower Limits at 30fps.") ++i;
    EXPECT_EQ(log[i++], "");
    EXPECT_EQ(log[i++], "-=-=-=-=-=-=-=-=-=-=-=-=-=-");
    EXPECT_EQ(log[i++], "Finished Loading");
    EXPECT_EQ(log.size(), i);
    // "crash.dat" exists only while graphics are set up.
    EXPECT_FALSE(fs::exists(run.Path("Files/274/crash.dat")));
}

// The ways to the closing screen: each ends with the closing lines in the log
// and the settings file written.
class ClosingE2E : public zqtest::ProgramTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(ClosingE2E, ReachesTheClosingScreenAndWritesTheSettingsFile) {
    ProgramRun run;
    ASSERT_TRUE(StartToTitle(run));
    if (GetParam() == "Escape") {
        ASSERT_TRUE(QuitFromTitle(run));
    } else {
        if (GetParam() == "CloseButton") run.RequestClose();
        if (GetParam() == "AltF4") {
            run.KeyDown("Alt_L");
            run.KeyDown("F4");
            ASSERT_TRUE(run.WaitForLogLine("Play again, soon!!", zqtest::kScreenMs));
            run.KeyUp("F4");
            run.KeyUp("Alt_L");
        }
        ASSERT_TRUE(LeaveClosingScreen(run));
    }

    auto log = run.LogLines();
    ASSERT_GE(log.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(log.end() - 5, log.end()),
              (std::vector<std::string>{"Closing Up", "", "Bye!", "", "Play again, soon!!"}));
    std::string setup = zqtest::ReadWholeFile(run.Path("Files/Setup.ini"));
    EXPECT_EQ(setup.rfind("[Graphics]\r\nFullscreen = False\r\nGFX Engine = OpenGL\r\n"
                          "Width=800\r\nHeight=600\r\n",
                          0),
              0u)
        << setup;
    EXPECT_NE(setup.find("\r\n\r\n[Audio]\r\nMaster = 50\r\nSound = 50\r\nMusic = 50\r\n"
                         "AudioDriver = "),
              std::string::npos);
    EXPECT_NE(setup.find("; AudioDriver = Null\r\n"), std::string::npos);
    const std::string controls =
        "\r\n[Controls]\r\nKey=0,38\r\nKey=3,37\r\nKey=5,39\r\nKey=8,40\r\nKey=10,90\r\n"
        "Key=11,88\r\nKey=12,67\r\nKey=13,86\r\n";
    ASSERT_GE(setup.size(), controls.size());
    EXPECT_EQ(setup.substr(setup.size() - controls.size()), controls);
}

INSTANTIATE_TEST_SUITE_P(Ways, ClosingE2E, ::testing::Values("Escape", "CloseButton", "AltF4"),
                         [](const auto& way) { return way.param; });

TEST_F(ProgramE2E, ScreenshotKeyWritesAPngAndTheOverlayToggles) {
    ProgramRun run;
    ASSERT_TRUE(StartToTitle(run));
    run.TapKey("F11");
    ASSERT_TRUE(run.WaitForLogLine("\tSaved Screenshot 1", 30000));
    std::string shot;
    for (const auto& e : fs::directory_iterator(run.Path("Files"))) {
        const std::string name = e.path().filename().string();
        if (fs::is_regular_file(e.path()) && name.find("(Screenshot_") != std::string::npos)
            shot = name;
    }
    EXPECT_TRUE(std::regex_match(
        shot,
        std::regex(
            "Vantrelle -=Daz4=- \\(Screenshot_[0-9]{2} [A-Z][a-z]{2} [0-9]{4}_[0-9]{6}\\)\\.png")))
        << shot;
    std::string png = zqtest::ReadWholeFile(run.Path("Files/" + shot));
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ(png.substr(1, 3), "PNG");

    run.TapKey("F12");  // the overlay can be switched on and off without trouble
    run.TapKey("F12");
    EXPECT_TRUE(QuitFromTitle(run));
}

TEST_F(ProgramE2E, UnlistedSizeAndImpossibleFullScreenFallBack) {
    ProgramRun run;
    ASSERT_TRUE(zqtest::WriteWholeFile(run.Path("Files/Setup.ini"),
                                       "Fullscreen = True\r\nWidth=1000\r\nHeight=700\r\n"));
    ASSERT_TRUE(StartToTitle(run));
    auto log = run.LogLines();
    EXPECT_TRUE(zqtest::HasLine(log, "\tSetting to Fullscreen"));
    EXPECT_TRUE(zqtest::HasLine(log, "\tRequested Resolution : 1000x700"));
    // The size is not a listed mode: the window opens at the previous size.
    EXPECT_TRUE(zqtest::HasLine(log, "\tResolution : 800x600,0"));
    EXPECT_EQ(run.WindowWidth(), 800);
    EXPECT_EQ(run.WindowHeight(), 600);
    ASSERT_TRUE(QuitFromTitle(run));
    std::string setup = zqtest::ReadWholeFile(run.Path("Files/Setup.ini"));
    EXPECT_NE(setup.find("Width=800\r\nHeight=600\r\n"), std::string::npos) << setup;
}

TEST_F(ProgramE2E, NoDisplayGivesOneClearLineAndStatusOne) {
    ProgramRun run;
    ASSERT_TRUE(run.Start({}, ":99"));  // nothing listens there
    EXPECT_EQ(run.WaitForExit(60000), 1);
    std::string err = run.StdErr();
    EXPECT_NE(err.find("\":99\""), std::string::npos) << err;
    auto log = run.LogLines();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "Torvik's Wekkaplay Engine");
}

}  // namespace

// The settings panel end to end: Tab writes the settings file, a volume
// slider changes it, and Apply re-opens the window on the title screen and
// in the middle of a game while the program keeps running.
#include <gtest/gtest.h>

#include <regex>

#include "tests/e2e/e2e_fixture.h"
#include "tests/support/temp_dir.h"

namespace {

using zqtest::kVW;
using zqtest::ProgramRun;
using zqtest::ReadWholeFile;

// The open panel rests 20 units down; its right column starts 280 from the right.
constexpr int kSlide = 20;
constexpr int kRightColumn = kVW - 280;

int MasterVolume(const std::string& setup) {
    std::smatch m;
    if (!std::regex_search(setup, m, std::regex("Master = (-?[0-9]+)"))) return -1;
    return std::stoi(m[1].str());
}

class SettingsE2E : public zqtest::ProgramTest {
  protected:
    // With the panel open: steps the resolution once with the pointer over it
    // and clicks Apply (again, if a slow frame let the click pass unseen),
    // then waits until the new window has every asset loaded again.
    Result ChangeSizeAndApply(ProgramRun& run) {
        ChooseSlowSystem(run, false);  // keeps the engine test after Apply short
        bool applied = false;
        for (int attempt = 0; attempt < 3 && !applied; ++attempt) {
            run.MovePointerLogical(100, 70 + kSlide + 30, kVW, zqtest::kVH);
            run.TapKey("Right");
            ClickAt(run, 30, kSlide + 268);
            applied = run.WaitForLogLine("\tChanged Graphics Mode ingame.", zqtest::kScreenMs);
        }
        if (!applied) return ::testing::AssertionFailure() << "Apply did not take";
        const auto lines = run.LogLines();
        const size_t changed = static_cast<size_t>(
            std::find(lines.begin(), lines.end(), "\tChanged Graphics Mode ingame.") -
            lines.begin());
        // The engine test runs again (on a slow machine it takes a while).
        for (const char* line : {"Sounds loaded", "Test Complete", "-=-=-=-=-=-=-=-=-=-=-=-=-=-"}) {
            if (!run.WaitForLogLine(line, zqtest::kLoadMs, changed)) {
                return ::testing::AssertionFailure() << "no \"" << line << "\" after Apply";
            }
        }
        if (!run.WaitForWindow()) return ::testing::AssertionFailure() << "no new window";
        return ::testing::AssertionSuccess();
    }
};

TEST_F(SettingsE2E, TabWritesTheFileAndAVolumeChangeReachesIt) {
    ProgramRun run;
    ASSERT_TRUE(StartToTitle(run));
    ASSERT_TRUE(ToggleSettings(run, true));
    EXPECT_EQ(MasterVolume(ReadWholeFile(run.Path("Files/Setup.ini"))), 50);

    // A press on the master volume slider (track at y = slide + 70) sets it
    // from the pointer; shutting the panel writes the file again.
    ClickAt(run, kRightColumn + 80, kSlide + 75);
    ASSERT_TRUE(ToggleSettings(run, false));
    const int master = MasterVolume(ReadWholeFile(run.Path("Files/Setup.ini")));
    EXPECT_GE(master, 70);
    EXPECT_LE(master, 90);
    EXPECT_TRUE(QuitFromTitle(run));
    EXPECT_EQ(MasterVolume(ReadWholeFile(run.Path("Files/Setup.ini"))), master);
}

TEST_F(SettingsE2E, ApplyReopensTheWindowAndTheProgramKeepsRunning) {
    ProgramRun run;
    ASSERT_TRUE(StartToTitle(run));
    ASSERT_TRUE(ToggleSettings(run, true));
    ASSERT_TRUE(ChangeSizeAndApply(run));
    EXPECT_TRUE(QuitFromTitle(run));
}

TEST_F(SettingsE2E, ApplyInTheMiddleOfAGameKeepsTheGameGoing) {
    ProgramRun run;
    ASSERT_TRUE(StartToTitle(run));
    ASSERT_TRUE(StartGame(run, zqtest::Difficulty::kEasy));
    ASSERT_TRUE(ToggleSettings(run, true));
    ASSERT_TRUE(ChangeSizeAndApply(run));

    // The game is still on: pause it and quit, and its run is stored.
    ASSERT_TRUE(QuitGame(run));
    ASSERT_TRUE(EnterName(run, "mid"));
    EXPECT_TRUE(WaitForStoredRun(run, "mid"));
    EXPECT_TRUE(QuitFromTitle(run));
}

}  // namespace

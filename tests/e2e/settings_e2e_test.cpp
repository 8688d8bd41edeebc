// The settings panel end to end: Tab writes the settings file, a volume
// slider changes it, and Apply re-opens the window on the title screen and
// in the middle of a game while the program keeps running.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

#include "tests/e2e/e2e_fixture.h"
#include "tests/support/program_harness.h"
#include "tests/support/temp_dir.h"
#include "tests/support/xvfb.h"

namespace {

using zqtest::ProgramRun;
using zqtest::ReadWholeFile;

constexpr int kVW = 1280, kVH = 960;
// The open panel rests 20 units down; its right column starts 280 from the right.
constexpr int kSlide = 20;
constexpr int kRightColumn = kVW - 280;

using zqtest::Pause;

bool WaitForFile(const std::string& path, int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 100) {
        if (std::filesystem::exists(path)) return true;
        Pause(100);
    }
    return false;
}

int MasterVolume(const std::string& setup) {
    std::smatch m;
    if (!std::regex_search(setup, m, std::regex("Master = (-?[0-9]+)"))) return -1;
    return std::stoi(m[1].str());
}

class SettingsE2E : public zqtest::ProgramTest {
  protected:
    void OpenPanel(ProgramRun& run) {
        run.TapKey("Tab");
        Pause(2000);  // ten frames to slide down, with room for a slow machine
    }

    // Steps the resolution once with the pointer over it, then clicks Apply
    // (again, if a slow frame let the click pass unseen).
    void ChangeSizeAndApply(ProgramRun& run) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            run.MovePointerLogical(100, 70 + kSlide + 30, kVW, kVH);
            Pause(200);
            run.TapKey("Right");
            Pause(300);
            run.MovePointerLogical(30, kSlide + 268, kVW, kVH);
            Pause(300);
            run.Click(1);
            if (run.WaitForLogLine("\tChanged Graphics Mode ingame.", 20000)) return;
        }
    }

    // Waits until the window has been set up again after an Apply: the
    // graphics set-up's closing line after "Changed Graphics Mode ingame.".
    void WaitForReopen(ProgramRun& run) {
        ASSERT_TRUE(run.WaitForLogLine("\tChanged Graphics Mode ingame.", 60000)) << run.StdErr();
        auto lines = run.LogLines();
        size_t changed = 0;
        while (changed < lines.size() && lines[changed] != "\tChanged Graphics Mode ingame.") {
            ++changed;
        }
        ASSERT_TRUE(run.WaitForLogLine("Sounds loaded", 60000, changed));
        // The engine test runs again (on a slow machine it takes a while).
        ASSERT_TRUE(run.WaitForLogLine("Test Complete", 240000, changed));
        ASSERT_TRUE(run.WaitForLogLine("-=-=-=-=-=-=-=-=-=-=-=-=-=-", 60000, changed));
        Pause(1000);
        ASSERT_TRUE(run.Running());
        ASSERT_TRUE(run.WaitForWindow());
    }
};

TEST_F(SettingsE2E, TabWritesTheFileAndAVolumeChangeReachesIt) {
    ProgramRun run;
    StartToTitle(run);
    OpenPanel(run);
    ASSERT_TRUE(WaitForFile(run.Path("Files/Setup.ini"), 10000));
    EXPECT_EQ(MasterVolume(ReadWholeFile(run.Path("Files/Setup.ini"))), 50);

    // Drag the master volume slider (track at y = slide + 70) to the right.
    run.MovePointerLogical(kRightColumn + 30, kSlide + 75, kVW, kVH);
    Pause(100);
    run.ButtonDown(1);
    run.MovePointerLogical(kRightColumn + 80, kSlide + 75, kVW, kVH);
    Pause(400);
    run.ButtonUp(1);
    run.TapKey("Tab");  // closing the panel writes the file again
    int master = -1;
    for (int i = 0;
         i < 50 && (master = MasterVolume(ReadWholeFile(run.Path("Files/Setup.ini")))) == 50; ++i) {
        Pause(100);
    }
    EXPECT_GE(master, 70);
    EXPECT_LE(master, 90);
    QuitFromTitle(run);
    EXPECT_EQ(MasterVolume(ReadWholeFile(run.Path("Files/Setup.ini"))), master);
}

TEST_F(SettingsE2E, ApplyReopensTheWindowAndTheProgramKeepsRunning) {
    ProgramRun run;
    StartToTitle(run);
    OpenPanel(run);
    ChangeSizeAndApply(run);
    // The new window comes up with every asset loaded again.
    WaitForReopen(run);
    QuitFromTitle(run);
}

TEST_F(SettingsE2E, ApplyInTheMiddleOfAGameKeepsTheGameGoing) {
    ProgramRun run;
    StartToTitle(run);
    // Start a game on Easy.
    StartGame(run);
    Pause(1000);
    OpenPanel(run);
    ChangeSizeAndApply(run);
    WaitForReopen(run);

    // The game is still on: pause it and quit, and its run is stored.
    run.TapKey("Escape");
    Pause(600);
    run.TapKey("Down");
    Pause(300);
    run.TapKey("space");
    bool stored = false;
    for (int attempt = 0; attempt < 40 && !stored; ++attempt) {
        run.TapKey("Return");
        Pause(500);
        stored = std::filesystem::exists(run.Path("Files/274/nuscores.dat"));
    }
    EXPECT_TRUE(stored);
    Pause(500);
    QuitFromTitle(run);
}

}  // namespace

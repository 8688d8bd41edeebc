// The fixture every end-to-end test shares: a private X server, the program
// started up to its title screen, and the way out through the closing screen.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "tests/support/program_harness.h"
#include "tests/support/xvfb.h"

namespace zqtest {

// Sleeps for ms milliseconds (the program runs on its own; this only lets it).
inline void Pause(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Returns the score file's runs as the installed program prints them (--scores).
inline std::string ScoresJson(ProgramRun& run) {
    std::string out;
    FILE* pipe = ::popen((run.Root() + "/zarquill --scores 2>/dev/null").c_str(), "r");
    if (!pipe) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
    ::pclose(pipe);
    return out;
}

class ProgramTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(SharedXvfb().Ok()) << "Xvfb did not start"; }

    // Starts the program and waits for the title screen: the front end starts
    // 2.5 s after loading began, then its panel slides in.
    void StartToTitle(ProgramRun& run) {
        ASSERT_TRUE(run.Start());
        ASSERT_TRUE(run.WaitForLogLine("Finished Loading", 120000)) << run.StdErr();
        ASSERT_TRUE(run.WaitForWindow());
        Pause(3500);
    }

    // Clicks the left button at a logical position of the 1280x960 screen
    // that the default 800x600 window shows.
    void ClickLogical(ProgramRun& run, int x, int y) {
        run.MovePointerLogical(x, y, 1280, 960);
        Pause(100);
        run.Click(1);
        Pause(200);
    }

    // Waits for the closing screen, then a key, and checks a clean exit.
    void QuitThroughClosingScreen(ProgramRun& run) {
        ASSERT_TRUE(run.WaitForLogLine("Play again, soon!!", 30000));
        // The release wait ends once nothing is held; then any key ends the program.
        Pause(300);
        run.TapKey("space");
        EXPECT_EQ(run.WaitForExit(30000), 0) << run.StdErr();
    }

    // Presses Escape on the title screen and leaves through the closing screen.
    void QuitFromTitle(ProgramRun& run) {
        run.TapKey("Escape");
        QuitThroughClosingScreen(run);
    }
};

}  // namespace zqtest

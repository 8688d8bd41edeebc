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

// The logical screen of an 800x600 window, and the title screen's layout
// there: the panel is 415 wide, so the centre column is at (1280 - 415) / 2.
inline constexpr int kVW = 1280, kVH = 960;
inline constexpr int kCentreX = (kVW - 415) / 2;

// Returns what a shell command printed on standard output.
inline std::string CommandOutput(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
    ::pclose(pipe);
    return out;
}

// Returns what the program's --scores prints.
inline std::string ScoresJson(const ProgramRun& run) {
    return run.RunOnce({"--scores"});
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

    // Waits for the closing screen, then a key, and checks a clean exit.
    void QuitThroughClosingScreen(ProgramRun& run) {
        ASSERT_TRUE(run.WaitForLogLine("Play again, soon!!", 30000))
            << (run.Running() ? "still running" : "ended") << "; stderr: " << run.StdErr();
        // The release wait ends once nothing is held; then any key ends the program.
        Pause(300);
        run.TapKey("space");
        EXPECT_EQ(run.WaitForExit(30000), 0) << run.StdErr();
    }

    // Clicks the left button at a logical position, holding it for holdMs.
    void ClickLogical(ProgramRun& run, int x, int y, int holdMs = 120) {
        run.MovePointerLogical(x, y, kVW, kVH);
        Pause(100);
        run.ButtonDown(1);
        Pause(holdMs);
        run.ButtonUp(1);
        Pause(200);
    }

    // Waits (bounded) for the name-entry screen: after the dark playfield the
    // blue menu backdrop comes back. Then replaces the name, confirms it and
    // returns --scores once the run shows there ("" when it never does).
    std::string EnterName(ProgramRun& run, const std::string& name, int timeoutMs) {
        bool entry = false;
        for (int waited = 0; waited < timeoutMs && !entry && run.Running(); waited += 250) {
            entry = run.MeanBlue() > 40;
            if (!entry) Pause(250);
        }
        if (!entry) return {};
        Pause(500);  // let the screen take its first frames
        for (int i = 0; i < 12; ++i) run.TapKey("BackSpace");
        for (char c : name) run.TapKey(std::string(1, c));
        run.TapKey("Return");
        for (int waited = 0; waited < 10000; waited += 200) {
            std::string json = ScoresJson(run);
            if (!json.empty()) return json;
            Pause(200);
        }
        return {};
    }

    // Clicks the start button on the title screen until the game runs: the dark
    // playfield replaces the blue title screen. On a loaded machine a click can
    // fall between two slow frames, so it is repeated.
    void StartGame(ProgramRun& run) {
        bool playing = false;
        for (int attempt = 0; attempt < 3 && !playing; ++attempt) {
            ClickLogical(run, kCentreX, kVH / 2 + 80);
            for (int waited = 0; waited < 5000 && !playing; waited += 250) {
                const double blue = run.MeanBlue();
                playing = blue >= 0 && blue < 40;
                if (!playing) Pause(250);
            }
        }
        ASSERT_TRUE(playing) << "the game did not start";
    }

    // Chooses Medium on the title screen, starts a game, flies a little while
    // firing, then quits it from the pause menu.
    void PlayMediumAndQuit(ProgramRun& run) {
        ClickLogical(run, kCentreX - 50, kVH / 2 + 250 + 20);
        StartGame(run);
        Pause(1000);
        run.MovePointerLogical(300, 400, kVW, kVH);
        run.ButtonDown(3);
        for (int i = 0; i < 12; ++i) {
            run.MovePointerLogical(300 + 30 * i, 400 + 20 * (i % 5), kVW, kVH);
            Pause(250);
        }
        run.ButtonUp(3);
        // Escape opens the pause menu; Down selects Quit; Space chooses it.
        run.TapKey("Escape");
        Pause(500);
        run.TapKey("Down");
        Pause(300);
        run.TapKey("space");
    }

    // Presses Escape on the title screen and leaves through the closing screen.
    void QuitFromTitle(ProgramRun& run) {
        // Held long enough for a heavily loaded machine's slow frames to see it.
        run.KeyDown("Escape");
        Pause(600);
        run.KeyUp("Escape");
        QuitThroughClosingScreen(run);
    }
};

}  // namespace zqtest

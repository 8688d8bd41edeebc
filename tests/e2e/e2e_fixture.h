// The fixture every end-to-end test shares: a private X server and the steps
// that drive the real program in its 800x600 window (start to the title
// screen, start a game, quit it from the pause menu, enter a name, leave
// through the closing screen). Every step waits, bounded, on what the program
// shows or writes (a log line, the window, a file, a pixel), never for a fixed
// time, and returns an AssertionResult that says what did not happen: use
// ASSERT_TRUE(Step(run, ...)), or EXPECT_TRUE where the test may go on.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/program_harness.h"
#include "tests/support/xvfb.h"

namespace zqtest {

// The logical screen of the 800x600 window, and the title screen's layout
// there: its panel is 415 wide, the start button and the difficulties sit in
// the centre column of the rest.
inline constexpr int kVW = 1280, kVH = 960;
inline constexpr int kPanelX = kVW - 415;
inline constexpr int kCentreX = (kVW - 415) / 2;
// Bounds of the waits: start-up (the engine test is slow on a loaded
// machine) and any one change of screen.
inline constexpr int kLoadMs = 120000, kScreenMs = 20000;

enum class Difficulty { kEasy, kMedium, kHard };

// Lets ms of play pass between two inputs of a flight: input spread over
// time, never a wait for the program (wait on what it shows instead).
inline void Pace(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Returns what the program's --scores prints (one JSON line a run).
inline std::string ScoresJson(const ProgramRun& run) {
    return run.RunOnce({"--scores"});
}

// Returns true when a --scores output holds a run with this name.
inline bool HoldsRun(const std::string& json, const std::string& name) {
    return json.find("\"name\":\"" + name + "\"") != std::string::npos;
}

// Returns true when lines hold one equal to line.
inline bool HasLine(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class ProgramTest : public ::testing::Test {
  protected:
    using Result = ::testing::AssertionResult;

    void SetUp() override { ZQ_REQUIRE_X(SharedXvfb().Ok(), "Xvfb did not start"); }

    // Starts the program (on the shared X server when display is empty) and
    // waits for the title screen with its panel at rest.
    Result StartToTitle(ProgramRun& run, const std::string& display = "");
    // Waits until the title screen's panel rests in place (after start-up or a game).
    Result WaitForTitle(ProgramRun& run);
    // Moves the pointer to a logical position and clicks the left button.
    void ClickAt(ProgramRun& run, int x, int y);
    // From the title screen: chooses the difficulty, then clicks the start
    // button until the game's dark playfield shows.
    Result StartGame(ProgramRun& run, Difficulty difficulty);
    // From a running game: opens the pause menu, chooses Quit and waits for
    // the name entry.
    Result QuitGame(ProgramRun& run);
    // Waits (up to timeoutMs) for the name entry, replaces the name shown by
    // name, each key held until the screen shows its effect, and with confirm
    // presses Return and waits for the screen to go.
    Result EnterName(ProgramRun& run, const std::string& name, bool confirm = true,
                     int timeoutMs = kScreenMs);
    // From the title screen: plays a game, quits it and enters a name.
    Result PlayAndEnter(ProgramRun& run, Difficulty difficulty, const std::string& name,
                        bool confirm = true);
    // Waits until --scores shows a run named name; stores what it printed in json.
    Result WaitForStoredRun(ProgramRun& run, const std::string& name, std::string* json = nullptr);
    // Opens (open) or shuts the settings panel with Tab and waits until it
    // rests (Tab also saves the settings).
    Result ToggleSettings(ProgramRun& run, bool open);
    // With the settings panel open, switches slow-system mode (frame skipping)
    // on or off. Note: in that mode the engine test at start-up and after
    // Apply takes a minute; a loaded machine's engine test may choose it.
    void ChooseSlowSystem(ProgramRun& run, bool on);
    // Holds Escape on the title screen until the closing screen comes, then
    // leaves through it.
    Result QuitFromTitle(ProgramRun& run);
    // Waits for the closing screen, then presses a key until the program
    // ends, and expects exit status 0.
    Result LeaveClosingScreen(ProgramRun& run, size_t fromLine = 0);
};

}  // namespace zqtest

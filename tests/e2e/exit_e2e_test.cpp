// Ends forced from outside, with the real program: a terminate signal on the
// title screen, in a game and during name entry takes the orderly way out
// (settings written, a run waiting for its name stored as typed so far), and
// an X server that goes away under the program still leaves everything saved,
// with one line on standard error and exit status 1.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "tests/e2e/e2e_fixture.h"
#include "tests/support/program_harness.h"
#include "tests/support/xvfb.h"

namespace {

using zqtest::Pause;
using zqtest::ProgramRun;
using zqtest::ScoresJson;

// The logical screen of the 800x600 window and the title screen's centre column.
constexpr int kVW = 1280, kVH = 960;
constexpr int kCentreX = (kVW - 415) / 2;

enum class Where { Title, Game, NameEntry };

bool HasLine(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class ExitE2E : public zqtest::ProgramTest {
  protected:
    // From the title screen: starts an Easy game and waits (bounded) for its
    // dark playfield.
    void StartGame(ProgramRun& run) {
        ClickLogical(run, kCentreX - 50, kVH / 2 + 200 + 20);
        ClickLogical(run, kCentreX, kVH / 2 + 80);
        bool playing = false;
        for (int waited = 0; waited < 20000 && !playing && run.Running(); waited += 250) {
            Pause(250);
            playing = run.MeanBlue() < 40;
        }
        ASSERT_TRUE(playing) << "the game did not start";
        Pause(500);
    }

    // From a running game: quits through the pause menu, waits for name
    // entry (the blue backdrop again) and types a name without confirming it.
    void TypeNameWithoutConfirming(ProgramRun& run, const std::string& name) {
        run.TapKey("Escape");
        Pause(500);
        run.TapKey("Down");
        Pause(300);
        run.TapKey("space");
        bool entry = false;
        for (int waited = 0; waited < 20000 && !entry && run.Running(); waited += 250) {
            entry = run.MeanBlue() > 40;
            if (!entry) Pause(250);
        }
        ASSERT_TRUE(entry) << "name entry did not come up";
        Pause(500);
        for (int i = 0; i < 12; ++i) run.TapKey("BackSpace");
        for (char c : name) run.TapKey(std::string(1, c));
        Pause(1500);  // one character per frame, on a busy machine too
    }

    void GoTo(ProgramRun& run, Where where) {
        if (where == Where::Title) return;
        StartGame(run);
        if (where == Where::NameEntry) TypeNameWithoutConfirming(run, "kit");
    }
};

TEST_F(ExitE2E, TerminateSignalsTakeTheOrderlyWayOut) {
    struct Case {
        int signal;
        Where where;
        const char* label;
    };
    const Case cases[] = {
        {SIGINT, Where::Title, "SIGINT on the title screen"},
        {SIGTERM, Where::Game, "SIGTERM in a game"},
        {SIGHUP, Where::NameEntry, "SIGHUP during name entry"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ProgramRun run;
        StartToTitle(run);
        GoTo(run, c.where);
        if (HasFailure()) return;
        std::filesystem::remove(run.Path("Files/Setup.ini"));

        run.Signal(c.signal);
        // No press is awaited: the program saves and ends by itself.
        EXPECT_EQ(run.WaitForExit(20000), 0) << run.StdErr();
        const auto lines = run.LogLines();
        EXPECT_TRUE(HasLine(lines, "\tEnded by signal " + std::to_string(c.signal)));
        EXPECT_TRUE(HasLine(lines, "Play again, soon!!"));
        EXPECT_TRUE(std::filesystem::exists(run.Path("Files/Setup.ini")));
        if (c.where == Where::NameEntry) {
            const std::string json = ScoresJson(run);
            EXPECT_NE(json.find("\"name\":\"kit\""), std::string::npos) << json;
        }
    }
}

TEST_F(ExitE2E, LosingTheXServerSavesEverythingAndSaysSoOnce) {
    auto server = std::make_unique<zqtest::XvfbServer>();
    ASSERT_TRUE(server->Ok());
    ProgramRun run;
    ASSERT_TRUE(run.Start({}, server->Display()));
    ASSERT_TRUE(run.WaitForLogLine("Finished Loading", 120000)) << run.StdErr();
    ASSERT_TRUE(run.WaitForWindow());
    Pause(3500);
    GoTo(run, Where::NameEntry);
    if (HasFailure()) return;
    std::filesystem::remove(run.Path("Files/Setup.ini"));

    run.AbandonDisplayConnection();
    server.reset();  // the server goes away under the running program

    EXPECT_EQ(run.WaitForExit(20000), 1);
    const std::string err = run.StdErr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("lost the connection to X display"), std::string::npos) << err;
    EXPECT_TRUE(
        HasLine(run.LogLines(), "Lost the connection to the X server: settings and scores saved"));
    EXPECT_TRUE(std::filesystem::exists(run.Path("Files/Setup.ini")));
    const std::string json = ScoresJson(run);
    EXPECT_NE(json.find("\"name\":\"kit\""), std::string::npos) << json;
}

}  // namespace

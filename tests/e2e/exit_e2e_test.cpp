// Ends forced from outside, with the real program: a terminate signal on the
// title screen, in a game and during name entry takes the orderly way out
// (settings written, a run waiting for its name stored as typed so far), and
// an X server that goes away under the program still leaves everything saved,
// with one line on standard error and exit status 1.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>

#include "tests/e2e/e2e_fixture.h"

namespace {

using zqtest::Difficulty;
using zqtest::HasLine;
using zqtest::ProgramRun;
using zqtest::ScoresJson;

enum class Where { Title, Game, NameEntry };

class ExitE2E : public zqtest::ProgramTest {
  protected:
    // From the title screen: goes into an Easy game, or on to its name entry
    // with a name typed but not confirmed.
    Result GoTo(ProgramRun& run, Where where) {
        if (where == Where::Title) return ::testing::AssertionSuccess();
        if (Result game = StartGame(run, Difficulty::kEasy); !game) return game;
        if (where == Where::Game) return ::testing::AssertionSuccess();
        if (Result quit = QuitGame(run); !quit) return quit;
        return EnterName(run, "kit", false);
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
        ASSERT_TRUE(StartToTitle(run));
        ASSERT_TRUE(GoTo(run, c.where));
        std::filesystem::remove(run.Path("Files/Setup.ini"));

        run.Signal(c.signal);
        // No press is awaited: the program saves and ends by itself.
        EXPECT_EQ(run.WaitForExit(20000), 0) << run.StdErr();
        const auto lines = run.LogLines();
        EXPECT_TRUE(HasLine(lines, "\tEnded by signal " + std::to_string(c.signal)));
        EXPECT_TRUE(HasLine(lines, "Play again, soon!!"));
        EXPECT_TRUE(std::filesystem::exists(run.Path("Files/Setup.ini")));
        if (c.where == Where::NameEntry) {
            EXPECT_TRUE(zqtest::HoldsRun(ScoresJson(run), "kit")) << ScoresJson(run);
        }
    }
}

TEST_F(ExitE2E, LosingTheXServerSavesEverythingAndSaysSoOnce) {
    auto server = std::make_unique<zqtest::XvfbServer>();
    ASSERT_TRUE(server->Ok());
    ProgramRun run;
    ASSERT_TRUE(StartToTitle(run, server->Display()));
    ASSERT_TRUE(GoTo(run, Where::NameEntry));
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
    EXPECT_TRUE(zqtest::HoldsRun(ScoresJson(run), "kit")) << ScoresJson(run);
}

}  // namespace

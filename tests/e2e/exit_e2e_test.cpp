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

using zqtest::HasLine;

enum class Where { kTitle, kGame, kNameEntry };

struct Ending {
    const char* name;
    int signal;  // 0: the X server goes away
    Where where;
};

void PrintTo(const Ending& end, std::ostream* out) {
    *out << end.name;
}

class ExitE2E : public zqtest::ProgramTest, public ::testing::WithParamInterface<Ending> {};

TEST_P(ExitE2E, SavesEverythingAndEndsInOrder) {
    const Ending& end = GetParam();
    auto server = end.signal ? nullptr : std::make_unique<zqtest::XvfbServer>();
    zqtest::ProgramRun run;
    ASSERT_TRUE(StartToTitle(run, server ? server->Display() : ""));
    // An Easy game, or on to its name entry with a name typed but not confirmed.
    if (end.where == Where::kGame) {
        ASSERT_TRUE(StartGame(run, zqtest::Difficulty::kEasy));
    } else if (end.where == Where::kNameEntry) {
        ASSERT_TRUE(PlayAndEnter(run, zqtest::Difficulty::kEasy, "kit", false));
    }
    std::filesystem::remove(run.Path("Files/Setup.ini"));

    if (server) {
        run.AbandonDisplayConnection();
        server.reset();  // the server goes away under the running program
    } else {
        run.Signal(end.signal);
    }
    // No press is awaited: the program saves and ends by itself.
    EXPECT_EQ(run.WaitForExit(20000), end.signal ? 0 : 1) << run.StdErr();
    const auto lines = run.LogLines();
    const std::string err = run.StdErr();
    if (end.signal) {
        EXPECT_TRUE(HasLine(lines, "\tEnded by signal " + std::to_string(end.signal)));
        EXPECT_TRUE(HasLine(lines, "Play again, soon!!"));
    } else {
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_NE(err.find("lost the connection to X display"), std::string::npos) << err;
        EXPECT_TRUE(
            HasLine(lines, "Lost the connection to the X server: settings and scores saved"));
    }
    EXPECT_TRUE(std::filesystem::exists(run.Path("Files/Setup.ini")));
    if (end.where == Where::kNameEntry) {
        EXPECT_TRUE(zqtest::HoldsRun(zqtest::ScoresJson(run), "kit")) << zqtest::ScoresJson(run);
    }
}

INSTANTIATE_TEST_SUITE_P(Endings, ExitE2E,
                         ::testing::Values(Ending{"SigintOnTheTitle", SIGINT, Where::kTitle},
                                           Ending{"SigtermInAGame", SIGTERM, Where::kGame},
                                           Ending{"SighupInNameEntry", SIGHUP, Where::kNameEntry},
                                           Ending{"XServerLostInNameEntry", 0, Where::kNameEntry}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

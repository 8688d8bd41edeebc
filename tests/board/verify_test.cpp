// Verification in a child process: the real child judges real replays, and
// stand-in children that crash, hit the processor limit, write nonsense or
// flood their output are told apart (a retry, a rejection or a stop) without
// the server ever hanging on them.
#include "board/verify.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "tests/board/board_fixture.h"

namespace zqtest {
namespace {

TEST(BoardVerify, TellsVerdictsFromChildrenThatFailed) {
    TempDir dir;
    // Writes a stand-in child program and returns its path.
    auto script = [&dir](const std::string& name, const std::string& body) {
        const std::string path = dir / name;
        EXPECT_TRUE(WriteWholeFile(path, "#!/bin/sh\n" + body + "\n"));
        ::chmod(path.c_str(), 0755);
        return path;
    };
    const std::string boasted =
        CraftReplay("easy", [](game::Replay& r) { r.header.score += 1000; });
    struct Case {
        const char* what;
        std::string program;
        std::string bytes;
        bool stop;
        board::ChildOutcome outcome;
        bool verified;
        std::string reason;  // a part of the verdict's reason, or of the detail
        int wallSeconds = board::kVerifyWallSeconds;
        board::ChildLimits limits = {};
    };
    // Only the wall-time cases are held to a short limit: a slow (sanitizer)
    // build must not trip it elsewhere.
    board::ChildLimits oneSecond;
    oneSecond.cpuSeconds = 1;
    board::ChildLimits noSuchClass;
    noSuchClass.schedulingPolicy = 12345;
    const std::vector<Case> cases = {
        {"a real run", BoardExecutable(), GoldenReplayBytes("hard"), false,
         board::ChildOutcome::Judged, true, ""},
        {"a real run played under rules 1", BoardExecutable(), GoldenReplayBytes("rules1/hard"),
         false, board::ChildOutcome::Judged, true, ""},
        {"a boasted run", BoardExecutable(), boasted, false, board::ChildOutcome::Judged, false,
         "score differs"},
        {"junk", BoardExecutable(), "junk", false, board::ChildOutcome::Judged, false,
         "not a readable replay"},
        {"a header claiming over 2 hours", BoardExecutable(),
         WithHeaderFrames("hard", 2 * 60 * 60 * 60 + 1), false, board::ChildOutcome::Judged, false,
         "longer than 2 hours of play"},
        // The limits reach the program the child runs: processor time, no core
        // dumps, a batch job (scheduling policy 3).
        {"the child's limits",
         script("limits", R"(echo "{\"verified\":false,\"score\":0,\"first_bad_step\":null,)"
                          R"(\"reason\":\"cpu $(ulimit -t) core $(ulimit -c) )"
                          R"(policy $(cut -d' ' -f41 /proc/$$/stat)\"}")"),
         "x", false, board::ChildOutcome::Judged, false,
         "cpu " + std::to_string(board::kVerifyCpuSeconds) + " core 0 policy 3"},
        {"foreign bytes in a reason",
         script("foreign",
                R"(printf '{"verified":false,"score":0,"first_bad_step":null,"reason":"a\\nb"}')"),
         "x", false, board::ChildOutcome::Judged, false, "a\\x0Ab"},
        {"a crash", script("crash", "kill -SEGV $$"), "x", false, board::ChildOutcome::Crashed,
         false, "signal 11"},
        {"a failure", script("fail", "exit 3"), "x", false, board::ChildOutcome::Crashed, false,
         "status 3"},
        {"the processor limit", script("cpu", "while :; do :; done"), "x", false,
         board::ChildOutcome::TooSlow, false, "1 s of processor time", board::kVerifyWallSeconds,
         oneSecond},
        // Killed from elsewhere (the out-of-memory killer, an operator): tried again.
        {"SIGKILL from elsewhere", script("killed", "kill -KILL $$"), "x", false,
         board::ChildOutcome::Crashed, false, "signal 9"},
        {"SIGXCPU from elsewhere", script("xcpu", "kill -XCPU $$"), "x", false,
         board::ChildOutcome::Crashed, false, "signal 24"},
        {"nonsense", script("nonsense", "echo nonsense"), "x", false, board::ChildOutcome::Crashed,
         false, "no verdict"},
        {"a damaged verdict", script("damaged", "echo '{\"verified\":\"yes\"}'"), "x", false,
         board::ChildOutcome::Crashed, false, "damaged verdict"},
        {"damaged check values under other rules",
         script("mixed", R"(echo '{"verified":true,"score":0,"first_bad_step":null,"reason":"",)"
                         R"("other_rules":[{"rules":1,"count":1,"first":"0000000g"}]}')"),
         "x", false, board::ChildOutcome::Crashed, false, "damaged verdict"},
        {"a first scoring value past any replay",
         script("past", R"(echo '{"verified":true,"score":5,"first_bad_step":null,"reason":"",)"
                        R"("scored_from":99999999}')"),
         "x", false, board::ChildOutcome::Crashed, false, "damaged verdict"},
        {"a flood", script("flood", "yes"), "x", false, board::ChildOutcome::Crashed, false,
         "wrote more than"},
        {"a stopping server", script("sleeper", "exec sleep 30"), "x", true,
         board::ChildOutcome::Abandoned, false, "stopping"},
        {"a lost claim", script("sleeper", "exec sleep 30"), "x", false,
         board::ChildOutcome::ClaimLost, false, "claim on the run was lost"},
        // A busy machine is no fault of the run: it is tried again, not rejected.
        {"the wall-time limit", script("sleeper", "exec sleep 30"), "x", false,
         board::ChildOutcome::Crashed, false, "1 s of wall time", 1},
        {"output closed, no exit", script("mute", "exec >&-; exec sleep 30"), "x", false,
         board::ChildOutcome::Crashed, false, "output closed, it did not exit", 1},
        {"no such program", dir / "missing", "x", false, board::ChildOutcome::Unavailable, false,
         "could not start: No such file"},
        // A limit the system refuses: the run is not verified without it.
        {"a scheduling class that cannot be set", script("never", "echo never started"), "x", false,
         board::ChildOutcome::Unavailable, false,
         "could not set its scheduling class: Invalid argument", board::kVerifyWallSeconds,
         noSuchClass},
    };
    for (const Case& c : cases) {
        std::atomic<bool> stop{c.stop};
        // Claims are renewed often; every renewal fails for the lost claim.
        const bool held = c.outcome != board::ChildOutcome::ClaimLost;
        const board::ChildResult r = board::VerifyInChild(
            c.program, c.bytes, stop, [held] { return held; }, 20, c.wallSeconds, c.limits);
        EXPECT_EQ(r.outcome, c.outcome) << c.what << ": " << r.detail;
        EXPECT_EQ(r.verdict.verified, c.verified) << c.what;
        const std::string said = r.verdict.reason + " | " + r.detail;
        EXPECT_NE(said.find(c.reason), std::string::npos) << c.what << ": " << said;
        // A verified real run comes with its game under the other rules: the
        // first check values its inputs re-recorded under them hold.
        const bool real = c.program == BoardExecutable() && r.verdict.verified;
        ASSERT_EQ(r.otherRules.size(), real ? 1u : 0u) << c.what;
        if (!real) continue;
        game::Replay cheat;
        std::string error;
        ASSERT_TRUE(game::DecodeReplay(c.bytes, cheat, error)) << error;
        const std::vector<uint32_t> own = cheat.checks;
        cheat.header.rules = cheat.header.rules == 1 ? 2 : 1;
        cheat = Replayed(std::move(cheat));
        const board::OtherRulesChecks& other = r.otherRules[0];
        EXPECT_EQ(other.rules, cheat.header.rules) << c.what;
        EXPECT_EQ(other.count, static_cast<int64_t>(cheat.checks.size())) << c.what;
        ASSERT_FALSE(other.first.empty()) << c.what;
        ASSERT_LE(other.first.size(), cheat.checks.size()) << c.what;
        EXPECT_TRUE(std::equal(other.first.begin(), other.first.end(), cheat.checks.begin()))
            << c.what;
        EXPECT_FALSE(other.first.size() <= own.size() &&
                     std::equal(other.first.begin(), other.first.end(), own.begin()))
            << c.what << ": the same values under both rules";
    }
}

TEST(BoardVerify, RejectsOtherVersionsAndOverlongRunsWithoutSimulating) {
    struct Case {
        std::string bytes;
        std::string reason;  // "" when a re-simulation is needed
    };
    const std::vector<Case> cases = {
        {GoldenReplayBytes("medium"), ""},
        {GoldenReplayBytes("rules1/medium"), ""},
        {CraftReplay("medium", [](game::Replay& r) { r.header.programVersion = "2.0"; }),
         "made with version 2.0"},
        {CraftReplay("medium",
                     [](game::Replay& r) {
                         r.header.frames = 2 * 60 * 60 * 60 + 60;
                         r.steps.resize(r.header.frames, r.steps.back());
                         r.checks.resize(game::ReplayCheckCount(r.header.frames), 0);
                     }),
         "longer than 2 hours of play"},
        {"ZQREPLAY", "not a readable replay"},
        // Judged from the header alone: the steps are never unpacked.
        {WithHeaderFrames("medium", 2 * 60 * 60 * 60 + 1), "longer than 2 hours of play"},
        // Runs stored before versions were checked at upload: the reason keeps to plain text.
        {CraftReplay("medium",
                     [](game::Replay& r) {
                         r.header.programVersion = std::string("1.0\xFF\0\nrun 99 verified", 21);
                     }),
         "made with version 1.0\\xFF\\x00\\x0Arun 99 verified"},
    };
    for (const Case& c : cases) {
        const auto verdict = board::PrecheckReplay(c.bytes);
        EXPECT_EQ(verdict.has_value(), !c.reason.empty()) << c.reason;
        if (verdict) {
            EXPECT_FALSE(verdict->verified);
            EXPECT_EQ(verdict->reason.rfind(c.reason, 0), 0u) << verdict->reason;
        }
    }
}

}  // namespace
}  // namespace zqtest

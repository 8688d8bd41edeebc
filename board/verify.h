// Verification of one run in a child process: the game keeps its state in
// program-wide globals, so each re-simulation runs in a fresh process of the
// verifier (zarquill-board-verify, or the server's own program with
// "--verify-one" where the verifier is not installed), reading the replay on
// standard input and writing its verdict as one JSON line. The parent sets the child's limits
// (processor time, address space, no core dumps, a lower priority as a batch
// job) between fork and exec and refuses to verify when one cannot be set. A
// crash or a kill of the child never loses the run, and never hangs its worker.
#pragma once

#include <sched.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "board/limits.h"
#include "board/storage.h"

namespace board {

// The hidden option that runs a process as a verification child.
inline constexpr const char* kVerifyOneOption = "--verify-one";
// The verifier's file name.
inline constexpr const char* kVerifierName = "zarquill-board-verify";

// Returns the verifier that goes with the server at programPath: beside it (the
// build's layout) or in the installed layout's folder for helper programs;
// programPath itself when neither holds an executable verifier.
std::string FindVerifier(const std::string& programPath);

// How a verification in a child ended.
enum class ChildOutcome {
    Judged,       // the child re-simulated the replay: see the verdict
    TooSlow,      // it used up its processor time: the replay itself is too costly
    Crashed,      // it died (a kill from elsewhere too), wrote nothing usable or outlived
                  // the wall-time limit on a busy machine: worth another attempt
    Abandoned,    // the server is stopping; the run stays pending
    ClaimLost,    // the worker's claim on the run went to another: the child was killed
    Unavailable,  // no child could be started, or not under its limits: the server's
                  // fault, not the run's
};

// The limits a verification child runs under.
struct ChildLimits {
    int cpuSeconds = kVerifyCpuSeconds;  // processor time, then SIGXCPU
    uint64_t addressSpaceBytes = kVerifyAddressSpaceBytes;
    int nice = kVerifyNice;  // added to the server's niceness
    int schedulingPolicy = SCHED_BATCH;
};

struct ChildResult {
    ChildOutcome outcome = ChildOutcome::Crashed;
    Verdict verdict;     // for Judged
    std::string detail;  // what happened, for the log
    // For a verified run: its game under every other rules version this
    // program knows, which may copy an earlier run.
    std::vector<OtherRulesChecks> otherRules;
};

// Runs as the verification child (under the limits its parent set): reads a
// replay from standard input, re-simulates it and prints the verdict; returns the exit status.
int RunVerifyChild();
// Returns the verdict a replay gets before any re-simulation (a replay made
// with another program version, or unreadable), or nothing when it needs one.
std::optional<Verdict> PrecheckReplay(const std::string& bytes);
// Verifies replay bytes in a child of the executable `program` under limits;
// gives up (Abandoned) soon after stop becomes true. While the child runs,
// renewClaim (when given) is called every renewMs; when it returns false the
// child is killed (ClaimLost). A child still running after wallSeconds, with
// its output closed or not, is killed too. The child dies with the calling thread.
ChildResult VerifyInChild(const std::string& program, const std::string& bytes,
                          const std::atomic<bool>& stop,
                          const std::function<bool()>& renewClaim = {}, int renewMs = kClaimRenewMs,
                          int wallSeconds = kVerifyWallSeconds, const ChildLimits& limits = {});

}  // namespace board

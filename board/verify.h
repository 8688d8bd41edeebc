// Verification of one run in a child process: the game keeps its state in
// program-wide globals, so each re-simulation runs in a fresh copy of the
// server's own program ("--verify-one"), reading the replay on standard input
// and writing its verdict as one JSON line, under a processor-time and an
// address-space limit. A crash or a kill of the child never loses the run.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "board/storage.h"

namespace board {

// The hidden option that runs a process as a verification child.
inline constexpr const char* kVerifyOneOption = "--verify-one";

// How a verification in a child ended.
enum class ChildOutcome {
    Judged,       // the child re-simulated the replay: see the verdict
    TooSlow,      // it hit the processor-time or wall-time limit
    Crashed,      // it died or wrote nothing usable: worth another attempt
    Abandoned,    // the server is stopping; the run stays pending
    Unavailable,  // no child could be started: the server's fault, not the run's
};

struct ChildResult {
    ChildOutcome outcome = ChildOutcome::Crashed;
    Verdict verdict;     // for Judged
    std::string detail;  // what happened, for the log
};

// Runs as the verification child: limits itself, reads a replay from
// standard input, re-simulates it and prints the verdict; returns the exit status.
int RunVerifyChild();
// Returns the verdict a replay gets before any re-simulation (a replay made
// with another program version, or unreadable), or nothing when it needs one.
std::optional<Verdict> PrecheckReplay(const std::string& bytes);
// Verifies replay bytes in a child of the executable `program`; gives up
// (Abandoned) soon after stop becomes true.
ChildResult VerifyInChild(const std::string& program, const std::string& bytes,
                          const std::atomic<bool>& stop);

}  // namespace board

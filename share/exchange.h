// One exchange with a board's API: send a run (or ask about one the board
// already holds), wait for the verdict and read the run's place.
#pragma once

#include <atomic>
#include <string>

#include "share/queue_file.h"

namespace scores {

// What one exchange with the board gave.
struct ShareResult {
    BoardRun run;               // the run's new state
    std::string problem;        // why it could not be sent ("" when the board answered)
    int retryAfterSeconds = 0;  // how long the board asked to wait (429), 0 for no wish
};

// Time limits of one exchange.
struct ShareLimits {
    int connectMs = 5000;       // per request, to connect
    int requestMs = 20000;      // per request, in all
    int verdictWaitMs = 60000;  // how long to wait for a verdict after sending
    int verdictPollMs = 1000;   // between two questions about a pending run
};

// Sends a run's replay to the board (or, once the board has its id, only asks
// for its state), waits up to limits.verdictWaitMs for the verdict, and takes
// a verified run's rank from the board's answer about the run. Blocking; safe
// on any thread; stops early when stop becomes true. Nothing is logged here.
ShareResult ExchangeRun(const std::string& server, const std::string& token, const BoardRun& run,
                        const std::string& replayBytes, const ShareLimits& limits,
                        const std::atomic<bool>& stop);

}  // namespace scores

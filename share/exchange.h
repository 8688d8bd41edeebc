// One exchange with a board's API: send a run (or ask about one the board
// already holds), wait for the verdict and read the run's place. The exchange
// is a series of requests (TRunExchange) that a caller sends as it can: one
// after another, waiting (ExchangeRun, for the command line and any thread),
// or started from the frame loop without waiting (the game's background
// sharing, the same on the desktop and in the browser).
#pragma once

#include <atomic>
#include <chrono>
#include <optional>
#include <string>

#include "engine/http/http_client.h"
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

// One exchange's requests and what their answers make of the run.
class TRunExchange {
  public:
    using Clock = std::chrono::steady_clock;

    // Begins the exchange of run with server at now; a refused run is done at once.
    TRunExchange(std::string server, std::string token, const BoardRun& run,
                 std::string replayBytes, const ShareLimits& limits, Clock::time_point now);
    // Returns the request to send now: none while one is out, while waiting
    // to ask again (until WakeAt()) or once the exchange is done.
    std::optional<media::THttpRequest> NextRequest(Clock::time_point now);
    // Takes the answer to the request NextRequest gave last.
    void TakeAnswer(const media::THttpResponse& answer, Clock::time_point now);
    // Ends the exchange where it stands (stopped while waiting to ask again).
    void Finish() { step_ = Step::kDone; }
    // Returns true once the exchange is over.
    bool Done() const { return step_ == Step::kDone; }
    // Returns when the next question about a pending run is due.
    Clock::time_point WakeAt() const { return wakeAt_; }
    // Returns what the exchange gave (complete once Done()).
    const ShareResult& Result() const { return out_; }

  private:
    enum class Step { kPost, kReadSettled, kAwait, kDone };
    media::THttpRequest Make(const std::string& method, const std::string& path) const;
    void AfterPost(Clock::time_point now);
    void WaitToAskAgain(Clock::time_point now);

    std::string server_;
    std::string token_;
    std::string replayBytes_;
    ShareLimits limits_;
    ShareResult out_;
    Step step_ = Step::kPost;
    bool asking_ = false;  // a request is out
    Clock::time_point deadline_{};
    Clock::time_point wakeAt_{};
};

// Sends a run's replay to the board (or, once the board has its id, only asks
// for its state), waits up to limits.verdictWaitMs for the verdict, and takes
// a verified run's rank from the board's answer about the run. Blocking; safe
// on any thread; stops early when stop becomes true. Nothing is logged here.
ShareResult ExchangeRun(const std::string& server, const std::string& token, const BoardRun& run,
                        const std::string& replayBytes, const ShareLimits& limits,
                        const std::atomic<bool>& stop);

}  // namespace scores

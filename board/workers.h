// The verification workers: a pool of threads that claim pending runs from
// storage (a short lease each, renewed while the run is verified), verify
// them in child processes and store the verdict. Runs wait in storage, so the queue survives
// restarts; a run whose worker stops or dies stays pending and is claimed again.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "board/metrics.h"
#include "board/storage.h"

namespace board {

class Workers {
  public:
    // Prepares count workers; program is the executable run as the child,
    // holderId names this server in claims, nowMs gives milliseconds since the epoch.
    Workers(Storage& storage, Metrics& metrics, std::string program, std::string holderId,
            int count, std::function<int64_t()> nowMs);
    // Stops the workers if they still run.
    ~Workers();
    Workers(const Workers&) = delete;
    Workers& operator=(const Workers&) = delete;

    // Sets what is called after each stored verdict (before Start).
    void OnVerdict(std::function<void()> call) { onVerdict_ = std::move(call); }
    // Starts the threads.
    void Start();
    // Wakes an idle worker (a new run is waiting).
    void Wake();
    // Stops every worker: runs being verified are given back as pending.
    void Stop();

  private:
    void Loop(int index);
    // Verifies one claimed run and stores its verdict (or gives it back).
    void Process(const ClaimedRun& run, const std::string& holder);
    // Verifies a run in a child while renewing its claim; nothing when there
    // is no verdict to store (the run was given back or stays claimed). A
    // verified run's games under other rules go to otherRules.
    std::optional<Verdict> VerifyClaimed(const ClaimedRun& run, const std::string& holder,
                                         std::vector<OtherRulesChecks>& otherRules);
    // Rejects a verified run that starts with an earlier run's scoring play,
    // or whose game under other rules copies an earlier run, of another
    // player; false when that could not be looked up (the run stays claimed).
    bool JudgeCopies(const ClaimedRun& run, const std::vector<OtherRulesChecks>& otherRules,
                     Verdict& verdict);
    // Stores a verdict that took seconds to reach, counts and logs it.
    void StoreVerdict(const ClaimedRun& run, const std::string& holder, const Verdict& verdict,
                      double seconds);
    // Re-simulates the oldest finished run after scoredUpTo_ whose scoring
    // opening is not known (finished by an older server) and stores it;
    // false when there was none.
    bool ScoreOlderRun();
    // Gives a claim back without counting the attempt.
    void Release(int64_t id, const std::string& holder);

    Storage& storage_;
    Metrics& metrics_;
    const std::string program_;
    const std::string holderId_;
    const int count_;
    std::function<int64_t()> nowMs_;
    std::function<void()> onVerdict_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    uint64_t wakeups_ = 0;  // guarded by mutex_
    int64_t scoredUpTo_ = 0;  // the last older run scored (worker 0's alone)
    std::vector<std::thread> threads_;
};

}  // namespace board

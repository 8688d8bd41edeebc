// The verification worker pool.
#include "board/workers.h"

#include <chrono>
#include <thread>

#include "board/limits.h"
#include "board/log.h"
#include "board/verify.h"

namespace board {

Workers::Workers(Storage& storage, Metrics& metrics, std::string program, std::string holderId,
                 int count, std::function<int64_t()> nowMs)
    : storage_(storage),
      metrics_(metrics),
      program_(std::move(program)),
      holderId_(std::move(holderId)),
      count_(count),
      nowMs_(std::move(nowMs)) {}

Workers::~Workers() {
    Stop();
}

void Workers::Start() {
    for (int i = 0; i < count_; ++i) threads_.emplace_back([this, i] { Loop(i); });
}

void Workers::Wake() {
    {
        std::lock_guard lock(mutex_);
        ++wakeups_;
    }
    wake_.notify_one();
}

void Workers::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
    threads_.clear();
}

void Workers::Loop(int index) {
    uint64_t claims = 0;
    uint64_t seenWakeups = 0;
    while (!stop_) {
        // Each claim gets its own holder name, so a worker can never finish a
        // run it lost to an expired lease and claimed again later.
        const std::string holder =
            holderId_ + "/" + std::to_string(index) + "/" + std::to_string(++claims);
        std::optional<ClaimedRun> run;
        try {
            run = storage_.ClaimPending(holder, nowMs_(), kClaimLeaseMs);
        } catch (const StorageError& e) {
            Log(std::string("worker: cannot claim a run: ") + e.what());
        }
        if (run) {
            Process(*run, holder);
            continue;
        }
        // With nothing pending, one worker learns where the runs an older
        // server finished first scored, one run at a time.
        if (index == 0 && ScoreOlderRun()) continue;
        std::unique_lock lock(mutex_);
        wake_.wait_for(lock, std::chrono::milliseconds(kWorkerPollMs),
                       [&] { return stop_ || wakeups_ != seenWakeups; });
        seenWakeups = wakeups_;
    }
}

bool Workers::ScoreOlderRun() {
    std::optional<ClaimedRun> run;
    try {
        run = storage_.UnscoredRun(scoredUpTo_);
    } catch (const StorageError& e) {
        Log(std::string("worker: cannot look for runs to score: ") + e.what());
        return false;
    }
    if (!run) return false;
    // Not claimed: another server doing the same run stores the same values.
    // A run whose replay no longer verifies owns no opening.
    scoredUpTo_ = run->id;
    int64_t scoredFrom = -1;
    if (!PrecheckReplay(run->replayBytes)) {
        const ChildResult child = VerifyInChild(program_, run->replayBytes, stop_);
        if (child.outcome == ChildOutcome::Abandoned) return false;
        if (child.outcome == ChildOutcome::Judged && child.verdict.scoredFrom) {
            scoredFrom = *child.verdict.scoredFrom;
        }
    }
    try {
        storage_.KeepScoring(run->id, scoredFrom);
    } catch (const StorageError& e) {
        Log("run " + std::to_string(run->id) + ": cannot store where it scored: " + e.what());
    }
    return true;
}

void Workers::Release(int64_t id, const std::string& holder) {
    try {
        storage_.Release(id, holder);
    } catch (const StorageError& e) {
        // The lease expires by itself: the run is never stranded.
        Log("run " + std::to_string(id) + ": cannot give the claim back: " + e.what());
    }
}

void Workers::Process(const ClaimedRun& run, const std::string& holder) {
    const auto started = std::chrono::steady_clock::now();
    std::optional<Verdict> verdict = PrecheckReplay(run.replayBytes);
    // Every claim counts, a verdict found without a child too: a run whose
    // verdict cannot be written is not claimed for ever.
    if (run.attempts > kMaxVerifyAttempts) {
        const std::string times = std::to_string(kMaxVerifyAttempts) + " times";
        verdict = Verdict{false,
                          0,
                          verdict ? "its verdict could not be stored " + times
                                  : "the verifier failed on this run " + times,
                          {},
                          {}};
    }
    std::vector<OtherRulesChecks> otherRules;
    if (!verdict) verdict = VerifyClaimed(run, holder, otherRules);
    if (!verdict) return;
    if (verdict->verified && !JudgeCopies(run, otherRules, *verdict)) return;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    StoreVerdict(run, holder, *verdict, seconds);
}

std::optional<Verdict> Workers::VerifyClaimed(const ClaimedRun& run, const std::string& holder,
                                              std::vector<OtherRulesChecks>& otherRules) {
    const std::string id = "run " + std::to_string(run.id);
    // The claim is renewed while the child runs, so a killed server's runs
    // are taken over after a short lease while a slow verification keeps its own.
    int64_t heldUntil = nowMs_() + kClaimLeaseMs;
    const auto renew = [&] {
        const int64_t now = nowMs_();
        try {
            if (!storage_.Renew(run.id, holder, now, kClaimLeaseMs)) return false;
            heldUntil = now + kClaimLeaseMs;
            return true;
        } catch (const StorageError& e) {
            // Unknown whether the claim holds: go on while the last renewal still stands.
            Log(id + ": cannot renew the claim: " + e.what());
            return now + kClaimRenewMs < heldUntil;
        }
    };
    ChildResult child = VerifyInChild(program_, run.replayBytes, stop_, renew);
    switch (child.outcome) {
        case ChildOutcome::Judged:
        case ChildOutcome::TooSlow:
            otherRules = std::move(child.otherRules);
            return child.verdict;
        case ChildOutcome::Crashed:
            // The claim is kept: the run is tried again when it expires,
            // and a run that keeps crashing its verifier ends rejected.
            metrics_.CountFailedAttempt();
            Log(id + ": attempt " + std::to_string(run.attempts) + " failed: " + child.detail);
            return std::nullopt;
        case ChildOutcome::Unavailable:
            // Not the run's fault: it is given back uncounted, and stays pending.
            metrics_.CountFailedStart();
            Log(id + ": not verified: " + child.detail);
            Release(run.id, holder);
            // Give the system a moment before the next try.
            std::this_thread::sleep_for(std::chrono::milliseconds(kWorkerPollMs));
            return std::nullopt;
        case ChildOutcome::Abandoned:
            Release(run.id, holder);
            return std::nullopt;
        case ChildOutcome::ClaimLost:
            // Another worker holds the run now; whatever this one found is dropped.
            metrics_.CountLostClaim();
            Log(id + ": " + child.detail);
            return std::nullopt;
    }
    return std::nullopt;
}

bool Workers::JudgeCopies(const ClaimedRun& run, const std::vector<OtherRulesChecks>& otherRules,
                          Verdict& verdict) {
    // Where the run first scored, as its re-simulation confirmed: the play
    // up to there is whoever sent it first's.
    std::optional<ScoringOpening> opening;
    if (verdict.scoredFrom && *verdict.scoredFrom >= 0) {
        if (const auto checks = ReplayChecks(run.replayBytes)) {
            opening = ScoringOpeningOf(*checks, *verdict.scoredFrom);
        }
    }
    if (otherRules.empty() && !opening) return true;
    std::optional<EarlierCopy> copy;
    try {
        copy = storage_.FindEarlierCopy(run.id, otherRules, opening);
    } catch (const StorageError& e) {
        // Like a verdict that cannot be stored: the claim runs out and the run is tried again.
        metrics_.CountFailedWrite();
        Log("run " + std::to_string(run.id) +
            ": cannot look for the run its game copies: " + e.what() + " (it stays pending)");
        return false;
    }
    // A player may re-record or go on from their own run; another player's is not theirs to rank.
    if (copy && !copy->sameOwner) {
        const std::string original = std::to_string(copy->original);
        verdict.verified = false;
        verdict.reason = copy->opening ? "starts with the scoring play of run " + original +
                                             ", sent first by another player"
                                       : "plays the same game as run " + original +
                                             " under other rules, sent first by another player";
        verdict.firstBadStep.reset();
    }
    return true;
}

void Workers::StoreVerdict(const ClaimedRun& run, const std::string& holder, const Verdict& verdict,
                           double seconds) {
    const std::string id = "run " + std::to_string(run.id);
    try {
        if (!storage_.Finish(run.id, holder, verdict, nowMs_())) {
            metrics_.CountLostClaim();
            Log(id + ": finished elsewhere (its claim expired); verdict dropped");
            return;
        }
    } catch (const StorageError& e) {
        metrics_.CountFailedWrite();
        Log(id + ": cannot store the verdict: " + e.what() + " (it stays pending)");
        return;
    }
    metrics_.CountVerdict(verdict.verified, seconds);
    if (onVerdict_) onVerdict_();
    char took[32];
    std::snprintf(took, sizeof took, "%.3f s", seconds);
    if (verdict.verified) {
        Log(id + " verified: score " + std::to_string(verdict.score) + " in " + took);
    } else {
        Log(id + " rejected: " + verdict.reason + " (" + took + ")");
    }
}

}  // namespace board

// The server's counters for /metrics, in Prometheus's text format: runs
// received, verified and rejected, the queue length, a histogram of
// verification seconds, and what went wrong on the way to a verdict (failed
// attempts, lost claims, children that could not start, verdicts not written).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace board {

class Metrics {
  public:
    // Counts a run newly received.
    void CountReceived() { received_.fetch_add(1, std::memory_order_relaxed); }
    // Counts a finished verification and how long it took.
    void CountVerdict(bool verified, double seconds);
    // Counts a verification attempt that ended without a verdict (a crash, a timeout).
    void CountFailedAttempt() { failedAttempts_.fetch_add(1, std::memory_order_relaxed); }
    // Counts a claim on a run that went to another worker before its verdict was stored.
    void CountLostClaim() { lostClaims_.fetch_add(1, std::memory_order_relaxed); }
    // Counts a verification child that could not be started under its limits.
    void CountFailedStart() { failedStarts_.fetch_add(1, std::memory_order_relaxed); }
    // Counts a verdict that could not be written to storage.
    void CountFailedWrite() { failedWrites_.fetch_add(1, std::memory_order_relaxed); }
    // Returns the exposition text, with the queue length given by the caller.
    std::string Render(int64_t queueLength) const;

  private:
    // Upper bounds of the histogram's buckets, in seconds (+Inf follows).
    static constexpr std::array<double, 9> kBounds = {0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30};

    std::atomic<uint64_t> received_{0};
    std::atomic<uint64_t> verified_{0};
    std::atomic<uint64_t> rejected_{0};
    std::atomic<uint64_t> failedAttempts_{0};
    std::atomic<uint64_t> lostClaims_{0};
    std::atomic<uint64_t> failedStarts_{0};
    std::atomic<uint64_t> failedWrites_{0};
    mutable std::mutex mutex_;  // guards the histogram
    std::array<uint64_t, kBounds.size()> buckets_{};
    uint64_t count_ = 0;
    double sum_ = 0;
};

}  // namespace board

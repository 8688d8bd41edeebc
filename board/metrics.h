// The server's counters for /metrics, in Prometheus's text format: runs
// received, verified and rejected, the queue length, and a histogram of
// verification seconds.
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
    // Returns the exposition text, with the queue length given by the caller.
    std::string Render(int64_t queueLength) const;

  private:
    // Upper bounds of the histogram's buckets, in seconds (+Inf follows).
    static constexpr std::array<double, 9> kBounds = {0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30};

    std::atomic<uint64_t> received_{0};
    std::atomic<uint64_t> verified_{0};
    std::atomic<uint64_t> rejected_{0};
    mutable std::mutex mutex_;  // guards the histogram
    std::array<uint64_t, kBounds.size()> buckets_{};
    uint64_t count_ = 0;
    double sum_ = 0;
};

}  // namespace board

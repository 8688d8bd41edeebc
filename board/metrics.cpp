// The Prometheus exposition of the server's counters.
#include "board/metrics.h"

#include <cstdio>

namespace board {

void Metrics::CountVerdict(bool verified, double seconds) {
    (verified ? verified_ : rejected_).fetch_add(1, std::memory_order_relaxed);
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < kBounds.size(); ++i) {
        if (seconds <= kBounds[i]) ++buckets_[i];
    }
    ++count_;
    sum_ += seconds;
}

std::string Metrics::Render(int64_t queueLength) const {
    std::string out;
    auto counter = [&out](const char* name, const char* help, uint64_t value) {
        out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " counter\n" +
               name + " " + std::to_string(value) + "\n";
    };
    counter("zarquill_board_runs_received_total", "Runs received and stored.",
            received_.load(std::memory_order_relaxed));
    counter("zarquill_board_runs_verified_total", "Runs whose re-simulation matched.",
            verified_.load(std::memory_order_relaxed));
    counter("zarquill_board_runs_rejected_total", "Runs whose re-simulation did not match.",
            rejected_.load(std::memory_order_relaxed));
    counter("zarquill_board_verification_failures_total",
            "Verification attempts that ended without a verdict (tried again).",
            failedAttempts_.load(std::memory_order_relaxed));
    counter("zarquill_board_claims_lost_total",
            "Claims on runs lost to another worker before a verdict was stored.",
            lostClaims_.load(std::memory_order_relaxed));
    counter("zarquill_board_child_start_failures_total",
            "Verification children that could not be started under their limits.",
            failedStarts_.load(std::memory_order_relaxed));
    counter("zarquill_board_verdict_write_failures_total",
            "Verdicts that could not be written to storage.",
            failedWrites_.load(std::memory_order_relaxed));
    out +=
        "# HELP zarquill_board_queue_length Runs waiting for verification.\n"
        "# TYPE zarquill_board_queue_length gauge\n"
        "zarquill_board_queue_length " +
        std::to_string(queueLength) + "\n";
    out +=
        "# HELP zarquill_board_verification_seconds Time to verify one run.\n"
        "# TYPE zarquill_board_verification_seconds histogram\n";
    std::lock_guard lock(mutex_);
    char line[128];
    for (size_t i = 0; i < kBounds.size(); ++i) {
        std::snprintf(line, sizeof line,
                      "zarquill_board_verification_seconds_bucket{le=\"%g\"} %llu\n", kBounds[i],
                      static_cast<unsigned long long>(buckets_[i]));
        out += line;
    }
    std::snprintf(line, sizeof line, "%.6f", sum_);
    out += "zarquill_board_verification_seconds_bucket{le=\"+Inf\"} " + std::to_string(count_) +
           "\nzarquill_board_verification_seconds_sum " + line +
           "\nzarquill_board_verification_seconds_count " + std::to_string(count_) + "\n";
    return out;
}

}  // namespace board

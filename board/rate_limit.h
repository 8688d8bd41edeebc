// A token bucket per client address, in memory only (addresses are never
// stored): each address may send a burst, then refills at a steady rate.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

namespace board {

class RateLimiter {
  public:
    // Makes a limiter of `burst` requests refilled at `perSecond`, tracking at most maxAddresses.
    RateLimiter(double burst, double perSecond, size_t maxAddresses);
    // Takes one request from the address's bucket at time nowMs; returns 0
    // when allowed, else the whole seconds until the next one is.
    int Take(const std::string& address, int64_t nowMs);

  private:
    struct Bucket {
        double tokens = 0;
        int64_t updatedMs = 0;
    };
    // Drops the buckets that have refilled completely (they hold nothing worth keeping).
    void DropFullBuckets(int64_t nowMs);

    const double burst_;
    const double perSecond_;
    const size_t maxAddresses_;
    std::mutex mutex_;
    std::unordered_map<std::string, Bucket> buckets_;
};

}  // namespace board

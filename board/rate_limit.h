// A token bucket per client address, in memory only (addresses are never
// stored): each address may send a burst, then refills at a steady rate. An
// IPv6 client counts per /64 (one subscriber's network, however many
// addresses it takes from it); an IPv4-mapped IPv6 address counts as its IPv4 address.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

namespace board {

// Returns milliseconds on a monotonic clock (the limiter's time: a wall clock
// set back or forward never empties or refills the buckets).
int64_t MonotonicMs();
// Returns the key an address is counted under: an IPv6 address's /64
// ("2001:db8:0:1::/64"), the IPv4 address of a mapped one, else the address as given.
std::string RateLimitKey(const std::string& address);

class RateLimiter {
  public:
    // Makes a limiter of `burst` requests refilled at `perSecond`, tracking at most maxAddresses.
    RateLimiter(double burst, double perSecond, size_t maxAddresses);
    // Takes one request from the bucket of the address's key at time nowMs (monotonic
    // milliseconds); returns 0 when allowed, else the whole seconds until the next one is.
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

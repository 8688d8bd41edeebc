// The per-address token buckets.
#include "board/rate_limit.h"

#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

namespace board {

int64_t MonotonicMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string RateLimitKey(const std::string& address) {
    in6_addr v6{};
    if (inet_pton(AF_INET6, address.c_str(), &v6) != 1) return address;
    char text[INET6_ADDRSTRLEN] = "";
    if (IN6_IS_ADDR_V4MAPPED(&v6)) {
        in_addr v4{};
        std::memcpy(&v4, &v6.s6_addr[12], sizeof v4);
        return inet_ntop(AF_INET, &v4, text, sizeof text) ? text : address;
    }
    std::memset(&v6.s6_addr[8], 0, 8);
    return inet_ntop(AF_INET6, &v6, text, sizeof text) ? std::string(text) + "/64" : address;
}

RateLimiter::RateLimiter(double burst, double perSecond, size_t maxAddresses)
    : burst_(burst), perSecond_(perSecond), maxAddresses_(maxAddresses) {}

void RateLimiter::DropFullBuckets(int64_t nowMs) {
    for (auto it = buckets_.begin(); it != buckets_.end();) {
        const double refilled =
            it->second.tokens + (nowMs - it->second.updatedMs) * perSecond_ / 1000.0;
        it = refilled >= burst_ ? buckets_.erase(it) : std::next(it);
    }
}

int RateLimiter::Take(const std::string& address, int64_t nowMs) {
    const std::string key = RateLimitKey(address);
    std::lock_guard lock(mutex_);
    auto it = buckets_.find(key);
    if (it == buckets_.end()) {
        if (buckets_.size() >= maxAddresses_) DropFullBuckets(nowMs);
        // Still full of busy addresses: a newcomer waits like one that sent too much.
        if (buckets_.size() >= maxAddresses_) return static_cast<int>(std::ceil(1 / perSecond_));
        it = buckets_.emplace(key, Bucket{burst_, nowMs}).first;
    }
    Bucket& b = it->second;
    const int64_t elapsed = std::max<int64_t>(0, nowMs - b.updatedMs);
    b.tokens = std::min(burst_, b.tokens + elapsed * perSecond_ / 1000.0);
    b.updatedMs = std::max(b.updatedMs, nowMs);
    if (b.tokens >= 1) {
        b.tokens -= 1;
        return 0;
    }
    return std::max(1, static_cast<int>(std::ceil((1 - b.tokens) / perSecond_)));
}

}  // namespace board

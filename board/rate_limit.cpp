// The per-address token buckets.
#include "board/rate_limit.h"

#include <algorithm>
#include <cmath>

namespace board {

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
    std::lock_guard lock(mutex_);
    auto it = buckets_.find(address);
    if (it == buckets_.end()) {
        if (buckets_.size() >= maxAddresses_) DropFullBuckets(nowMs);
        // Still full of busy addresses: a newcomer waits like one that sent too much.
        if (buckets_.size() >= maxAddresses_) return static_cast<int>(std::ceil(1 / perSecond_));
        it = buckets_.emplace(address, Bucket{burst_, nowMs}).first;
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

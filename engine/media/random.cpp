// The minimal-standard generator and the values drawn from it.
#include "engine/media/random.h"

namespace media {

namespace {

constexpr int32_t kDefaultState = 4660;
constexpr int32_t kModulus = 2147483647;

int32_t g_state = kDefaultState;

constexpr uint64_t kMultiplier = 48271;

// Returns a * b mod 2^31 - 1 for a, b below the modulus. A Mersenne modulus
// folds the high bits onto the low ones, so no division is needed.
uint64_t MulMod(uint64_t a, uint64_t b) {
    const uint64_t p = a * b;
    uint64_t s = (p & kModulus) + (p >> 31);
    s = (s & kModulus) + (s >> 31);
    return s == kModulus ? 0 : s;
}

int32_t Step() {
    g_state = static_cast<int32_t>(MulMod(static_cast<uint64_t>(g_state), kMultiplier));
    return g_state;
}

}  // namespace

int32_t RandomState() {
    return g_state;
}

double RandomUnit() {
    double hi = Step() & 0x1ffffffc;
    double lo = Step() & 0x1ffffff8;
    return (hi + lo / 134217728.0) / 536870912.0;
}

int RandomInt(int a, int b) {
    int64_t range = static_cast<int64_t>(b) - a;
    if (range > 0) return static_cast<int>(a + static_cast<int64_t>(RandomUnit() * (range + 1)));
    return static_cast<int>(b + static_cast<int64_t>(RandomUnit() * (1 - range)));
}

double RandomReal(double a, double b) {
    if (b > a) return a + RandomUnit() * (b - a);
    return b + RandomUnit() * (a - b);
}

void SkipRandomDraws(int count) {
    // Callers skip the same count again and again (every stream reseed skips
    // 29): the factor of the last count is kept.
    static int lastCount = 0;
    static uint64_t lastFactor = 1;
    if (count != lastCount) {
        // Each draw is two steps: multiply by 48271^(2 * count), by squaring.
        uint64_t factor = 1, base = kMultiplier;
        for (uint64_t n = count > 0 ? 2 * static_cast<uint64_t>(count) : 0; n; n >>= 1) {
            if (n & 1) factor = MulMod(factor, base);
            base = MulMod(base, base);
        }
        lastCount = count;
        lastFactor = factor;
    }
    g_state = static_cast<int32_t>(MulMod(static_cast<uint64_t>(g_state), lastFactor));
}

void SeedRandom(int64_t seed) {
    int32_t s = static_cast<int32_t>(seed & 0x7fffffff);
    g_state = (s == 0 || s == kModulus) ? kDefaultState : s;
}

}  // namespace media

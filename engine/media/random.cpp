// The minimal-standard generator and the values drawn from it.
#include "engine/media/random.h"

namespace media {

namespace {

constexpr int32_t kDefaultState = 4660;
constexpr int32_t kModulus = 2147483647;

int32_t g_state = kDefaultState;

int32_t Step() {
    int32_t s = 48271 * (g_state % 44488) - 3399 * (g_state / 44488);
    if (s < 0) s += kModulus;
    g_state = s;
    return s;
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

void SeedRandom(int64_t seed) {
    int32_t s = static_cast<int32_t>(seed & 0x7fffffff);
    g_state = (s == 0 || s == kModulus) ? kDefaultState : s;
}

}  // namespace media

// Degree trigonometry: the switch between the platform's and the own
// arithmetic, and the own arithmetic itself. The angle is reduced in degrees,
// where fmod by 360 and folding at 90 and 180 are exact; what is left (0..45
// degrees, or a ratio of 0..1 for atan2) goes through short series, with the
// steps that decide the last bit carried as pairs of doubles. Nothing here
// calls the math library's sin, cos or atan, and every operation is one IEEE
// double operation (the build keeps the compiler from fusing a multiply and
// an add), so the bits are the same on every machine.
#include "engine/media/trig.h"

#include <cmath>
#include <cstddef>
#include <iterator>
#include <limits>

namespace media {

namespace {

// A value as the unevaluated sum of two doubles, the second far below the first's last bit.
struct Pair {
    double hi = 0;
    double lo = 0;
};

// pi / 180 and 180 / pi as pairs (the nearest double, then the nearest double to the rest).
constexpr Pair kRadiansPerDegree = {0x1.1df46a2529d39p-6, 0x1.5c1d8becdd291p-62};
constexpr Pair kDegreesPerRadian = {0x1.ca5dc1a63c1f8p+5, -0x1.1e7ab456405f9p-49};
// The arc tangent of k / 8 in degrees, k = 0..8, as pairs.
constexpr int kEighths = 8;
constexpr Pair kArcTanOfEighths[kEighths + 1] = {
    {0, 0},
    {0x1.c80044927fe83p+2, -0x1.2a9346eb4b87bp-53},  // 7.1250163489017975...
    {0x1.c128e80fae02ep+3, -0x1.0fc10e257c651p-53},  // 14.036243467926478...
    {0x1.48e58fac13547p+4, 0x1.bdef92fae944fp-51},   // 20.556045219583464...
    {0x1.a90a731a61dc4p+4, -0x1.80b27b26e182bp-51},  // 26.565051177077989...
    {0x1.000b0659f5545p+5, 0x1.0e62435c62f2fp-49},   // 32.005383208083495...
    {0x1.26f58ce59e23cp+5, 0x1.80b27b26e182bp-50},   // 36.869897645844021...
    {0x1.497cc65551cf8p+5, -0x1.2dd089737cc28p-49},  // 41.185925165709645...
    {45, 0},
};
// The platform arithmetic's radians per degree, exactly as it has always been written.
constexpr double kPlatformRadiansPerDegree = 3.14159265358979323846 / 180.0;

// Returns 1 / n! (exact factorials up to 18!, one rounding in the division).
constexpr double InverseFactorial(int n) {
    double f = 1;
    for (int i = 2; i <= n; ++i) f *= i;
    return 1 / f;
}
// Taylor coefficients of sin x = x + x^3 (s3 + x^2 (s5 + ...)): for |x| <= pi/4 the first
// term left out (x^19 / 19!) is below 2^-60 of the result.
constexpr double kSinSeries[] = {
    -InverseFactorial(3),  InverseFactorial(5),  -InverseFactorial(7), InverseFactorial(9),
    -InverseFactorial(11), InverseFactorial(13), -InverseFactorial(15), InverseFactorial(17),
};
// Taylor coefficients of cos x = 1 - x^2 / 2 + x^4 (c4 + x^2 (c6 + ...)), |x| <= pi/4.
constexpr double kCosSeries[] = {
    InverseFactorial(4),  -InverseFactorial(6),  InverseFactorial(8),  -InverseFactorial(10),
    InverseFactorial(12), -InverseFactorial(14), InverseFactorial(16), -InverseFactorial(18),
};
// Taylor coefficients of atan t = t + t^3 (a3 + t^2 (a5 + ...)) for |t| <= 1/16 (and a hair
// more): the first term left out (t^17 / 17) is below 2^-64 of the result.
constexpr double kArcTanSeries[] = {
    -1.0 / 3, 1.0 / 5, -1.0 / 7, 1.0 / 9, -1.0 / 11, 1.0 / 13, -1.0 / 15,
};
// Veltkamp's constant 2^27 + 1: splits a double into two 26-bit halves.
constexpr double kSplitter = 134217729.0;

TrigArithmetic g_arithmetic = TrigArithmetic::kOwn;

// Returns a + b exactly as a pair, for any a and b.
Pair TwoSum(double a, double b) {
    const double s = a + b;
    const double bPart = s - a;
    return {s, (a - (s - bPart)) + (b - bPart)};
}

// Returns a + b exactly as a pair when |a| >= |b| or a is 0 (puts a pair in normal form).
Pair FastTwoSum(double a, double b) {
    const double s = a + b;
    return {s, b - (s - a)};
}

// Returns a split into a high and a low half of at most 26 bits each.
Pair Split(double a) {
    const double t = kSplitter * a;
    const double hi = t - (t - a);
    return {hi, a - hi};
}

// Returns a * b exactly as a pair (for the magnitudes used here: well inside the exponent range).
Pair TwoProduct(double a, double b) {
    const double p = a * b;
    const Pair x = Split(a);
    const Pair y = Split(b);
    return {p, ((x.hi * y.hi - p) + x.hi * y.lo + x.lo * y.hi) + x.lo * y.lo};
}

// Returns c - v for a pair v, as a normal pair.
Pair SubtractFrom(double c, Pair v) {
    const Pair d = TwoSum(c, -v.hi);
    return FastTwoSum(d.hi, d.lo - v.lo);
}

// Returns an angle of 0..45 degrees in radians, as a pair.
Pair ToRadians(double degrees) {
    const Pair p = TwoProduct(degrees, kRadiansPerDegree.hi);
    return FastTwoSum(p.hi, p.lo + degrees * kRadiansPerDegree.lo);
}

// Returns the sine of 0..45 degrees.
double SinOfEighth(double degrees) {
    const Pair x = ToRadians(degrees);
    const double z = x.hi * x.hi;
    double p = kSinSeries[std::size(kSinSeries) - 1];
    for (size_t i = std::size(kSinSeries) - 1; i-- > 0;) p = p * z + kSinSeries[i];
    return x.hi + (x.lo + (x.hi * z) * p);
}

// Returns the cosine of 0..45 degrees.
double CosOfEighth(double degrees) {
    const Pair x = ToRadians(degrees);
    // x^2 as a pair: the leading term of 1 - x^2 / 2 decides the last bit.
    Pair z = TwoProduct(x.hi, x.hi);
    z.lo += 2 * x.hi * x.lo;
    const double half = 0.5 * z.hi;
    const double w = 1 - half;
    const double wError = (1 - w) - half;
    double p = kCosSeries[std::size(kCosSeries) - 1];
    for (size_t i = std::size(kCosSeries) - 1; i-- > 0;) p = p * z.hi + kCosSeries[i];
    return w + ((wError - 0.5 * z.lo) + (z.hi * z.hi) * p);
}

// Returns the angle in degrees, 0..90, of the point (x, y) with x, y finite and above 0.
Pair FirstQuadrantAngle(double x, double y) {
    const bool steep = y > x;
    double n = steep ? x : y;
    double d = steep ? y : x;
    // The same power of two on both keeps the ratio and the exact products below in range.
    int exponent = 0;
    static_cast<void>(std::frexp(d, &exponent));
    n = std::ldexp(n, -exponent);
    d = std::ldexp(d, -exponent);
    // r = n / d (0..1) as a pair: the division's remainder is exact.
    Pair r;
    r.hi = n / d;
    const Pair back = TwoProduct(r.hi, d);
    r.lo = ((n - back.hi) - back.lo) / d;
    // atan r = atan c + atan t with c the nearest eighth and t = (r - c) / (1 + r c), |t| <= 1/16.
    const int k = static_cast<int>(std::floor(r.hi * kEighths + 0.5));
    const double c = static_cast<double>(k) / kEighths;
    Pair t = r;
    if (k > 0) {
        Pair num = TwoSum(r.hi, -c);
        num = TwoSum(num.hi, num.lo + r.lo);
        const Pair rc = TwoProduct(r.hi, c);
        Pair den = TwoSum(1, rc.hi);
        den.lo += rc.lo + r.lo * c;
        t.hi = num.hi / den.hi;
        const Pair q = TwoProduct(t.hi, den.hi);
        t.lo = (((num.hi - q.hi) - q.lo) + num.lo - t.hi * den.lo) / den.hi;
    }
    const double z = t.hi * t.hi;
    double p = kArcTanSeries[std::size(kArcTanSeries) - 1];
    for (size_t i = std::size(kArcTanSeries) - 1; i-- > 0;) p = p * z + kArcTanSeries[i];
    const double radiansLo = t.lo + (t.hi * z) * p;
    // To degrees, then the table's angle added.
    Pair a = TwoProduct(t.hi, kDegreesPerRadian.hi);
    a.lo += t.hi * kDegreesPerRadian.lo + radiansLo * kDegreesPerRadian.hi;
    Pair sum = TwoSum(kArcTanOfEighths[k].hi, a.hi);
    sum = FastTwoSum(sum.hi, sum.lo + (kArcTanOfEighths[k].lo + a.lo));
    return steep ? SubtractFrom(90, sum) : sum;
}

}  // namespace

double Sin(double degrees) {
    if (g_arithmetic == TrigArithmetic::kOwn) return OwnSin(degrees);
    return std::sin(degrees * kPlatformRadiansPerDegree);
}

double Cos(double degrees) {
    if (g_arithmetic == TrigArithmetic::kOwn) return OwnCos(degrees);
    return std::cos(degrees * kPlatformRadiansPerDegree);
}

double ATan2(double y, double x) {
    if (g_arithmetic == TrigArithmetic::kOwn) return OwnATan2(y, x);
    return std::atan2(y, x) / kPlatformRadiansPerDegree;
}

double OwnSin(double degrees) {
    if (!std::isfinite(degrees)) return std::numeric_limits<double>::quiet_NaN();
    // sin(-a) = -sin a, sin(a + 180) = -sin a, sin(180 - a) = sin a: every step is exact.
    const double reduced = std::fmod(degrees, 360.0);
    bool negative = std::signbit(reduced);
    double a = std::fabs(reduced);
    if (a >= 180) {
        a -= 180;
        negative = !negative;
    }
    if (a > 90) a = 180 - a;
    const double v = a <= 45 ? SinOfEighth(a) : CosOfEighth(90 - a);
    // A whole number of half turns gives a zero of the angle's sign (sin 180 = +0, sin -180 = -0).
    if (v == 0) return std::copysign(0.0, degrees);
    return negative ? -v : v;
}

double OwnCos(double degrees) {
    if (!std::isfinite(degrees)) return std::numeric_limits<double>::quiet_NaN();
    // cos(-a) = cos a, cos(360 - a) = cos a, cos(180 - a) = -cos a: every step is exact.
    double a = std::fabs(std::fmod(degrees, 360.0));
    if (a > 180) a = 360 - a;
    bool negative = false;
    if (a > 90) {
        a = 180 - a;
        negative = true;
    }
    const double v = a <= 45 ? CosOfEighth(a) : SinOfEighth(90 - a);
    return negative ? -v : v;
}

double OwnATan2(double y, double x) {
    if (std::isnan(x) || std::isnan(y)) return std::numeric_limits<double>::quiet_NaN();
    const double ax = std::fabs(x);
    const double ay = std::fabs(y);
    Pair a;
    if (ay == 0) {
        a = {0, 0};
    } else if (ax == 0) {
        a = {90, 0};
    } else if (std::isinf(ax) || std::isinf(ay)) {
        a = {std::isinf(ay) ? (std::isinf(ax) ? 45.0 : 90.0) : 0.0, 0};
    } else {
        a = FirstQuadrantAngle(ax, ay);
    }
    // A point behind the y axis (x below 0, or -0) turns the angle round from 180.
    if (std::signbit(x)) a = SubtractFrom(180, a);
    const double v = a.hi + a.lo;
    return std::signbit(y) ? -v : v;
}

void UseTrigArithmetic(TrigArithmetic arithmetic) {
    g_arithmetic = arithmetic;
}

TrigArithmetic TrigArithmeticInForce() {
    return g_arithmetic;
}

}  // namespace media

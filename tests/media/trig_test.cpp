// Degree trigonometry: the headings both arithmetics agree on, the own
// arithmetic's exact values and special inputs, and its error over a sweep of
// angles and points against a long double reference.
#include "engine/media/trig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {

using namespace media;

constexpr long double kPi = 3.141592653589793238462643383279502884L;

// Restores the arithmetic in force when a test ends.
class TrigTest : public ::testing::Test {
  protected:
    void TearDown() override { UseTrigArithmetic(TrigArithmetic::kOwn); }
};

// Returns the distance from v to the reference in units of the last place of a double of the
// reference's size; any difference from an exact zero counts as infinitely many.
double UlpsFrom(double v, long double reference) {
    if (reference == 0) return v == 0 ? 0 : std::numeric_limits<double>::infinity();
    const long double ulp = std::ldexp(1.0L, std::ilogb(static_cast<double>(reference)) - 52);
    return static_cast<double>(std::fabs(static_cast<long double>(v) - reference) / ulp);
}

// Returns the sine of an angle in degrees in long double: the angle is first brought into
// -90..90 (exact steps in long double), where sinl's argument carries its full precision.
long double ReferenceSin(long double degrees) {
    long double a = std::fmod(degrees, 360.0L);
    if (a > 180) a -= 360;
    if (a < -180) a += 360;
    if (a > 90) a = 180 - a;
    if (a < -90) a = -180 - a;
    return std::sin(a * kPi / 180);
}

// Returns the cosine of an angle in degrees in long double, as the sine of 90 less the angle.
long double ReferenceCos(long double degrees) {
    return ReferenceSin(90 - std::fabs(std::fmod(degrees, 360.0L)));
}

// Returns the angle of a point in degrees in long double.
long double ReferenceATan2(double y, double x) {
    return std::atan2(static_cast<long double>(y), static_cast<long double>(x)) * 180 / kPi;
}

TEST_F(TrigTest, BothArithmeticsGiveTheHeadingsOfTheFourQuarters) {
    // y before x in ATan2.
    const struct {
        double y, x, degrees;
    } turns[] = {{1, 0, 90},  {0, -1, 180},   {-1, 0, -90}, {1, 1, 45},
                 {0, 1, 0},   {-3, -3, -135}, {5, -5, 135}, {1e-300, 1e300, 0},
                 {-2, 1e-300, -90}};
    for (const TrigArithmetic arithmetic : {TrigArithmetic::kPlatform, TrigArithmetic::kOwn}) {
        UseTrigArithmetic(arithmetic);
        ASSERT_EQ(TrigArithmeticInForce(), arithmetic);
        for (const auto& t : turns) {
            const double r = std::hypot(t.y, t.x);
            EXPECT_NEAR(ATan2(t.y, t.x), t.degrees, 1e-9) << t.y << "," << t.x;
            EXPECT_NEAR(Sin(t.degrees), t.y / r, 1e-9) << t.degrees;
            EXPECT_NEAR(Cos(t.degrees), t.x / r, 1e-9) << t.degrees;
        }
    }
}

TEST_F(TrigTest, OwnArithmeticIsExactOnTheAxesAndFollowsTheSpecialCasesOfAtan2) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    // Whole and quarter turns are exact, however many turns; what is not an angle gives NaN.
    const struct {
        double degrees, sin, cos;
    } axes[] = {{0, 0, 1},     {90, 1, 0},          {180, 0, -1},  {270, -1, 0},
                {-90, -1, 0},  {360 * 1e6, 0, 1},   {-540, -0.0, -1}, {90 + 360 * 7, 1, 0},
                {inf, nan, nan}, {-inf, nan, nan}, {nan, nan, nan}};
    for (const auto& a : axes) {
        EXPECT_EQ(std::bit_cast<uint64_t>(OwnSin(a.degrees)), std::bit_cast<uint64_t>(a.sin))
            << a.degrees;
        EXPECT_EQ(std::bit_cast<uint64_t>(OwnCos(a.degrees)), std::bit_cast<uint64_t>(a.cos))
            << a.degrees;
    }
    EXPECT_TRUE(std::signbit(OwnSin(-0.0)));
    // atan2 of zeros and infinities, signs of zero included, as the math library defines them.
    const struct {
        double y, x, degrees;
    } specials[] = {{0.0, 0.0, 0},      {-0.0, 0.0, -0.0}, {0.0, -0.0, 180}, {-0.0, -0.0, -180},
                    {0.0, -5, 180},     {-0.0, -5, -180},  {inf, inf, 45},   {inf, -inf, 135},
                    {-inf, -inf, -135}, {7, inf, 0},       {7, -inf, 180},   {-inf, 7, -90},
                    {nan, 1, nan},      {1, nan, nan}};
    for (const auto& s : specials) {
        EXPECT_EQ(std::bit_cast<uint64_t>(OwnATan2(s.y, s.x)), std::bit_cast<uint64_t>(s.degrees))
            << s.y << "," << s.x;
    }
}

// The sweep the rules care about (0 to 360 degrees in 0.01 steps, both signs), and atan2 of
// the points of a 401 x 401 grid and of far and near points: every result within one unit
// in the last place. The worst errors are printed.
TEST_F(TrigTest, OwnArithmeticIsWithinOneUnitInTheLastPlace) {
    if (std::numeric_limits<long double>::digits <= std::numeric_limits<double>::digits + 8) {
        GTEST_FAIL() << "long double is too short here to serve as the reference";
    }
    double worstSin = 0, worstCos = 0, worstATan2 = 0;
    int platformDiffers = 0;
    for (int k = -36000; k <= 36000; ++k) {
        const double d = k / 100.0;
        const double s = OwnSin(d);
        const double c = OwnCos(d);
        worstSin = std::max(worstSin, UlpsFrom(s, ReferenceSin(d)));
        worstCos = std::max(worstCos, UlpsFrom(c, ReferenceCos(d)));
        UseTrigArithmetic(TrigArithmetic::kPlatform);
        platformDiffers += Sin(d) != s || Cos(d) != c;
        UseTrigArithmetic(TrigArithmetic::kOwn);
    }
    for (int y = -200; y <= 200; ++y) {
        for (int x = -200; x <= 200; ++x) {
            if (x == 0 && y == 0) continue;
            worstATan2 = std::max(worstATan2, UlpsFrom(OwnATan2(y, x), ReferenceATan2(y, x)));
        }
    }
    // Points on circles of a small, a screen-sized and a huge radius, at the sweep's angles.
    for (const double radius : {1e-300, 0.5, 1234.5, 1e300}) {
        for (int k = -18000; k <= 18000; k += 7) {
            const double y = static_cast<double>(radius * ReferenceSin(k / 100.0L));
            const double x = static_cast<double>(radius * ReferenceCos(k / 100.0L));
            worstATan2 = std::max(worstATan2, UlpsFrom(OwnATan2(y, x), ReferenceATan2(y, x)));
        }
    }
    std::printf("worst error in units in the last place: sin %.3f, cos %.3f, atan2 %.3f; "
                "the platform's sin or cos differs on %d of 72001 angles\n",
                worstSin, worstCos, worstATan2, platformDiffers);
    EXPECT_LE(worstSin, 1.0);
    EXPECT_LE(worstCos, 1.0);
    EXPECT_LE(worstATan2, 1.0);
}

}  // namespace

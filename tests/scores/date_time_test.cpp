// Tests of the date-time number, its time and date texts (month ends, the
// 31st, December, leap days), the clock-driven "today", and the bit helpers.
#include "scores/fields/date_time.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "engine/media/clock.h"
#include "tests/support/clocks.h"

namespace scores {
namespace {

// Installs a virtual clock for one test and restores the previous one.
class DateTimeTest : public ::testing::Test {
  protected:
    zqtest::VirtualClockInPlace<> clock_;
};

TEST_F(DateTimeTest, NumberGivesBackTimeAndDate) {
    clock_->SetLocalTime(2026, 12, 8, 13, 5, 9);
    const int64_t n = MakeDateTimeNumber("08 Dec 2026");
    EXPECT_EQ(n, DateTimeNumber(2026, 12, 8, 13, 5, 9));
    EXPECT_EQ(TimeText(n), "13:05:09");
    EXPECT_EQ(DateText(n), "08-12-2026");
    // An empty date text means today, from the same clock.
    EXPECT_EQ(MakeDateTimeNumber(), n);
    EXPECT_EQ(MakeDateTimeNumber(""), n);
}

// A clock that crosses midnight between any two readings.
class MidnightClock : public media::VirtualClock {
  public:
    void LocalTime(int& year, int& month, int& day, int& hour, int& minute, int& second) override {
        SetLocalTime(2026, 12, readings_ == 0 ? 8 : 9, readings_ == 0 ? 23 : 0,
                     readings_ == 0 ? 59 : 0, readings_ == 0 ? 59 : 0);
        ++readings_;
        VirtualClock::LocalTime(year, month, day, hour, minute, second);
    }

  private:
    int readings_ = 0;
};

TEST_F(DateTimeTest, TodayAtMidnightIsNeverADayEarly) {
    media::SetClock(std::make_shared<MidnightClock>());
    EXPECT_EQ(MakeDateTimeNumber(), DateTimeNumber(2026, 12, 8, 23, 59, 59));
}

TEST_F(DateTimeTest, MonthEndsAndOrder) {
    clock_->SetLocalTime(2026, 1, 31, 0, 0, 0);
    const int64_t jan31 = MakeDateTimeNumber("31 Jan 2026");
    EXPECT_EQ(DateText(jan31), "31-01-2026");
    EXPECT_EQ(TimeText(jan31), "00:00:00");
    const int64_t feb1 = MakeDateTimeNumber("01 FEB 2026");
    EXPECT_GT(feb1, jan31);
    EXPECT_EQ(DateText(feb1), "01-02-2026");
    // The last moment of a year, then the first of the next.
    clock_->SetLocalTime(2026, 12, 31, 23, 59, 59);
    const int64_t dec31 = MakeDateTimeNumber("31 dec 2026");
    EXPECT_EQ(DateText(dec31), "31-12-2026");
    EXPECT_EQ(TimeText(dec31), "23:59:59");
    clock_->SetLocalTime(2027, 1, 1, 0, 0, 0);
    EXPECT_GT(MakeDateTimeNumber("01 Jan 2027"), dec31);
}

TEST_F(DateTimeTest, EveryDayOfSomeYearsComesBack) {
    for (int y : {1999, 2024, 2026, 2100}) {
        for (int m = 1; m <= 12; ++m) {
            for (int d = 1; d <= 31; ++d) {
                const int64_t n = DateTimeNumber(y, m, d, 23, 59, 58);
                char want[48];
                std::snprintf(want, sizeof want, "%02d-%02d-%04d", d, m, y);
                ASSERT_EQ(DateText(n), want);
                ASSERT_EQ(TimeText(n), "23:59:58");
            }
        }
    }
}

TEST_F(DateTimeTest, UnknownMonthReadsAsZero) {
    clock_->SetLocalTime(2026, 3, 4, 1, 2, 3);
    EXPECT_EQ(MakeDateTimeNumber("04 Xyz 2026"), DateTimeNumber(2026, 0, 4, 1, 2, 3));
    // Short or junk date texts give small numbers rather than failing.
    EXPECT_EQ(MakeDateTimeNumber("7"), DateTimeNumber(0, 0, 7, 1, 2, 3));
}

TEST_F(DateTimeTest, FourDigitYearIsPadded) {
    EXPECT_EQ(DateText(DateTimeNumber(987, 6, 5, 0, 0, 0)), "05-06-0987");
}

TEST(BitHelpers, BitIsSet) {
    EXPECT_EQ(BitIsSet(1, 1), 1);
    EXPECT_EQ(BitIsSet(1, 2), 0);
    EXPECT_EQ(BitIsSet(0x80000000LL, 32), 1);
    EXPECT_EQ(BitIsSet(0x80000000LL, 31), 0);
    EXPECT_EQ(BitIsSet(-1, 32), 1);
    EXPECT_EQ(BitIsSet(5, 0), 0);
}

TEST(BitHelpers, SetBit) {
    EXPECT_EQ(SetBit(0, 1, 1), 1);
    EXPECT_EQ(SetBit(0, 5, 1), 16);
    EXPECT_EQ(SetBit(31, 3, 0), 27);
    EXPECT_EQ(SetBit(4, 3, 1), 4);
    // The mask clears bits 31 and 32 as well.
    EXPECT_EQ(SetBit(0xFFFFFFFFLL, 1, 0), 0x3FFFFFFE);
    EXPECT_EQ(SetBit(0xC0000000LL, 2, 1), 2);
    for (int n = 1; n <= 30; ++n) {
        ASSERT_EQ(BitIsSet(SetBit(0, n, 1), n), 1) << n;
        ASSERT_EQ(BitIsSet(SetBit(0x3FFFFFFF, n, 0), n), 0) << n;
    }
}

}  // namespace
}  // namespace scores

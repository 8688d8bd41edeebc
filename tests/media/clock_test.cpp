// The clock seam: Delay and the date texts on a virtual clock (no sleeping).
#include "engine/media/clock.h"

#include <gtest/gtest.h>

#include "tests/support/clocks.h"

namespace {

class VirtualClockTest : public ::testing::Test {
  protected:
    zqtest::VirtualClockInPlace<> clock_;
};

TEST_F(VirtualClockTest, DelayWaitsAtLeastTheTimeGiven) {
    int start = media::Millisecs();
    media::Delay(16);
    EXPECT_EQ(media::Millisecs() - start, 16);
    EXPECT_EQ(clock_->Yields(), 0);
}

TEST_F(VirtualClockTest, DelayOfZeroYieldsOnceAndNegativeReturnsAtOnce) {
    media::Delay(0);
    EXPECT_EQ(clock_->Yields(), 1);
    EXPECT_EQ(media::Millisecs(), 0);
    media::Delay(-5);
    EXPECT_EQ(clock_->Yields(), 1);
    EXPECT_EQ(media::Millisecs(), 0);
}

TEST_F(VirtualClockTest, MillisecsIsThirtyTwoBits) {
    clock_->Advance(int64_t{1} << 32);
    EXPECT_EQ(media::Millisecs(), 0);
    clock_->Advance(1500);
    EXPECT_EQ(media::Millisecs(), 1500);
    // Spans between two readings stay right across the wrap to negative.
    const struct {
        int64_t from, span;
    } spans[] = {{0, 15}, {2147483647 - 5, 15}, {-1, 1}, {4294967295LL - 3, 20}, {100, -2}};
    for (const auto& s : spans) {
        clock_->Advance(s.from - clock_->NowMs());
        const int earlier = media::Millisecs();
        clock_->Advance(s.span);
        EXPECT_EQ(media::MillisecsBetween(earlier, media::Millisecs()), s.span) << s.from;
    }
}

TEST_F(VirtualClockTest, DateAndTimeTexts) {
    clock_->SetLocalTime(2026, 12, 8, 7, 35, 59);
    EXPECT_EQ(media::CurrentDate(), "08 Dec 2026");
    EXPECT_EQ(media::CurrentTime(), "07:35:59");
    clock_->SetLocalTime(2027, 1, 31, 23, 5, 9);
    EXPECT_EQ(media::CurrentDate(), "31 Jan 2027");
    EXPECT_EQ(media::CurrentTime(), "23:05:09");
}

TEST(RealClock, RunsForward) {
    int a = media::Millisecs();
    media::Delay(2);
    EXPECT_GE(media::Millisecs() - a, 2);
    EXPECT_EQ(media::CurrentDate().size(), 11u);
    EXPECT_EQ(media::CurrentTime().size(), 8u);
}

}  // namespace

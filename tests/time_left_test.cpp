// The time left of a transfer and its text (TimeLeft).
#include "session/TimeLeft.h"

#include <gtest/gtest.h>

namespace talvo::test {
namespace {

TEST(TimeLeftTest, PerMilleSecondsLeftAndClock) {
  EXPECT_EQ(PerMille(5, -1), -1);
  EXPECT_EQ(PerMille(0, 0), 1000);
  EXPECT_EQ(PerMille(1, 3), 333);
  // Sizes of several GiB: no overflow.
  EXPECT_EQ(PerMille(3LL << 40, 4LL << 40), 750);
  EXPECT_EQ(SecondsLeft(10, 100, 999), -1);  // too early to tell
  EXPECT_EQ(SecondsLeft(0, 100, 5000), -1);
  EXPECT_EQ(SecondsLeft(25, 100, 1000), 3);
  EXPECT_EQ(SecondsLeft(30, 100, 1000), 3);  // 2.33 s: rounded up, never shown as less
  EXPECT_EQ(SecondsLeft(1LL << 40, 3LL << 40, 3600000), 7200);
  EXPECT_EQ(SecondsLeft(60, 100, 1000, 50), 4);  // a resumed part does not count in the pace
  EXPECT_EQ(ClockText(7), "0:07");
  EXPECT_EQ(ClockText(725), "12:05");
  EXPECT_EQ(ClockText(3723), "1:02:03");
}

}  // namespace
}  // namespace talvo::test

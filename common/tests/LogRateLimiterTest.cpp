#include "k27/common/LogRateLimiter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace vantrel::common {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

// A limiter whose clock the test moves.
class LogRateLimiterTest : public ::testing::Test {
 protected:
  LogRateLimiter::Clock::time_point now{1000h};
  LogRateLimiter limiter{10s, [this] { return now; }};

  // `count` occurrences of the refusal kind "ezusb-0"; the lines they gave.
  Lines Refuse(int count) {
    Lines lines;
    for (int i = 0; i < count; ++i)
      if (auto line = limiter.Occurred("ezusb-0", "refusing ezusb-0", "connections refused"))
        lines.push_back(*line);
    return lines;
  }
};

TEST_F(LogRateLimiterTest, AStormGivesItsFirstLineThenOneCountPerInterval) {
  EXPECT_EQ(Refuse(146), Lines{"refusing ezusb-0"});
  EXPECT_EQ(limiter.Due(), Lines{});
  EXPECT_EQ(limiter.UntilDue(), 10s);
  now += 4s;
  EXPECT_EQ(Refuse(10), Lines{});
  EXPECT_EQ(limiter.UntilDue(), 6s);
  now += 6s;
  // The interval is over: the next occurrence brings the count with it.
  EXPECT_EQ(Refuse(1), Lines{"ezusb-0: connections refused: 156 more in the last 10 s"});
  EXPECT_EQ(Refuse(3), Lines{});
  // Without further occurrences the count comes when it is due.
  now += 10s;
  EXPECT_EQ(limiter.Due(), (Lines{"ezusb-0: connections refused: 3 more in the last 10 s",
                                  "ezusb-0: no more connections refused for 10 s; 160 in all"}));
  EXPECT_FALSE(limiter.Active("ezusb-0"));
  EXPECT_EQ(limiter.UntilDue(), std::nullopt);
  // A new storm is a new condition with a first line of its own.
  EXPECT_EQ(Refuse(2), Lines{"refusing ezusb-0"});
}

TEST_F(LogRateLimiterTest, AnEndGivesTheTotalOnceAndKindsAreCountedApart) {
  EXPECT_EQ(limiter.Ended("ezusb-0", "accepting again"), std::nullopt);
  EXPECT_EQ(Refuse(5), Lines{"refusing ezusb-0"});
  EXPECT_EQ(limiter.Occurred("uid 1000", "refusing uid 1000", "connections refused"),
            "refusing uid 1000");
  now += 3s;
  EXPECT_EQ(limiter.Ended("ezusb-0", "accepting connections again (ezusb-0)"),
            "accepting connections again (ezusb-0); connections refused: 5 in all");
  EXPECT_EQ(limiter.Ended("ezusb-0", "again"), std::nullopt);
  EXPECT_TRUE(limiter.Active("uid 1000"));
  EXPECT_EQ(limiter.UntilDue(), 7s);
  now += 7s;
  EXPECT_EQ(limiter.Due(), Lines{"uid 1000: no more connections refused for 10 s; 1 in all"});
}

}  // namespace
}  // namespace vantrel::common

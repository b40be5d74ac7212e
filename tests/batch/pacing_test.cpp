// The "Send Rate" value and the pacer, over a clock the test moves.
#include "batch/pacing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pinemail {
namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;
using std::chrono::seconds;

TEST(ParseSendRateTest, ReadsTheThreeUnitsAndRefusesTheRest) {
  struct Case {
    const char* value;
    bool ok;
    nanoseconds gap;
  } cases[] = {
      {"", true, nanoseconds(0)},
      {"  ", true, nanoseconds(0)},
      {"20/min", true, seconds(3)},
      {" 60 / MIN ", true, seconds(1)},
      {"1/sec", true, seconds(1)},
      {"500/hour", true, milliseconds(7200)},
      // Rounded up: seven gaps of this length never fit into one second.
      {"7/sec", true, nanoseconds(142857143)},
      {"0/min", false, {}},
      {"-1/min", false, {}},
      {"20", false, {}},
      {"20/", false, {}},
      {"/min", false, {}},
      {"20/minute", false, {}},
      {"20/day", false, {}},
      {"2.5/sec", false, {}},
      {"20/min/sec", false, {}},
      {"99999999999/sec", false, {}},
  };
  for (const Case& c : cases) {
    nanoseconds gap(-1);
    std::string reason;
    EXPECT_EQ(ParseSendRate(c.value, &gap, &reason), c.ok) << c.value;
    if (c.ok) {
      EXPECT_EQ(gap, c.gap) << c.value;
    } else {
      EXPECT_NE(reason.find("Send Rate"), std::string::npos) << c.value;
    }
  }
}

TEST(PacerTest, KeepsTheGapFromEachStartWhateverTheSendingTook) {
  const PaceClock::time_point t0{};
  Pacer pacer(seconds(3));
  ASSERT_TRUE(pacer.paced());
  EXPECT_EQ(pacer.WaitAt(t0), nanoseconds(0));  // the first message goes at once
  pacer.Started(t0);
  // A message that took 1 s to send leaves 2 s to wait; the gap counts from
  // its start.
  EXPECT_EQ(pacer.WaitAt(t0 + seconds(1)), seconds(2));
  EXPECT_EQ(pacer.WaitAt(t0 + seconds(3)), nanoseconds(0));
  EXPECT_EQ(pacer.WaitAt(t0 + seconds(10)), nanoseconds(0));
  // A late start is the new reference: no burst to catch up.
  pacer.Started(t0 + seconds(10));
  EXPECT_EQ(pacer.WaitAt(t0 + seconds(10)), seconds(3));

  Pacer unpaced;
  EXPECT_FALSE(unpaced.paced());
  unpaced.Started(t0);
  EXPECT_EQ(unpaced.WaitAt(t0), nanoseconds(0));
}

TEST(PacerTest, NoWindowOfOnePeriodHoldsMoreThanTheRate) {
  // Send as fast as the pacer lets through, at 7/sec: every 8 starts span at
  // least a second.
  nanoseconds gap{};
  std::string reason;
  ASSERT_TRUE(ParseSendRate("7/sec", &gap, &reason));
  Pacer pacer(gap);
  PaceClock::time_point now{};
  std::vector<PaceClock::time_point> starts;
  for (int i = 0; i < 50; ++i) {
    now += pacer.WaitAt(now);
    pacer.Started(now);
    starts.push_back(now);
  }
  for (std::size_t i = 7; i < starts.size(); ++i) {
    EXPECT_GE(starts[i] - starts[i - 7], seconds(1)) << i;
  }
}

}  // namespace
}  // namespace pinemail

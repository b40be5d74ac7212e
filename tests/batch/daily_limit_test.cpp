// Tests of "Daily Limit" (its value, its 24 hours, the journal's times) and
// of the local times `/at` reads.
#include "batch/daily_limit.h"

#include <gtest/gtest.h>

#include <vector>

#include "batch/journal.h"

namespace pinemail {
namespace {

using std::chrono::hours;

WallClock::time_point At(const char* text) {
  WallClock::time_point time{};
  std::string reason;
  EXPECT_TRUE(ParseStartTime(text, WallClock::time_point{}, &time, &reason)) << reason;
  return time;
}

TEST(DailyLimitTest, AWholeNumberOfAtLeastOneOrNothing) {
  std::size_t limit = 9;
  std::string reason;
  EXPECT_TRUE(ParseDailyLimit(" 500 ", &limit, &reason) && limit == 500);
  EXPECT_TRUE(ParseDailyLimit("", &limit, &reason) && limit == 0);
  for (const char* value : {"0", "-1", "5/day", "1e3"}) {
    EXPECT_FALSE(ParseDailyLimit(value, &limit, &reason)) << value;
  }
}

TEST(DailyLimitTest, AFullDayMakesTheNextWaitForItsOldestToLeave) {
  const WallClock::time_point t0 = FromJournalSeconds(1'800'000'000);
  SendWindow window(3, {t0 + hours(2), t0, t0 + hours(1), t0 - hours(30)});
  EXPECT_EQ(window.NextAt(t0 + hours(3)), t0 + hours(24));
  EXPECT_EQ(window.NextAt(t0 + hours(24)), t0 + hours(24));
  window.Sent(t0 + hours(24));
  EXPECT_EQ(window.NextAt(t0 + hours(24)), t0 + hours(25));
  EXPECT_EQ(SendWindow(0, {t0, t0, t0}).NextAt(t0), t0);
}

TEST(DailyLimitTest, SentLinesCarryTheirTimeAndLinesWithoutOneStillRead) {
  const std::string with =
      "pmj2\tsent\t0123456789abcdef\t0000000000000001\t0\tm@x\t1800000000\t/a/list.txt\n";
  JournalEntry entry;
  ASSERT_TRUE(ParseJournalLine(std::string_view(with).substr(0, with.size() - 1), &entry));
  EXPECT_EQ(entry.sent_at, 1'800'000'000);
  EXPECT_EQ(FormatJournalLine(entry), with);
  // Any list's lines count; a time that is no count of seconds makes no line.
  JournalScan scan("/b/other.txt");
  entry.sent_at = -1;
  scan.Feed(with + FormatJournalLine(entry) +
            "pmj2\tsent\t0123456789abcdef\t0000000000000001\t0\t-\t-5\t/l\n");
  EXPECT_EQ(scan.sent_times(), std::vector<std::int64_t>{1'800'000'000});
  EXPECT_EQ(scan.bad_lines(), 1u);
}

TEST(StartTimeTest, TheNextSuchTimeOrADayThatIsStillToCome) {
  const WallClock::time_point now = At("2026-12-31T21:00");
  WallClock::time_point start{};
  std::string reason;
  for (const auto& [text, expected] : {std::pair{"0:00", At("2027-01-01T00:00")},
                                       {"21:00", At("2027-01-01T21:00")},
                                       {" 21:01", At("2026-12-31T21:01")},
                                       {"2027-03-01t09:05", At("2027-03-01T09:05")}}) {
    EXPECT_TRUE(ParseStartTime(text, now, &start, &reason)) << text;
    EXPECT_EQ(start, expected) << text;
  }
  for (const char* text : {"2026-12-31T21:00", "24:00", "9:5", "2027-02-29T00:00", "0:00x", ""}) {
    EXPECT_FALSE(ParseStartTime(text, now, &start, &reason)) << text;
    EXPECT_TRUE(reason.starts_with("/at")) << text;
  }
}

}  // namespace
}  // namespace pinemail

// Tests of "Daily Limit" (its value, its 24 hours, the journal's times) and
// of the local times `/at` reads.
#include "batch/daily_limit.h"

#include <gtest/gtest.h>

#include <ctime>
#include <vector>

#include "batch/journal.h"

namespace pinemail {
namespace {

using std::chrono::hours;

WallClock::time_point Local(int year, int month, int day, int hour, int minute) {
  std::tm fields{};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_isdst = -1;
  return WallClock::from_time_t(std::mktime(&fields));
}

TEST(DailyLimitTest, AWholeNumberOfAtLeastOneOrNothing) {
  std::size_t limit = 9;
  std::string reason;
  EXPECT_TRUE(ParseDailyLimit(" 500 ", &limit, &reason) && limit == 500);
  EXPECT_TRUE(ParseDailyLimit("", &limit, &reason) && limit == 0);
  for (const char* value : {"0", "-1", "5/day", "1e3"}) {
    EXPECT_FALSE(ParseDailyLimit(value, &limit, &reason)) << value;
  }
  EXPECT_NE(reason.find("1e3"), std::string::npos);
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
  const WallClock::time_point now = Local(2026, 12, 31, 21, 0);
  WallClock::time_point start{};
  std::string reason;
  for (const auto& [text, expected] : {std::pair{"0:00", Local(2027, 1, 1, 0, 0)},
                                       {"21:00", Local(2027, 1, 1, 21, 0)},
                                       {" 21:01", Local(2026, 12, 31, 21, 1)},
                                       {"2027-03-01t09:05", Local(2027, 3, 1, 9, 5)}}) {
    EXPECT_TRUE(ParseStartTime(text, now, &start, &reason)) << text;
    EXPECT_EQ(start, expected) << text;
  }
  for (const char* text : {"2026-12-31T21:00", "24:00", "9:5", "2027-02-29T00:00", "0:00x", ""}) {
    EXPECT_FALSE(ParseStartTime(text, now, &start, &reason)) << text;
    EXPECT_TRUE(reason.starts_with("/at")) << text;
  }
  EXPECT_EQ(LocalMinuteText(now + std::chrono::seconds(1)), "21:01");
}

}  // namespace
}  // namespace pinemail

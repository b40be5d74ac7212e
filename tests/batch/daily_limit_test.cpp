// Tests of "Daily Limit" (its value, its 24 hours, the journal's times) and
// of the local times `/at` reads.
#include "batch/daily_limit.h"

#include <gtest/gtest.h>

#include <ctime>
#include <tuple>
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
  for (const auto& [value, limit] : std::vector<std::tuple<std::string, std::size_t>>{
           {"", 0}, {" 500 ", 500}, {"0", 99}, {"-1", 99}, {"5/day", 99}, {"1e3", 99}}) {
    std::size_t read = 99;
    std::string reason;
    EXPECT_EQ(ParseDailyLimit(value, &read, &reason), limit != 99) << value;
    EXPECT_EQ(read, limit) << value;
    EXPECT_EQ(reason.empty(), limit != 99) << value;
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
  JournalEntry entry;
  entry.kind = JournalEntry::Kind::kSent;
  entry.run_id = "0123456789abcdef";
  entry.list_path = "/a/list.txt";
  entry.record = {1, 0};
  entry.message_id = "m@x";
  entry.sent_at = 1'800'000'000;
  const std::string line = FormatJournalLine(entry);
  EXPECT_EQ(line,
            "pmj2\tsent\t0123456789abcdef\t0000000000000001\t0\tm@x\t1800000000\t/a/list.txt\n");
  entry.sent_at = -1;
  const std::string older = FormatJournalLine(entry);
  // Any list's lines count; a time that is no count of seconds is no line.
  JournalScan scan("/b/other.txt");
  scan.Feed(line + older + "pmj2\tsent\t0123456789abcdef\t01\t0\t-\t-5\t/a/list.txt\n");
  EXPECT_EQ(scan.sent_times(), std::vector<std::int64_t>{1'800'000'000});
  EXPECT_EQ(scan.bad_lines(), 1u);
}

TEST(StartTimeTest, TheNextSuchTimeOrADayThatIsStillToCome) {
  const WallClock::time_point now = Local(2026, 12, 31, 21, 0);
  for (const auto& [text, expected] : std::vector<std::tuple<std::string, WallClock::time_point>>{
           {"0:00", Local(2027, 1, 1, 0, 0)},
           {"21:00", Local(2027, 1, 1, 21, 0)},
           {" 21:01", Local(2026, 12, 31, 21, 1)},
           {"2027-01-01T00:00", Local(2027, 1, 1, 0, 0)},
           {"2027-03-01t09:05", Local(2027, 3, 1, 9, 5)},
           {"2026-12-31T21:00", {}},
           {"24:00", {}},
           {"9:5", {}},
           {"2027-02-29T00:00", {}},
           {"0:00x", {}},
           {"", {}}}) {
    WallClock::time_point start{};
    std::string reason;
    EXPECT_EQ(ParseStartTime(text, now, &start, &reason), expected != WallClock::time_point{})
        << text;
    EXPECT_EQ(start, expected) << text;
    EXPECT_EQ(reason.starts_with("/at"), expected == WallClock::time_point{}) << text;
  }
  EXPECT_EQ(LocalMinuteText(now + std::chrono::seconds(1)), "21:01");
  EXPECT_EQ(LocalMinuteText(now), "21:00");
}

}  // namespace
}  // namespace pinemail

// The progress line: its width in terminal columns, the short form of a
// narrow terminal, and the rate and time left worked out over a clock the
// test moves.
#include "batch/progress_line.h"

#include <gtest/gtest.h>

#include <string>

#include "text/display_width.h"

namespace pinemail {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

TEST(DisplayWidthTest, CountsWideCharactersTwiceAndCutsBetweenCharacters) {
  struct Case {
    const char* text;
    std::size_t width;
    std::size_t cut_at;  // columns
    const char* cut;
  } cases[] = {
      {"12/500 sent", 11, 6, "12/500"},
      {"送信　12", 8, 3, "送"},  // never half a full-width character
      {"ｶﾅ半角", 6, 3, "ｶﾅ"},    // half-width katakana take one column
      {"ＡＢ", 4, 4, "ＡＢ"},
      {"e\u0301", 1, 0, ""},  // a combining mark takes none
      {"한글", 4, 1, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DisplayWidth(c.text), c.width) << c.text;
    EXPECT_EQ(CutToWidth(c.text, c.cut_at), c.cut) << c.text;
  }
}

BatchProgress Counts(std::size_t records, std::size_t total) {
  BatchProgress counts;
  counts.records = records;
  counts.sent = records;
  counts.total = total;
  return counts;
}

TEST(ProgressLineTest, FullFormShortFormAndAlwaysWithinTheWidth) {
  ProgressView back_off;
  back_off.counts = Counts(12, 500);
  back_off.counts.failed = 1;
  back_off.per_minute = 19.6;
  back_off.time_left = seconds(25 * 60 + 4);
  back_off.wait = BatchWait::Kind::kBackOff;
  back_off.wait_left = seconds(40);
  back_off.reply = "421 4.7.0 Try again later\x1b[2J";
  ProgressView pacing;
  pacing.counts = Counts(3, 10);
  pacing.time_left = seconds(7);
  pacing.wait = BatchWait::Kind::kPacing;
  pacing.wait_left = seconds(1);
  struct Case {
    const ProgressView* view;
    std::size_t columns;
    const char* line;
  } cases[] = {
      {&pacing, 80, "3/10 件処理　送信 3　不備 0　送信失敗 0　残り 7 秒　次の送信まで 1 秒"},
      {&back_off, 160,
       "12/500 件処理　送信 12　不備 0　送信失敗 1　20 通/分　残り 25 分 4 秒　"
       "40 秒後にもう一度送ります: 421 4.7.0 Try again later [2J"},
      // The server's reply cut to fit (its escape character made a blank).
      {&back_off, 120,
       "12/500 件処理　送信 12　不備 0　送信失敗 1　20 通/分　残り 25 分 4 秒　"
       "40 秒後にもう一度送ります: 421 4.7.0 Try agai..."},
      // Too narrow for the full form: the wait's own words are never cut.
      {&back_off, 90, "12/500 送信12 失敗1 残り26分 再送まで40秒 421 4.7.0 Try again later [2J"},
      {&back_off, 60, "12/500 送信12 失敗1 残り26分 再送まで40秒 421 4.7.0 Try ..."},
      {&back_off, 40, "12/500 送信12 残り26分 再送まで40秒"},
      {&back_off, 24, "12/500 送信12 残り26分"},
      {&pacing, 20, "3/10 送信3 残り7秒"},
      {&back_off, 6, "12/50"},
  };
  for (const Case& c : cases) {
    const std::string line = ProgressLineText(*c.view, c.columns);
    EXPECT_EQ(line, c.line) << c.columns;
    EXPECT_LT(DisplayWidth(line), c.columns) << line;
  }
}

TEST(ProgressLineTest, DurationsInFullAndCompactForm) {
  struct Case {
    long long seconds;
    const char* full;
    const char* compact;
  } cases[] = {
      {9, "9 秒", "9秒"},
      {60, "1 分", "1分"},
      {8 * 60 + 12, "8 分 12 秒", "9分"},
      {2 * 3600 + 5 * 60, "2 時間 5 分", "2時間5分"},
      {2 * 3600 + 5 * 60 + 1, "2 時間 5 分", "2時間6分"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DurationText(seconds(c.seconds)), c.full);
    EXPECT_EQ(DurationText(seconds(c.seconds), true), c.compact);
  }
}

TEST(ProgressMeterTest, RateAndTimeLeftCountThePacingAndTheBackOff) {
  const PaceClock::time_point t0{};
  ProgressMeter meter;
  BatchProgress counts = Counts(0, 10);
  counts.send_gap = seconds(1);
  meter.Update(counts, t0);
  // Before the first record: no rate, the pacing's floor alone.
  EXPECT_FALSE(meter.View(t0).per_minute);
  EXPECT_EQ(meter.View(t0).time_left, seconds(10));
  counts.records = counts.sent = 1;
  meter.Update(counts, t0 + milliseconds(50));
  EXPECT_EQ(meter.View(t0 + milliseconds(50)).time_left, seconds(9));
  // Records taking 3 s each: slower than the pacing, so the rate rules.
  counts.records = counts.sent = 2;
  meter.Update(counts, t0 + milliseconds(3050));
  ProgressView view = meter.View(t0 + milliseconds(3050));
  EXPECT_DOUBLE_EQ(*view.per_minute, 20.0);
  EXPECT_EQ(view.time_left, seconds(24));
  // A back-off adds what is left of it; the pacing's wait does not.
  BatchWait back_off;
  back_off.kind = BatchWait::Kind::kBackOff;
  back_off.length = seconds(30);
  back_off.reply = "421 4.7.0 Try again later";
  meter.StartWait(back_off, t0 + milliseconds(3050));
  view = meter.View(t0 + milliseconds(13050));
  EXPECT_EQ(view.wait, BatchWait::Kind::kBackOff);
  EXPECT_EQ(view.wait_left, seconds(20));
  EXPECT_EQ(view.reply, back_off.reply);
  EXPECT_EQ(view.time_left, seconds(44));
  EXPECT_EQ(meter.View(t0 + milliseconds(33100)).wait_left, seconds(1));  // still on
  meter.EndWait();
  EXPECT_FALSE(meter.View(t0 + milliseconds(33050)).wait);
  // Records skipped on a resume take no time and do not make a rate.
  counts.records = 5;
  counts.sent_before = 3;
  meter.Update(counts, t0 + milliseconds(33060));
  EXPECT_DOUBLE_EQ(*meter.View(t0 + milliseconds(33060)).per_minute, 20.0);
  // The end of the list: nothing left.
  counts.records = 10;
  meter.Update(counts, t0 + seconds(60));
  EXPECT_EQ(meter.View(t0 + seconds(60)).time_left, seconds(0));
}

TEST(ProgressLineTest, SummaryAddsTheElapsedTimeAndTheStopReason) {
  BatchProgress totals = Counts(3, 10);
  totals.stop_reason = "サーバーが送信を断りました: 550 5.4.5 Daily limit";
  EXPECT_EQ(SummaryText(BatchOutcome::kStoppedEarly, totals, seconds(75), "/home/u/pinemail.log"),
            "中断しました　3/10 件処理　送信 3　不備 0　送信失敗 0　経過 1 分 15 秒　"
            "ログ: /home/u/pinemail.log\n"
            "送信を中断しました。(サーバーが送信を断りました: 550 5.4.5 Daily limit)");
}

}  // namespace
}  // namespace pinemail

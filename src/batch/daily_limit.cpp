// The "Daily Limit" value and the 24 hours it counts over.
#include "batch/daily_limit.h"

#include <algorithm>

#include "text/count.h"
#include "text/utf8.h"

namespace pinemail {

bool ParseDailyLimit(std::string_view value, std::size_t* limit, std::string* reason) {
  value = TrimBlanks(value);
  if (value.empty()) {
    *limit = 0;
    return true;
  }
  if (ParseCount(value, limit)) return true;
  *reason = "Daily Limit の値は 500 のように、1 以上の整数で書いてください: " + std::string(value);
  return false;
}

std::int64_t JournalSeconds(WallClock::time_point time) {
  return std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch()).count();
}

WallClock::time_point FromJournalSeconds(std::int64_t seconds) {
  return WallClock::time_point(std::chrono::seconds(seconds));
}

SendWindow::SendWindow(std::size_t limit, std::vector<WallClock::time_point> sent)
    : limit_(limit), sent_(std::move(sent)) {
  std::sort(sent_.begin(), sent_.end());
}

WallClock::time_point SendWindow::NextAt(WallClock::time_point now) const {
  if (!limited()) return now;
  // Times after `now` (a clock set back) still count: each leaves the
  // window 24 hours after it.
  const auto first_inside = std::upper_bound(sent_.begin(), sent_.end(), now - kLimitWindow);
  const auto inside = static_cast<std::size_t>(sent_.end() - first_inside);
  if (inside < limit_) return now;
  // The one whose leaving makes room for the next message.
  return *(sent_.end() - static_cast<std::ptrdiff_t>(limit_)) + kLimitWindow;
}

void SendWindow::Sent(WallClock::time_point time) {
  if (!limited()) return;
  sent_.insert(std::upper_bound(sent_.begin(), sent_.end(), time), time);
}

std::string DailyLimitReason(std::size_t limit, WallClock::time_point next) {
  return "1日の送信上限 " + std::to_string(limit) + " 通に達しました。" + LocalMinuteText(next) +
         " 以降に /resume で続きを送れます";
}

}  // namespace pinemail

// "Daily Limit": at most N messages in any 24 hours from one home folder,
// counted from the times the journal gives the messages sent, by every run
// of every list.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "batch/local_time.h"

namespace pinemail {

inline constexpr std::chrono::hours kLimitWindow{24};

// Reads a "Daily Limit" value: a whole number of at least 1, blanks allowed
// around it. Empty: no limit (0). False, with the reason in Japanese, for
// anything else.
bool ParseDailyLimit(std::string_view value, std::size_t* limit, std::string* reason);

// The journal's form of a time: whole seconds since 1970 (UTC).
std::int64_t JournalSeconds(WallClock::time_point time);
WallClock::time_point FromJournalSeconds(std::int64_t seconds);

// The messages sent in the last 24 hours, and when the next one may go.
class SendWindow {
 public:
  SendWindow() = default;
  // `limit` 0: no limit. `sent`: when the messages went, in any order.
  SendWindow(std::size_t limit, std::vector<WallClock::time_point> sent);

  bool limited() const { return limit_ > 0; }
  std::size_t limit() const { return limit_; }
  // When the next message may go, seen at `now`: `now` itself while the
  // last 24 hours hold fewer than the limit, else the time the oldest that
  // keeps it full leaves them.
  WallClock::time_point NextAt(WallClock::time_point now) const;
  // A message went at `time`.
  void Sent(WallClock::time_point time);

 private:
  std::size_t limit_ = 0;
  std::vector<WallClock::time_point> sent_;  // sorted
};

// The reason of the stop line of a run that reached the limit and may go on
// with `/resume` from `next`.
std::string DailyLimitReason(std::size_t limit, WallClock::time_point next);

}  // namespace pinemail

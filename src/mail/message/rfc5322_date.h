// The Date header's value: a time as an RFC 5322 date.
#pragma once

#include <ctime>
#include <string>

namespace pinemail {

// The local clock as RFC 5322 dates. Thousands of messages go out per
// second: the time zone is looked up once per second, not once per message.
class Rfc5322Clock {
 public:
  // The current local time as an RFC 5322 date.
  std::string Now();

 private:
  std::time_t last_time_ = -1;
  std::string last_date_;
};

// `local_time` (tm_wday, tm_mday, tm_mon, tm_year and the clock fields) as an
// RFC 5322 date with the given offset from UTC, e.g.
// "Fri, 01 Jan 2027 00:00:05 +0900"; English names whatever the locale.
std::string FormatRfc5322Date(const std::tm& local_time, int utc_offset_minutes);

}  // namespace pinemail

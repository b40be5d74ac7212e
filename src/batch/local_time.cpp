// Local times for the log, `/at` and the daily limit, by the C library's
// time zone rules.
#include "batch/local_time.h"

#include <charconv>
#include <ctime>
#include <optional>

#include "text/utf8.h"

namespace pinemail {
namespace {

// The fields of a typed time; the date is absent in the "HH:MM" form.
struct TypedTime {
  std::optional<std::tm> date;
  int hour = 0;
  int minute = 0;
};

bool ReadNumber(std::string_view text, std::size_t min_digits, std::size_t max_digits, int low,
                int high, int* value) {
  if (text.size() < min_digits || text.size() > max_digits) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size() && *value >= low && *value <= high;
}

bool ReadClock(std::string_view text, TypedTime* typed) {
  const std::size_t colon = text.find(':');
  return colon != std::string_view::npos &&
         ReadNumber(text.substr(0, colon), 1, 2, 0, 23, &typed->hour) &&
         ReadNumber(text.substr(colon + 1), 2, 2, 0, 59, &typed->minute);
}

// "YYYY-MM-DD" (the T after it taken off already).
bool ReadDate(std::string_view text, std::tm* date) {
  int year = 0;
  int month = 0;
  int day = 0;
  if (text.size() != 10 || text[4] != '-' || text[7] != '-' ||
      !ReadNumber(text.substr(0, 4), 4, 4, 1970, 9999, &year) ||
      !ReadNumber(text.substr(5, 2), 2, 2, 1, 12, &month) ||
      !ReadNumber(text.substr(8, 2), 2, 2, 1, 31, &day)) {
    return false;
  }
  *date = std::tm{};
  date->tm_year = year - 1900;
  date->tm_mon = month - 1;
  date->tm_mday = day;
  return true;
}

bool ReadTypedTime(std::string_view text, TypedTime* typed) {
  const std::size_t t = text.find_first_of("Tt");
  if (t == std::string_view::npos) return ReadClock(text, typed);
  std::tm date{};
  if (!ReadDate(text.substr(0, t), &date)) return false;
  typed->date = date;
  return ReadClock(text.substr(t + 1), typed);
}

std::optional<std::tm> LocalFields(WallClock::time_point time) {
  const std::time_t seconds = WallClock::to_time_t(time);
  // The program reads local time on one thread only.
  const std::tm* local = std::localtime(&seconds);
  if (local == nullptr) return std::nullopt;
  return *local;
}

// The local time of `fields` at hour:minute; nullopt when the day does not
// exist (31 April) or the system cannot say.
std::optional<WallClock::time_point> AtLocal(std::tm fields, int hour, int minute) {
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = 0;
  fields.tm_isdst = -1;
  const int day = fields.tm_mday;
  const std::time_t made = std::mktime(&fields);
  if (made == static_cast<std::time_t>(-1) || fields.tm_mday != day) return std::nullopt;
  return WallClock::from_time_t(made);
}

}  // namespace

std::string LocalTimeText(WallClock::time_point time, const char* format) {
  const std::optional<std::tm> local = LocalFields(time);
  char text[64] = {};
  if (!local || std::strftime(text, sizeof text, format, &*local) == 0) {
    return "0000/00/00 00:00:00";
  }
  return text;
}

std::string LocalTimestampAt(WallClock::time_point time) {
  return LocalTimeText(time, "%Y/%m/%d %H:%M:%S");
}

std::string LocalMinuteText(WallClock::time_point time) {
  const auto minute = std::chrono::ceil<std::chrono::minutes>(time);
  const std::optional<std::tm> local = LocalFields(minute);
  if (!local) return "0:00";
  const std::string minutes = std::to_string(local->tm_min);
  return std::to_string(local->tm_hour) + ":" + (local->tm_min < 10 ? "0" : "") + minutes;
}

bool ParseStartTime(std::string_view text, WallClock::time_point now, WallClock::time_point* start,
                    std::string* reason) {
  text = TrimBlanks(text);
  TypedTime typed;
  std::optional<std::tm> today = LocalFields(now);
  if (!ReadTypedTime(text, &typed) || !today) {
    *reason = "/at の時刻は 0:00 か 2027-01-01T00:00 の形で書いてください: " + std::string(text);
    return false;
  }
  std::optional<WallClock::time_point> at =
      AtLocal(typed.date.value_or(*today), typed.hour, typed.minute);
  if (at && !typed.date && *at <= now) {
    ++today->tm_mday;  // tomorrow's; mktime carries it into the next month
    today->tm_isdst = -1;
    const std::time_t next_day = std::mktime(&*today);
    const std::optional<std::tm> tomorrow = LocalFields(WallClock::from_time_t(next_day));
    at = tomorrow ? AtLocal(*tomorrow, typed.hour, typed.minute) : std::nullopt;
  }
  if (!at) {
    *reason = "/at の日付がありません: " + std::string(text);
    return false;
  }
  if (*at <= now) {
    *reason = "/at の時刻 " + std::string(text) + " は過ぎています";
    return false;
  }
  *start = *at;
  return true;
}

}  // namespace pinemail

// Writes RFC 5322 dates: English names, the local offset from UTC.
#include "mail/message/rfc5322_date.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string_view>

namespace pinemail {
namespace {

constexpr std::array<std::string_view, 7> kDayNames = {"Sun", "Mon", "Tue", "Wed",
                                                       "Thu", "Fri", "Sat"};
constexpr std::array<std::string_view, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Days since 1970-01-01 of a proleptic Gregorian date (month 1..12).
std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2;
  std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  std::int64_t year_of_era = year - era * 400;
  std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  std::int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

std::int64_t SecondsAsIfUtc(const std::tm& time) {
  return DaysFromCivil(time.tm_year + 1900LL, time.tm_mon + 1, time.tm_mday) * 86400 +
         time.tm_hour * 3600 + time.tm_min * 60 + time.tm_sec;
}

}  // namespace

std::string FormatRfc5322Date(const std::tm& local_time, int utc_offset_minutes) {
  char sign = utc_offset_minutes < 0 ? '-' : '+';
  int offset = utc_offset_minutes < 0 ? -utc_offset_minutes : utc_offset_minutes;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02d%02d",
                std::string(kDayNames[static_cast<std::size_t>(local_time.tm_wday) % 7]).c_str(),
                local_time.tm_mday,
                std::string(kMonthNames[static_cast<std::size_t>(local_time.tm_mon) % 12]).c_str(),
                local_time.tm_year + 1900, local_time.tm_hour, local_time.tm_min, local_time.tm_sec,
                sign, offset / 60, offset % 60);
  return text;
}

std::string Rfc5322Clock::Now() {
  const std::time_t now = std::time(nullptr);
  if (now == last_time_) return last_date_;
  // The shared results of localtime and gmtime are copied out at once.
  const std::tm local_time = *std::localtime(&now);
  const std::tm utc_time = *std::gmtime(&now);
  const auto offset_seconds = SecondsAsIfUtc(local_time) - SecondsAsIfUtc(utc_time);
  last_date_ = FormatRfc5322Date(local_time, static_cast<int>(offset_seconds / 60));
  last_time_ = now;
  return last_date_;
}

}  // namespace pinemail

// The wall clock in local time: the times a person types (`/at`) and reads
// (the log, the time a limited run may go on).
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace pinemail {

using WallClock = std::chrono::system_clock;

// `time` in local time by a strftime format; "0000/00/00 00:00:00" when the
// system cannot say.
std::string LocalTimeText(WallClock::time_point time, const char* format);

// The log's form, "yyyy/mm/dd hh:mm:ss".
std::string LocalTimestampAt(WallClock::time_point time);

// `time` rounded up to a whole minute and shown as "H:MM" (a person reading
// "8:16" may go on at 8:16 and never too early).
std::string LocalMinuteText(WallClock::time_point time);

// Reads the time of `/at`: "H:MM" or "HH:MM" (the next such local time
// after `now`, tomorrow's when today's has passed) or "YYYY-MM-DDTHH:MM"
// (local; refused when it is not after `now`). False with the reason in
// Japanese for anything else.
bool ParseStartTime(std::string_view text, WallClock::time_point now, WallClock::time_point* start,
                    std::string* reason);

}  // namespace pinemail

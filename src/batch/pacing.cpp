// The "Send Rate" value and the gap it keeps between messages.
#include "batch/pacing.h"

#include <array>
#include <cstdint>

#include "text/ascii.h"
#include "text/count.h"
#include "text/utf8.h"

namespace pinemail {
namespace {

struct RateUnit {
  std::string_view name;
  std::chrono::seconds period;
};

constexpr std::array<RateUnit, 3> kRateUnits = {{
    {"sec", std::chrono::seconds(1)},
    {"min", std::chrono::minutes(1)},
    {"hour", std::chrono::hours(1)},
}};

}  // namespace

bool ParseSendRate(std::string_view value, std::chrono::nanoseconds* gap, std::string* reason) {
  value = TrimBlanks(value);
  if (value.empty()) {
    *gap = {};
    return true;
  }
  const std::size_t slash = value.find('/');
  const std::string_view count_text = TrimBlanks(value.substr(0, slash));
  const std::string_view unit_text =
      slash == std::string_view::npos ? std::string_view() : TrimBlanks(value.substr(slash + 1));
  std::uint32_t count = 0;
  const bool count_ok = ParseCount(count_text, &count);
  for (const RateUnit& unit : kRateUnits) {
    if (!count_ok || !EqualsNoCase(unit_text, unit.name)) continue;
    const std::chrono::nanoseconds period = unit.period;
    *gap = std::chrono::nanoseconds((period.count() + count - 1) / count);
    return true;
  }
  *reason =
      "Send Rate の値は 20/min のように、1 以上の整数と /sec、/min、/hour で書いてください: " +
      std::string(value);
  return false;
}

std::chrono::nanoseconds Pacer::WaitAt(PaceClock::time_point now) const {
  if (!paced() || !started_) return {};
  const PaceClock::time_point next = last_start_ + gap_;
  return next > now ? std::chrono::duration_cast<std::chrono::nanoseconds>(next - now)
                    : std::chrono::nanoseconds();
}

void Pacer::Started(PaceClock::time_point now) {
  started_ = true;
  last_start_ = now;
}

}  // namespace pinemail

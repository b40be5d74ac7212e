// The waits of a run, shortened only under test.
#include "mail/net/waits.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace pinemail {

std::chrono::milliseconds ScaledWait(std::chrono::milliseconds wait) {
  static const double scale = [] {
    const char* value = std::getenv("PINEMAIL_SMTP_TIMEOUT_SCALE");
    double factor = 1;
    if (value == nullptr) return factor;
    const char* end = value + std::strlen(value);
    auto [stop, ec] = std::from_chars(value, end, factor);
    return ec == std::errc() && stop == end && factor > 0 && factor <= 1 ? factor : 1.0;
  }();
  return std::chrono::milliseconds(std::llround(static_cast<double>(wait.count()) * scale));
}

}  // namespace pinemail

// The waits of a run, shortened only under test.
#include "mail/net/waits.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace pinemail {
namespace {

bool UsableScale(double scale) { return scale > 0 && scale <= 1; }

}  // namespace

std::chrono::milliseconds ScaledWait(std::chrono::milliseconds wait, double scale) {
  if (!UsableScale(scale)) return wait;
  return std::chrono::milliseconds(std::llround(static_cast<double>(wait.count()) * scale));
}

double ParseWaitScale(std::string_view text) {
  double scale = 1;
  const char* end = text.data() + text.size();
  const auto [stop, ec] = std::from_chars(text.data(), end, scale);
  return ec == std::errc() && stop == end && UsableScale(scale) ? scale : 1.0;
}

}  // namespace pinemail

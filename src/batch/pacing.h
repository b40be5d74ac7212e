// Pacing ("Send Rate"): consecutive messages leave at least the period divided
// by the rate apart, measured from the start of one message's sending to the
// next, so that no window of one period ever holds more than the rate.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace pinemail {

using PaceClock = std::chrono::steady_clock;

// Reads a "Send Rate" value: `N/sec`, `N/min` or `N/hour`, N a whole number
// of at least 1, blanks allowed around the value and the "/", the unit in
// any case. The gap it asks for between two messages is the period divided
// by N, rounded up to the nanosecond (rounded down, N+1 messages could fit
// into one period). An empty value asks for no gap (0). False, with the
// reason in Japanese, for anything else.
bool ParseSendRate(std::string_view value, std::chrono::nanoseconds* gap, std::string* reason);

// Spaces the starts of messages by a fixed gap, by the clock it is given.
class Pacer {
 public:
  explicit Pacer(std::chrono::nanoseconds gap = {}) : gap_(gap) {}

  // True when there is a gap to keep.
  bool paced() const { return gap_.count() > 0; }

  // How long to wait at `now` before the next message may start: 0 for the
  // first message, without a gap, or once the gap has passed.
  std::chrono::nanoseconds WaitAt(PaceClock::time_point now) const;

  // A message starts being sent at `now`.
  void Started(PaceClock::time_point now);

 private:
  std::chrono::nanoseconds gap_;
  bool started_ = false;
  PaceClock::time_point last_start_{};
};

}  // namespace pinemail

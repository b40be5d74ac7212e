#include "batch/wall_wait.h"

#include <algorithm>
#include <thread>

#include "batch/local_time.h"
#include "batch/stay_awake.h"

namespace pinemail {

WallClock::time_point WallWait::Now() const {
  return env_.wall_clock ? env_.wall_clock() : WallClock::now();
}

bool WallWait::Until(WallClock::time_point until, BatchWait::Kind kind) const {
  const StayAwake awake;
  BatchWait wait;
  wait.kind = kind;
  wait.until = LocalMinuteText(until);
  for (;;) {
    if (env_.stop && env_.stop->requested()) return false;
    const WallClock::duration left = until - Now();
    if (left <= WallClock::duration::zero()) return true;
    wait.length = std::chrono::ceil<std::chrono::milliseconds>(left);
    if (env_.waiting) env_.waiting(wait);
    const std::chrono::nanoseconds step = std::min<std::chrono::nanoseconds>(
        std::chrono::seconds(1), std::chrono::ceil<std::chrono::nanoseconds>(left));
    if (env_.sleep) {
      env_.sleep(step);
    } else {
      std::this_thread::sleep_for(step);
    }
  }
}

}  // namespace pinemail

// The run's waits by the wall clock: for `/at`'s time and for room under
// "Daily Limit". They follow the wall clock, not the time since they began,
// so that a machine that slept past the time, or a clock set forward, ends
// them at once, and a clock set back lengthens them.
#pragma once

#include "batch/run_batch.h"

namespace pinemail {

class WallWait {
 public:
  explicit WallWait(const BatchEnvironment& env) : env_(env) {}

  // The environment's wall clock, else the system's.
  WallClock::time_point Now() const;

  // Waits until `until` in steps of at most a second, keeping the machine
  // awake and telling a person watching (env.waiting) before each step how
  // long is left. False when a person stopped the run.
  bool Until(WallClock::time_point until, BatchWait::Kind kind) const;

 private:
  const BatchEnvironment& env_;
};

}  // namespace pinemail

// A person's request, made on another thread (a window's Stop button), that
// a run stop after the message in hand; the run's waits end when it comes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string_view>

namespace pinemail {

// The reason in the run's stop line when a person stopped it.
inline constexpr std::string_view kStopAskedReason = "中止しました";

class StopRequest {
 public:
  // Asks the run to stop; wakes a wait in progress. Any thread.
  void Request();
  bool requested() const;
  // Sleeps for `length` unless a stop is asked for first (or already was).
  void Wait(std::chrono::nanoseconds length);

 private:
  mutable std::mutex mutex_;
  std::condition_variable asked_;
  bool requested_ = false;
};

}  // namespace pinemail

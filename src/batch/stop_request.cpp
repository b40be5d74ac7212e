// The stop request: a flag under a mutex and a condition that wakes waits.
#include "batch/stop_request.h"

namespace pinemail {

void StopRequest::Request() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    requested_ = true;
  }
  asked_.notify_all();
}

bool StopRequest::requested() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return requested_;
}

void StopRequest::Wait(std::chrono::nanoseconds length) {
  // Never shorter than asked (the pacing counts on it), whatever clock the
  // condition's own timeout goes by.
  const auto end = std::chrono::steady_clock::now() + length;
  std::unique_lock<std::mutex> lock(mutex_);
  while (!requested_ && std::chrono::steady_clock::now() < end) asked_.wait_until(lock, end);
}

}  // namespace pinemail

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
  std::unique_lock<std::mutex> lock(mutex_);
  asked_.wait_for(lock, length, [this] { return requested_; });
}

}  // namespace pinemail

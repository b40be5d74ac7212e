// Keeps the machine from sleeping while a run waits for its time: Windows
// is asked not to sleep; elsewhere the user keeps it awake (systemd-inhibit).
#pragma once

namespace pinemail {

class StayAwake {
 public:
  StayAwake();
  ~StayAwake();
  StayAwake(const StayAwake&) = delete;
  StayAwake& operator=(const StayAwake&) = delete;
};

}  // namespace pinemail

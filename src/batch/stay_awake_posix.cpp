// POSIX systems have no call for it that every desktop honours; the help
// names systemd-inhibit for a run that must not be put to sleep.
#include "batch/stay_awake.h"

namespace pinemail {

StayAwake::StayAwake() = default;
StayAwake::~StayAwake() = default;

}  // namespace pinemail

// Windows keeps the system awake while the waiting thread asks it to, and
// lets it sleep again when the wait ends.
#include <windows.h>

#include "batch/stay_awake.h"

namespace pinemail {

StayAwake::StayAwake() { SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED); }

StayAwake::~StayAwake() { SetThreadExecutionState(ES_CONTINUOUS); }

}  // namespace pinemail

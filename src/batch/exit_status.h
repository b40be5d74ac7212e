// The exit status a scheduler sees, decided in one place for both entry
// points.
#pragma once

#include "batch/run_batch.h"
#include "config/startup.h"

namespace pinemail {

// The status after a run that ended with `outcome`: 0 every record sent, 1
// the list was worked through but some record was rejected or not sent, 2
// the run stopped early.
int ExitStatus(BatchOutcome outcome);

// The status after start-up showed the help instead of a run (kHelpAsked or
// kListMissing): 0 when the help was asked for, 2 when the named list does
// not exist, so that a mistyped path in a scheduled task does not look like
// success.
int HelpExitStatus(StartMode mode);

}  // namespace pinemail

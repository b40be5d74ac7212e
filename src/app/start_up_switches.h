// The environment variables the program reads, read once at start-up and
// handed to the batch run through its environment.
#pragma once

#include "batch/run_batch.h"

namespace pinemail {

// For measuring only, PINEMAIL_BENCH_NO_JOURNAL (any value) turns the
// journal off (scripts/bench-e2e compares the runs with and without it).
void ApplyStartUpSwitches(BatchEnvironment& env);

}  // namespace pinemail

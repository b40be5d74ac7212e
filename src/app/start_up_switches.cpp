// Reads the start-up switches from the process environment.
#include "app/start_up_switches.h"

#include <cstdlib>

namespace pinemail {

void ApplyStartUpSwitches(BatchEnvironment& env) {
  env.keep_journal = std::getenv("PINEMAIL_BENCH_NO_JOURNAL") == nullptr;
}

}  // namespace pinemail

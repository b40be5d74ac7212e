// Reads the start-up switches from the process environment.
#include "app/start_up_switches.h"

#include <cstdlib>

#include "mail/net/waits.h"

namespace pinemail {

void ApplyStartUpSwitches(BatchEnvironment& env) {
  env.keep_journal = std::getenv("PINEMAIL_BENCH_NO_JOURNAL") == nullptr;
}

TransportTuning TransportTuningFromEnvironment() {
  TransportTuning tuning;
  if (const char* scale = std::getenv("PINEMAIL_SMTP_TIMEOUT_SCALE")) {
    tuning.wait_scale = ParseWaitScale(scale);
  }
  for (const char* name : {"PINEMAIL_CA_FILE", "CURL_CA_BUNDLE"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') {
      tuning.ca_file = value;
      break;
    }
  }
  if (const char* server = std::getenv("PINEMAIL_DNS_SERVER")) tuning.dns_server = server;
  return tuning;
}

}  // namespace pinemail

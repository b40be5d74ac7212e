// The environment variables the program reads, read once at start-up and
// handed to the batch run through its environment.
#pragma once

#include "batch/run_batch.h"
#include "mail/transport_config.h"

namespace pinemail {

// For measuring only, PINEMAIL_BENCH_NO_JOURNAL (any value) turns the
// journal off (scripts/bench-e2e compares the runs with and without it).
// For tests only, PINEMAIL_CLOCK_FILE names a file holding whole seconds
// (may be negative) by which the run's wall clock and the log's times are
// moved; it is read each time the clock is, so that a test of `/at` or
// "Daily Limit" moves a waiting run's clock instead of waiting.
void ApplyStartUpSwitches(BatchEnvironment& env);

// For tests and measurements: PINEMAIL_SMTP_TIMEOUT_SCALE shortens the waits
// for servers and the pauses before a message goes again (ParseWaitScale),
// and PINEMAIL_CA_FILE, else CURL_CA_BUNDLE (libcurl does not read it by
// itself), names the CA file every TLS connection trusts; PINEMAIL_DNS_SERVER
// ("127.0.0.1:PORT") the DNS server the deliverability check asks.
TransportTuning TransportTuningFromEnvironment();

}  // namespace pinemail

// How long the program waits for servers and between tries: the real lengths,
// or shorter ones under test.
#pragma once

#include <chrono>

namespace pinemail {

// `wait`, or for tests a part of it: PINEMAIL_SMTP_TIMEOUT_SCALE (a factor
// above 0 and at most 1) shortens every such wait of a run, the SMTP
// deadlines, the Password Command's deadline and the batch run's pauses
// before a refused message is tried again, so that a server that stalls or
// keeps refusing can be tested in seconds: 0.01 makes 5 minutes 3 seconds.
// Unset, or not such a number, the real waits apply. The pacing the settings
// ask for ("Send Rate") is never shortened.
std::chrono::milliseconds ScaledWait(std::chrono::milliseconds wait);

}  // namespace pinemail

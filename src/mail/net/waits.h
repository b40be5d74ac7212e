// How long the program waits for servers and between tries: the real lengths,
// or shorter ones under test.
#pragma once

#include <chrono>
#include <string_view>

namespace pinemail {

// `wait` times `scale`, a factor above 0 and at most 1 that tests set
// (PINEMAIL_SMTP_TIMEOUT_SCALE, read once at start-up) to shorten every such
// wait of a run: the SMTP deadlines, the Password Command's deadline and the
// batch run's pauses before a refused message is tried again, so that a
// server that stalls or keeps refusing can be tested in seconds (0.01 makes
// 5 minutes 3 seconds). Any other scale means the real wait. The pacing the
// settings ask for ("Send Rate") is never shortened.
std::chrono::milliseconds ScaledWait(std::chrono::milliseconds wait, double scale);

// The scale a text gives (the whole text a number above 0 and at most 1);
// 1, the real waits, for any other text.
double ParseWaitScale(std::string_view text);

}  // namespace pinemail

// RunPasswordCommand's (oauth.h) limits and how it reads the command's output.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace pinemail {

// The most bytes of a password command's output that are read.
inline constexpr std::size_t kPasswordCommandOutputLimit = 64 * 1024;
// How long the command may take from its start to its end (ScaledWait under
// test): a keyring waiting for a password no one types must not hold the
// run, and the log it has locked, for ever.
inline constexpr std::chrono::seconds kPasswordCommandDeadline{60};

// The first line of `output` (CR and LF end it) as the secret; false with a
// reason when it is empty or the output was cut at the limit (`complete`
// false).
bool TakeFirstLine(const std::string& output, bool complete, std::string* secret,
                   std::string* reason);

// The reason for a command that exited with `status`.
std::string ExitReason(long status);

}  // namespace pinemail

// "Password Command": runs the command that prints the secret, its limits
// and how its output is read.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace pinemail {

// The most bytes of a password command's output that are read.
inline constexpr std::size_t kPasswordCommandOutputLimit = 64 * 1024;
// How long the command may take from its start to its end (shortened under
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

// Runs "Password Command" (a ChildProcess: POSIX through /bin/sh -c, Windows
// without a shell or window). Its first line of output (at most 64 KiB are
// read; CR and LF removed) is the secret, taken as soon as it arrives. False
// with a reason in Japanese, never the output, when the command cannot start,
// has not ended within `time_limit` (kPasswordCommandDeadline, shortened under
// test), exits with a status other than 0 or prints an empty first line.
// Whatever the command left running is ended with it.
bool RunPasswordCommand(const std::string& command, std::chrono::milliseconds time_limit,
                        std::string* secret, std::string* reason);

}  // namespace pinemail

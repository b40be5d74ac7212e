// The parts of RunPasswordCommand (oauth.h) that both platforms share.
#pragma once

#include <cstddef>
#include <string>

namespace pinemail {

// The most bytes of a password command's output that are read.
inline constexpr std::size_t kPasswordCommandOutputLimit = 64 * 1024;

// The first line of `output` (CR and LF end it) as the secret; false with a
// reason when it is empty or the output was cut at the limit (`complete`
// false).
bool TakeFirstLine(const std::string& output, bool complete, std::string* secret,
                   std::string* reason);

// The reason for a command that exited with `status`.
std::string ExitReason(long status);

}  // namespace pinemail

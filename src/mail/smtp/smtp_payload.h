// The message as the DATA command carries it.
#pragma once

#include <string>
#include <string_view>

namespace pinemail {

// The message as DATA carries it: dot-stuffed, its last line ended, and the
// end-of-data line after it.
std::string SmtpDataPayload(std::string_view message);

}  // namespace pinemail

// Plain explanations of the refusals users meet most, added after the
// server's own words so that a log line says what to change.
#pragma once

#include <string_view>

namespace pinemail {

// The explanation for a refusal with `reply_code` and the reply's text
// ("535 5.7.139 Authentication unsuccessful ..."); empty when none is known.
std::string_view RefusalAdvice(int reply_code, std::string_view reply);

}  // namespace pinemail

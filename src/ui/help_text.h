// The built-in help text shown by the help window (and printed on POSIX).
#pragma once

#include <string_view>

namespace pinemail {

// The whole help text in UTF-8, every line ended by CR LF.
std::string_view HelpText();

}  // namespace pinemail

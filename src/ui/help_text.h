// The built-in help text shown by the help window (and printed on POSIX).
#pragma once

#include <string>
#include <string_view>

namespace pinemail {

// The whole help text in UTF-8, every line ended by CR LF.
std::string_view HelpText();

// The help text with LF line ends, for a terminal and for toolkits that keep
// text that way.
std::string HelpTextWithLfLines();

}  // namespace pinemail

// The banner placed in front of every message body.
#pragma once

#include <string>

namespace pinemail {

// The three banner lines with CR LF each, then two more CR LF.
std::string MailBanner();

}  // namespace pinemail

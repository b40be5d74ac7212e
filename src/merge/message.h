// One message as a transport takes it: recipient, subject and text.
#pragma once

#include <string>

namespace pinemail {

struct OutgoingMessage {
  std::string recipient_name;     // display name (field 2)
  std::string recipient_address;  // address (field 1)
  std::string subject;
  std::string text;  // MailBanner followed by the substituted body (CR LF lines)
};

}  // namespace pinemail

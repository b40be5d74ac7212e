// One message as a transport takes it: recipient, subject and text.
#pragma once

#include <string>

namespace pinemail {

struct OutgoingMessage {
  std::string recipient_name;     // display name (field 2)
  std::string recipient_address;  // address (field 1)
  std::string subject;
  std::string text;  // MailBanner followed by the substituted body (CR LF lines)
  // The left part of the Message-ID (before "@"): the run's id and the
  // record's identity, so that a message sent again by a resumed run carries
  // the same Message-ID. Empty: a new unique one.
  std::string message_key = {};
};

}  // namespace pinemail

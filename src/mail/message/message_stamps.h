// What a message takes from outside itself when it is written: the time of
// its Date and, for a message without a key, a new Message-ID. Made once at
// start-up and handed down to the transports that write messages, so that
// the writer keeps no clock or counter of its own and a test can fix both.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace pinemail {

struct MessageStamps {
  // Now, as an RFC 5322 date ("Fri, 01 Jan 2027 00:00:05 +0900").
  std::function<std::string()> date;
  // A new unique Message-ID (without angle brackets) for a message from
  // `from_address`.
  std::function<std::string(std::string_view from_address)> new_message_id;
};

// The system's: the local clock (Rfc5322Clock) and a MessageIdSource, each
// one for all the copies of what is returned.
MessageStamps SystemMessageStamps();

}  // namespace pinemail

// The system's message stamps: one local clock and one id source, shared by
// the copies that the transports hold.
#include "mail/message/message_stamps.h"

#include <memory>

#include "mail/message/message_id.h"
#include "mail/message/rfc5322_date.h"

namespace pinemail {

MessageStamps SystemMessageStamps() {
  auto clock = std::make_shared<Rfc5322Clock>();
  auto ids = std::make_shared<MessageIdSource>();
  return {[clock] { return clock->Now(); },
          [ids](std::string_view from_address) { return ids->NewId(from_address); }};
}

}  // namespace pinemail

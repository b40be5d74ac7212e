// Composes the message for one record.
#include "merge/compose.h"

#include <utility>

namespace pinemail {

std::optional<OutgoingMessage> ComposeMessage(const RecipientRecord& record,
                                              const MessageTemplate* message_template,
                                              const KeywordTable& table, std::string_view banner) {
  if (record.display_name.empty() || record.address.empty() || message_template == nullptr) {
    return std::nullopt;
  }
  std::string body = message_template->body;
  SubstituteKeywords(body, table, record.values);
  OutgoingMessage message;
  message.recipient_name = record.display_name;
  message.recipient_address = record.address;
  message.subject = message_template->subject;
  message.text.reserve(banner.size() + body.size());
  message.text.append(banner).append(body);
  return message;
}

}  // namespace pinemail

// Composes the message for one record: its template's subject and body, the
// record's keyword values, the banner.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "merge/keywords.h"
#include "merge/message.h"
#include "merge/record.h"

namespace pinemail {

// A template as read by ReadTemplate.
struct MessageTemplate {
  std::string subject;
  std::string body;
};

// The message for `record`: to its display name and address, with the
// template's subject, and as text `banner` followed by the template's body
// with the record's values substituted for the keywords of `table`. Nullopt
// when the record lacks a display name or an address, or `message_template`
// is null (the template could not be read): there is not enough to send.
std::optional<OutgoingMessage> ComposeMessage(const RecipientRecord& record,
                                              const MessageTemplate* message_template,
                                              const KeywordTable& table, std::string_view banner);

}  // namespace pinemail

// Writes RFC 5322 / MIME messages for the smtp, sendmail and outbox transports.
#pragma once

#include <string>
#include <string_view>

#include "mail/message/mailbox.h"
#include "mail/message/message_stamps.h"
#include "merge/message.h"

namespace pinemail {

struct MessageFields {
  Mailbox from;
  Mailbox to;
  std::string subject;     // UTF-8
  std::string text;        // UTF-8 body, CR LF lines
  std::string date;        // RFC 5322 date, e.g. "Fri, 01 Jan 2027 00:00:05 +0900"
  std::string message_id;  // without angle brackets, e.g. "x.y@host"
};

// The fields of one outgoing message from `from`, dated by `stamps`, the
// recipient's address in its wire form (WireAddress); its Message-ID is made
// from the message's key (MessageIdFor), or is a new one from `stamps` when
// it has none.
MessageFields FieldsFor(const OutgoingMessage& message, const Mailbox& from,
                        const MessageStamps& stamps);

// The whole message: headers (Date, From, To, Subject, Message-ID,
// MIME-Version, Content-Type text/plain; charset=UTF-8,
// Content-Transfer-Encoding base64), an empty line, the base64 body in lines
// of 76. Non-ASCII header text as RFC 2047 encoded-words of whole characters,
// at most 75 characters each; header lines folded at 78. Lines end in
// `line_end` ("\r\n" or "\n"). No header value carries a raw CR or LF:
// controls in names and subjects become blanks, malformed UTF-8 becomes
// U+FFFD. A display name empty after trimming gives the bare address.
std::string WriteMessage(const MessageFields& fields, std::string_view line_end = "\r\n");

}  // namespace pinemail

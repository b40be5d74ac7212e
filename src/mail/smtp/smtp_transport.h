// The smtp:// and smtps:// transports: libcurl opens the connection (TLS,
// EHLO, AUTH) once per run (SmtpConnection); the mail transactions on it are
// our own (SmtpPipeline), so that a server offering PIPELINING gets each
// message's end and the next message's MAIL, RCPT and DATA in one packet:
// one round trip per message instead of four. A server offering CHUNKING as
// well gets whole transactions (MAIL, RCPT, BDAT with the message), several
// before their replies are read.
#pragma once

#include <cstddef>
#include <memory>

#include "mail/message/mailbox.h"
#include "mail/message/message_stamps.h"
#include "mail/smtp/smtp_endpoint.h"
#include "mail/transport.h"
#include "mail/transport_config.h"

namespace pinemail {

// The transport for `endpoint`, sending as `sender` (its address is the
// envelope sender), its messages dated by `stamps`. Certificates are verified
// against the system's store, or against `tuning.ca_file` when set, and the
// waits for the server are shortened by `tuning.wait_scale`. After
// `messages_per_connection` messages (0: no limit) the connection is closed
// and the next message opens a new one. A refusal of the sender or a 421 is a
// kSessionRefused result, any other refusal kFailed, each with the server's
// codes; nothing refused is tried again here.
std::unique_ptr<MailTransport> MakeSmtpTransport(const SmtpEndpoint& endpoint,
                                                 const Mailbox& sender,
                                                 std::size_t messages_per_connection,
                                                 const MessageStamps& stamps,
                                                 const TransportTuning& tuning);

}  // namespace pinemail

// Judging a server's refusal: the text a failure is logged with, and whether
// it concerns one message or the whole session.
#pragma once

#include <string>
#include <string_view>

#include "mail/smtp/smtp_reply.h"
#include "mail/smtp/smtp_step.h"
#include "mail/transport.h"

namespace pinemail {

// The text logged for a failed send: the server's refusal when the reply was
// one (4xx/5xx), else the library's error text. Every form of the credentials
// is masked (MaskCredentials), and controls and bytes that are not UTF-8 are
// made printable. A refusal that RefusalAdvice explains gets the
// explanation after the server's words, in parentheses.
std::string SmtpFailureReason(int reply_code, std::string_view reply,
                              std::string_view library_error, std::string_view user_name,
                              std::string_view password);

// A refusal as the batch run judges it, with the server's codes: a refused
// sender (the reply answered `step` MAIL) or a 421 (the server closes the
// session, RFC 5321 3.8) concern the account or the session
// (kSessionRefused); anything else this one message (kFailed). A reply that
// is no refusal (a 250 where a 354 was due) is logged as unexpected.
MailResult SmtpRefusal(const SmtpReply& reply, SmtpStep step, std::string_view user_name,
                       std::string_view password);

}  // namespace pinemail

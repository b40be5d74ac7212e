// The sendmail transport: the system's sendmail program, run once per message
// with the message on its standard input.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mail/message/mailbox.h"
#include "mail/message/message_stamps.h"
#include "mail/transport.h"
#include "text/child_process.h"

namespace pinemail {

// Where the program is looked for when the settings name none, in this order.
inline constexpr std::string_view kSendmailPaths[] = {"/usr/sbin/sendmail", "/usr/lib/sendmail"};

// The arguments after the program name: "-i", "-f", the sender, "--", the
// recipient. The recipient comes after "--" so that it can never be taken
// for an option.
std::vector<std::string> SendmailArguments(std::string_view sender_address,
                                           std::string_view recipient_address);

// The text logged when the program did not end with status 0: how it ended
// and the first non-empty line of what it wrote to standard error, cut short
// after `password` (when given) was masked in it.
std::string SendmailFailureReason(const ChildProcess::Exit& exit, std::string_view error_output,
                                  std::string_view password = {});

// The transport running `program` (an absolute path), or, when `program` is
// empty, the first of kSendmailPaths that exists, for messages from `sender`
// dated by `stamps`. SignOn fails when the program is not an executable
// regular file. Credentials are never passed on.
std::unique_ptr<MailTransport> MakeSendmailTransport(std::string program, const Mailbox& sender,
                                                     const MessageStamps& stamps);

}  // namespace pinemail

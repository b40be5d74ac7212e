// The steps of an SMTP mail transaction and of the session around it, and how
// long the reply to each is waited for.
#pragma once

#include <chrono>

namespace pinemail {

// A command of a mail transaction, or of the session around one. The end of
// data is the message after DATA's 354, its final line "." included.
enum class SmtpStep { kMail, kRcpt, kData, kEndOfData, kBdat, kRset, kQuit };

// How long the reply to a step is waited for (RFC 5321 4.5.3.2): 5 minutes
// for a command, 10 for the reply to the message (BDAT carries it), which a
// busy server may take long over: giving up early would log as failed a
// message that the server then delivers, and the next run would send it
// again. QUIT is a courtesy: 5 seconds.
std::chrono::seconds SmtpReplyDeadline(SmtpStep step);

}  // namespace pinemail

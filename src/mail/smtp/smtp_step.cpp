// The reply deadlines of the SMTP steps, in one table.
#include "mail/smtp/smtp_step.h"

#include <array>
#include <cstddef>

namespace pinemail {
namespace {

using std::chrono::minutes;
using std::chrono::seconds;

// The reply deadlines by step, in the order of SmtpStep.
constexpr std::array<seconds, 7> kReplyDeadlines = {
    minutes(5),   // MAIL
    minutes(5),   // RCPT
    minutes(5),   // DATA
    minutes(10),  // the end of data
    minutes(10),  // BDAT ... LAST, with the message
    minutes(5),   // RSET
    seconds(5),   // QUIT
};
static_assert(kReplyDeadlines.size() == static_cast<std::size_t>(SmtpStep::kQuit) + 1);

}  // namespace

std::chrono::seconds SmtpReplyDeadline(SmtpStep step) {
  return kReplyDeadlines[static_cast<std::size_t>(step)];
}

}  // namespace pinemail

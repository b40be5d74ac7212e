// Dot-stuffs a message for the DATA command and ends its data.
#include "mail/smtp/smtp_payload.h"

namespace pinemail {

// A line that starts with "." gets a second one; "." on a line of its own
// ends the data.
std::string SmtpDataPayload(std::string_view message) {
  std::string out;
  out.reserve(message.size() + 8);
  bool line_start = true;
  for (char c : message) {
    if (line_start && c == '.') out += '.';
    out += c;
    line_start = c == '\n';
  }
  if (!line_start) out += "\r\n";
  out += ".\r\n";
  return out;
}

}  // namespace pinemail

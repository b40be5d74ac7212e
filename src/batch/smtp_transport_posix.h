// The smtp:// and smtps:// transports: libcurl opens the connection (TLS,
// EHLO, AUTH) once per run; the mail transactions on it are our own, so that
// a server offering PIPELINING gets MAIL, RCPT and DATA in one packet and the
// message with its end in another: two round trips per message instead of
// four.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <string_view>

#include "batch/message_writer.h"
#include "batch/transport.h"

namespace pinemail {

inline constexpr int kSubmissionPort = 587;   // smtp://, STARTTLS
inline constexpr int kImplicitTlsPort = 465;  // smtps://

// Where an SMTP server is reached.
struct SmtpEndpoint {
  bool implicit_tls = false;  // smtps://
  std::string host;           // a name or an address; IPv6 without brackets
  int port = 0;
};

// Parses "smtp://host[:port]" or "smtps://host[:port]" (a trailing "/" is
// allowed; an IPv6 address goes in brackets). Credentials, paths and queries
// in the URL are refused so that no password can end up in a URL, and hence
// in an error text. False with `error` set when the value is not usable.
bool ParseSmtpServer(std::string_view value, SmtpEndpoint* out, std::string* error);

// True for "localhost", 127.0.0.0/8 and ::1: the only hosts to which mail may
// go without TLS.
bool IsLoopbackHost(std::string_view host);

// One whole reply: its three-digit code and its lines joined into one, with
// control characters replaced.
struct SmtpReply {
  int code = 0;
  std::string text;
};

// Follows the server's reply lines as they arrive and keeps the last whole
// reply; a multi-line reply ("250-a", "250 b") becomes one line "250 a b".
class SmtpReplyTracker {
 public:
  // Takes received bytes: one or more lines, each ended by LF or CR LF.
  void Feed(std::string_view bytes);
  // Forgets everything, at the start of a transfer.
  void Clear();

  // Takes the oldest whole reply not taken yet; false when none is waiting.
  // Pipelined commands are answered in order, so each reply is matched with
  // its command this way.
  bool TakeReply(SmtpReply* reply);
  // True when the last 250 reply listed PIPELINING: read after the EHLO.
  bool offers_pipelining() const { return offers_pipelining_; }

  // The last complete reply, control characters replaced; empty when none.
  const std::string& last_reply() const { return last_reply_; }
  // Its three-digit code; 0 when none.
  int last_code() const { return last_code_; }
  // The last refusal (4xx or 5xx) and its code: what a failure is logged
  // with, even when the library says QUIT after it.
  const std::string& last_refusal() const { return last_refusal_; }
  int last_refusal_code() const { return last_refusal_code_; }
  // True when any reply line arrived since Clear().
  bool any_reply() const { return any_reply_; }

 private:
  void TakeLine(std::string_view line);

  std::string partial_line_;
  std::string pending_text_;  // the text of "NNN-" lines so far
  bool pending_pipelining_ = false;
  bool offers_pipelining_ = false;
  std::deque<SmtpReply> waiting_;
  std::string last_reply_;
  int last_code_ = 0;
  std::string last_refusal_;
  int last_refusal_code_ = 0;
  bool any_reply_ = false;
};

// The text logged for a failed send: the server's refusal when the last reply
// was one (4xx/5xx), else the library's error text. `password`, when not
// empty, is masked wherever it occurs.
std::string SmtpFailureReason(int reply_code, std::string_view reply,
                              std::string_view library_error, std::string_view password);

// The message as DATA carries it: dot-stuffed, its last line ended, and the
// end-of-data line after it.
std::string SmtpDataPayload(std::string_view message);

// The transport for `endpoint`, sending as `sender` (its address is the
// envelope sender). Certificates are verified against the system's store, or
// against the file named by PINEMAIL_CA_FILE or CURL_CA_BUNDLE when set.
std::unique_ptr<MailTransport> MakeSmtpTransport(const SmtpEndpoint& endpoint,
                                                 const Mailbox& sender);

}  // namespace pinemail

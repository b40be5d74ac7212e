// The smtp:// and smtps:// transports: libcurl opens the connection (TLS,
// EHLO, AUTH) once per run; the mail transactions on it are our own, so that
// a server offering PIPELINING gets each message's end and the next
// message's MAIL, RCPT and DATA in one packet: one round trip per message
// instead of four. A server offering CHUNKING as well gets whole
// transactions (MAIL, RCPT, BDAT with the message), several before their
// replies are read.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

#include "mail/message/message_writer.h"
#include "mail/transport.h"

namespace pinemail {

inline constexpr int kSubmissionPort = 587;   // smtp://, STARTTLS
inline constexpr int kImplicitTlsPort = 465;  // smtps://

// Where an SMTP server is reached.
struct SmtpEndpoint {
  bool implicit_tls = false;  // smtps://
  std::string host;           // a name or an address; IPv6 without brackets
  int port = 0;
  bool xoauth2 = false;  // AUTH XOAUTH2: the password is an OAuth 2.0 access token
};

// Parses "smtp://host[:port]" or "smtps://host[:port]" (a trailing "/" is
// allowed; an IPv6 address goes in brackets). Credentials, paths and queries
// in the URL are refused so that no password can end up in a URL, and hence
// in an error text. False with `error` set when the value is not usable.
bool ParseSmtpServer(std::string_view value, SmtpEndpoint* out, std::string* error);

// The most one reply line may hold, its line end included, and one whole
// reply, all its lines. RFC 5321 asks servers for at most 512 bytes a line;
// there is room to spare, but a server that goes past these is broken or
// hostile, and the connection is dropped.
inline constexpr std::size_t kSmtpLineLimit = 4 * 1024;
inline constexpr std::size_t kSmtpReplyLimit = 64 * 1024;

// One whole reply: its three-digit code and its lines joined into one, as
// the server sent them (controls included).
struct SmtpReply {
  int code = 0;
  std::string text;
};

// Follows the server's reply lines as they arrive; a multi-line reply
// ("250-a", "250 b") becomes one reply "250 a b".
class SmtpReplyTracker {
 public:
  // Takes received bytes: any part of one or more lines, each ended by LF or
  // CR LF. Only the bytes that just arrived are searched for a line end. A
  // line longer than kSmtpLineLimit or a reply longer than kSmtpReplyLimit
  // is a protocol error: failure() says so from then on and later bytes are
  // ignored. So the reply in progress never holds more than the limits; the
  // whole replies not taken yet hold at most the bytes of one Feed.
  void Feed(std::string_view bytes);
  // Forgets everything, at the start of a connection.
  void Clear();
  // Fails as Feed does for a line over kSmtpLineLimit: for a line that libcurl
  // cut short before it could be fed.
  void LineTooLong();

  // Takes the oldest whole reply not taken yet; false when none is waiting.
  // Pipelined commands are answered in order, so each reply is matched with
  // its command this way.
  bool TakeReply(SmtpReply* reply);
  // True when the last 250 reply listed PIPELINING: read after the EHLO.
  bool offers_pipelining() const { return offers_pipelining_; }
  // The same for CHUNKING (RFC 3030: BDAT).
  bool offers_chunking() const { return offers_chunking_; }
  // True once a 235 reply came: the server accepted the credentials.
  bool authenticated() const { return authenticated_; }
  // The last refusal (4xx or 5xx): what a failure is logged with, even when
  // the library says QUIT after it. Code 0 when none came.
  const SmtpReply& last_refusal() const { return last_refusal_; }
  // Why the replies broke off (a protocol error); empty while they keep
  // within the limits.
  const std::string& failure() const { return failure_; }
  // Bytes held for the reply in progress, for checks that they stay bounded.
  std::size_t pending_bytes() const { return partial_line_.size() + pending_text_.size(); }

 private:
  void TakeLine(std::string_view line);
  void Fail(std::string reason);

  std::string partial_line_;
  std::string pending_text_;     // the text of "NNN-" lines so far
  std::size_t reply_bytes_ = 0;  // the reply in progress so far, line ends included
  bool pending_pipelining_ = false;
  bool offers_pipelining_ = false;
  bool pending_chunking_ = false;
  bool offers_chunking_ = false;
  bool authenticated_ = false;
  std::deque<SmtpReply> waiting_;
  SmtpReply last_refusal_;
  std::string failure_;
};

// The text logged for a failed send: the server's refusal when the reply was
// one (4xx/5xx), else the library's error text. Every form of the credentials
// is masked (MaskCredentials), and controls and bytes that are not UTF-8 are
// made printable.
std::string SmtpFailureReason(int reply_code, std::string_view reply,
                              std::string_view library_error, std::string_view user_name,
                              std::string_view password);

// The message as DATA carries it: dot-stuffed, its last line ended, and the
// end-of-data line after it.
std::string SmtpDataPayload(std::string_view message);

// The enhanced status code (RFC 3463, "5.1.1") at the start of a reply's
// text ("550 5.1.1 <a@b>: unknown"); empty when the reply has none.
std::string SmtpEnhancedStatus(std::string_view reply);

// The transport for `endpoint`, sending as `sender` (its address is the
// envelope sender). Certificates are verified against the system's store, or
// against the file named by PINEMAIL_CA_FILE or CURL_CA_BUNDLE when set.
// After `messages_per_connection` messages (0: no limit) the connection is
// closed and the next message opens a new one. A refusal of the sender or a
// 421 is a kSessionRefused result, any other refusal kFailed, each with the
// server's codes; nothing refused is tried again here.
std::unique_ptr<MailTransport> MakeSmtpTransport(const SmtpEndpoint& endpoint,
                                                 const Mailbox& sender,
                                                 std::size_t messages_per_connection);

}  // namespace pinemail

// Reads an SMTP server's replies as they arrive: whole replies from lines,
// within limits, and what the server offers and refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace pinemail {

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
  // The largest message the last 250 reply's SIZE allows, in bytes (RFC
  // 1870); 0 when it set none.
  std::uint64_t size_limit() const { return size_limit_; }
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
  std::uint64_t pending_size_limit_ = 0;
  std::uint64_t size_limit_ = 0;
  bool authenticated_ = false;
  std::deque<SmtpReply> waiting_;
  SmtpReply last_refusal_;
  std::string failure_;
};

// The enhanced status code (RFC 3463, "5.1.1") at the start of a reply's
// text ("550 5.1.1 <a@b>: unknown"); empty when the reply has none.
std::string SmtpEnhancedStatus(std::string_view reply);

}  // namespace pinemail

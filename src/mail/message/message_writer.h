// Writes RFC 5322 / MIME messages for the smtp, sendmail and outbox transports.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "merge/message.h"

namespace pinemail {

// A parsed "From" value: `山田 太郎 <taro@example.jp>` or a bare address.
struct Mailbox {
  std::string display_name;
  std::string address;
};

// Parses a "From"-style value: a bare address, or a display name (quoted or
// not; blanks around it dropped) followed by the address in angle brackets.
// The address is kept in the form it goes out in (WireAddress). False when it
// holds no address WireAddress accepts.
bool ParseMailbox(std::string_view text, Mailbox* out);

// The form in which an address, as a list or the settings write it, goes out
// (RCPT TO, MAIL FROM, To and From, sendmail's arguments): local@domain with
// exactly one "@", a domain of ASCII atom characters and dots, at most 254
// bytes. The local part is either atom characters and dots, sent as they are
// when they make a dot-atom and as a quoted string otherwise ("taro..yamada."
// and ".hana", old Japanese mobile addresses: RFC 5321 4.1.2, RFC 5322
// 3.4.1), or a quoted string, sent as it is (unquoted when it need not be).
// A leading "-" is an ordinary character (sendmail gets the address after
// "--"). False for anything else: a control, a blank outside quotes, an
// angle bracket, no "@" or an empty part; `wire` is then left as it was.
bool WireAddress(std::string_view address, std::string* wire);

// True when WireAddress accepts `address`: a recipient the transports that
// write messages can send to.
bool IsPlainAddress(std::string_view address);

struct MessageFields {
  Mailbox from;
  Mailbox to;
  std::string subject;     // UTF-8
  std::string text;        // UTF-8 body, CR LF lines
  std::string date;        // RFC 5322 date, e.g. "Fri, 01 Jan 2027 00:00:05 +0900"
  std::string message_id;  // without angle brackets, e.g. "x.y@host"
};

// Why a transport that writes messages refuses a recipient address that is
// not a plain addr-spec.
inline constexpr std::string_view kBadAddressReason = "宛先アドレスの形式が正しくありません";

// The fields of one outgoing message from `from`, dated now, the recipient's
// address in its wire form (WireAddress); its Message-ID is made from the
// message's key (MessageIdFor), or new when it has none.
MessageFields FieldsFor(const OutgoingMessage& message, const Mailbox& from);

// The whole message: headers (Date, From, To, Subject, Message-ID,
// MIME-Version, Content-Type text/plain; charset=UTF-8,
// Content-Transfer-Encoding base64), an empty line, the base64 body in lines
// of 76. Non-ASCII header text as RFC 2047 encoded-words of whole characters,
// at most 75 characters each; header lines folded at 78. Lines end in
// `line_end` ("\r\n" or "\n"). No header value carries a raw CR or LF:
// controls in names and subjects become blanks, malformed UTF-8 becomes
// U+FFFD. A display name empty after trimming gives the bare address.
std::string WriteMessage(const MessageFields& fields, std::string_view line_end = "\r\n");

// The current local time as an RFC 5322 date.
std::string Rfc5322Date();

// `local_time` (tm_wday, tm_mday, tm_mon, tm_year and the clock fields) as an
// RFC 5322 date with the given offset from UTC, e.g.
// "Fri, 01 Jan 2027 00:00:05 +0900"; English names whatever the locale.
std::string FormatRfc5322Date(const std::tm& local_time, int utc_offset_minutes);

// `bytes` in base64 (RFC 4648), without line breaks.
std::string EncodeBase64(std::string_view bytes);

// A unique Message-ID (without angle brackets) for a message from `from_address`.
std::string NewMessageId(std::string_view from_address);

// The Message-ID (without angle brackets) `key`@domain for a message from
// `from_address`: the domain is the sender's when it is a plain addr-spec,
// else "pinemail.invalid", as for NewMessageId. `key` is a dot-atom chosen by
// the caller.
std::string MessageIdFor(std::string_view key, std::string_view from_address);

}  // namespace pinemail

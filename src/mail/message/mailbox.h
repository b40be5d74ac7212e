// Mailboxes and addresses as a message and its envelope carry them: a "From"
// value read, an address put in the form it goes out in.
#pragma once

#include <string>
#include <string_view>

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

// Why a transport that writes messages refuses a recipient address that is
// not a plain addr-spec.
inline constexpr std::string_view kBadAddressReason = "宛先アドレスの形式が正しくありません";

// RFC 5322's atext: a character that may stand in an atom.
bool IsAtomCharacter(char c);

// `text` as an RFC 5322 quoted-string: in double quotes, each quote and
// backslash escaped.
std::string QuotedString(std::string_view text);

}  // namespace pinemail

// Reads "From" values and checks addresses, putting each in the form in which
// it goes out.
#include "mail/message/mailbox.h"

#include <algorithm>
#include <utility>

#include "text/utf8.h"

namespace pinemail {
namespace {

bool IsAtomsAndDots(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(),
                                      [](char c) { return c == '.' || IsAtomCharacter(c); });
}

// RFC 5322's dot-atom: atoms joined by single dots.
bool IsDotAtom(std::string_view text) {
  return IsAtomsAndDots(text) && text.front() != '.' && text.back() != '.' &&
         text.find("..") == std::string_view::npos;
}

// What may stand in a quoted local part: printable ASCII and the blank, but
// no angle bracket (the address is written between them) and no "@" (an
// address has one, before its domain).
bool IsQuotable(char c) { return c >= 0x20 && c <= 0x7E && c != '<' && c != '>' && c != '@'; }

// The local part of an address as written, read as its value: a quoted
// string without its quotes and escapes, or atom characters and dots as
// they are (dots anywhere: "taro..yamada." and ".hana" are old Japanese
// mobile addresses still in use). False for anything else, or nothing.
bool ReadLocalPart(std::string_view written, std::string* value) {
  if (!written.starts_with('"')) {
    *value = std::string(written);
    return IsAtomsAndDots(written);
  }
  if (written.size() < 3 || !written.ends_with('"')) return false;
  std::string read;
  for (std::size_t i = 1; i + 1 < written.size(); ++i) {
    char c = written[i];
    if (c == '"') return false;
    if (c == '\\') {
      if (i + 2 >= written.size()) return false;  // the closing quote escaped
      c = written[++i];
    }
    if (!IsQuotable(c)) return false;
    read += c;
  }
  *value = std::move(read);
  return true;
}

}  // namespace

bool IsAtomCharacter(char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) != std::string_view::npos;
}

std::string QuotedString(std::string_view name) {
  std::string quoted = "\"";
  for (char c : name) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

bool WireAddress(std::string_view address, std::string* wire) {
  const std::size_t at = address.rfind('@');
  if (at == std::string_view::npos) return false;
  const std::string_view domain = address.substr(at + 1);
  std::string local;
  if (!ReadLocalPart(address.substr(0, at), &local) || !IsAtomsAndDots(domain)) return false;
  std::string out = (IsDotAtom(local) ? local : QuotedString(local)) + "@" + std::string(domain);
  // 254 is the longest address SMTP can carry; a longer one would also break
  // the 998-byte line limit of the To header, which is never folded inside it.
  if (out.size() > 254) return false;
  *wire = std::move(out);
  return true;
}

bool IsPlainAddress(std::string_view address) {
  std::string ignored;
  return WireAddress(address, &ignored);
}

bool ParseMailbox(std::string_view text, Mailbox* out) {
  std::string_view whole = TrimBlanks(text);
  Mailbox mailbox;
  if (!whole.empty() && whole.back() == '>') {
    std::size_t open = whole.rfind('<');
    if (open == std::string_view::npos) return false;
    mailbox.address = std::string(whole.substr(open + 1, whole.size() - open - 2));
    std::string_view name = TrimBlanks(whole.substr(0, open));
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
      name = name.substr(1, name.size() - 2);
      for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 1 < name.size()) ++i;
        mailbox.display_name += name[i];
      }
    } else {
      mailbox.display_name = std::string(name);
    }
  } else {
    mailbox.address = std::string(whole);
  }
  if (!WireAddress(mailbox.address, &mailbox.address)) return false;
  *out = std::move(mailbox);
  return true;
}

}  // namespace pinemail

// Builds the RFC 5322 / MIME text of one outgoing message: its headers,
// non-ASCII text in encoded-words, folded, and its body in base64.
#include "mail/message/message_writer.h"

#include "mail/message/header_line.h"
#include "mail/message/message_id.h"
#include "text/base64.h"
#include "text/utf8.h"

namespace pinemail {
namespace {

constexpr std::size_t kBase64LineLength = 76;

// ---------------------------------------------------------------------------
// Header text.

// Header values: every control (CR and LF above all) becomes a blank, so that
// a value can never end its header line and start a header of its own;
// malformed bytes become U+FFFD, so that encoded-words carry valid UTF-8.
// An unstructured header (the subject) may keep its tabs.
std::string CleanHeaderText(std::string_view text, Controls controls = Controls::kHeader) {
  return BlankControls(SanitizeUtf8(text), controls);
}

// ---------------------------------------------------------------------------
// Display names.

bool IsPrintableAscii(std::string_view text) {
  for (char c : text) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

// True when text that a decoder might take for an encoded-word appears, which
// must then be encoded itself to survive unchanged.
bool LooksEncoded(std::string_view text) { return text.find("=?") != std::string_view::npos; }

// Atoms separated by single blanks, each short enough to stand on a line.
bool IsPlainPhrase(std::string_view name) {
  std::size_t word_length = 0;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] == ' ') {
      if (word_length == 0) return false;  // leading or double blank
      word_length = 0;
    } else if (IsAtomCharacter(name[i])) {
      if (++word_length > HeaderLine::FreshRoom()) return false;
    } else {
      return false;
    }
  }
  return word_length > 0;
}

void AddDisplayName(HeaderLine& line, std::string_view name) {
  if (IsPrintableAscii(name) && !LooksEncoded(name)) {
    if (IsPlainPhrase(name)) {
      std::size_t start = 0;
      while (start < name.size()) {
        std::size_t blank = name.find(' ', start);
        if (blank == std::string_view::npos) blank = name.size();
        line.AddWord(name.substr(start, blank - start));
        start = blank + 1;
      }
      return;
    }
    // A quoted-string may be folded at its blanks like any other text.
    std::string quoted = QuotedString(name);
    if (HeaderLine::FitsFolded(quoted, HeaderLine::FreshRoom())) {
      line.AddFoldableText(quoted);
      return;
    }
  }
  // RFC 2047 readers join adjacent encoded-words without the blanks between
  // them, so the name decodes exactly however it is split; it is split as
  // little as the length limit allows (one word when it fits), for readers
  // that show the words apart.
  line.AddFewestEncodedWords(name);
}

// An address's blanks stand only inside its quoted local part; others (a
// control turned into a blank) are dropped, so that no fold can leave a
// continuation line of blanks alone.
std::string DropBlanksOutsideQuotes(std::string_view address) {
  std::string kept;
  bool quoted = false;
  for (std::size_t i = 0; i < address.size(); ++i) {
    if (quoted && address[i] == '\\' && i + 1 < address.size()) {
      kept += address[i++];
    } else if (address[i] == '"') {
      quoted = !quoted;
    } else if (address[i] == ' ' && !quoted) {
      continue;
    }
    kept += address[i];
  }
  return kept;
}

void WriteMailboxHeader(std::string* out, std::string_view line_end, std::string_view header,
                        const Mailbox& mailbox) {
  HeaderLine line(out, line_end, header);
  std::string name = CleanHeaderText(mailbox.display_name);
  std::string address = DropBlanksOutsideQuotes(CleanHeaderText(mailbox.address));
  std::string_view trimmed = TrimBlanks(name);
  if (trimmed.empty()) {
    line.AddWord(address);
  } else {
    AddDisplayName(line, trimmed);
    line.AddWord("<" + address + ">");
  }
  line.End();
}

// ---------------------------------------------------------------------------
// Subjects.

// An ASCII subject is written as it is when a reader will get exactly it
// back: printable, no blanks at either end (they would be dropped), nothing
// that looks like an encoded-word, and no word too long to fold.
bool CanWriteRaw(std::string_view subject, std::size_t first_room) {
  return IsPrintableAscii(subject) && !LooksEncoded(subject) &&
         HeaderLine::FitsFolded(subject, first_room);
}

void WriteSubjectHeader(std::string* out, std::string_view line_end, std::string_view subject) {
  HeaderLine line(out, line_end, "Subject");
  // A tab may stand in an unstructured header, and survives encoding.
  std::string clean = CleanHeaderText(subject, Controls::kHeaderButTab);
  if (clean.empty()) {
    line.End();
    return;
  }
  if (CanWriteRaw(clean, line.Room())) {
    line.AddFoldableText(clean);
  } else {
    line.AddEncodedText(clean);
  }
  line.End();
}

void WriteSimpleHeader(std::string* out, std::string_view line_end, std::string_view name,
                       std::string_view value) {
  HeaderLine line(out, line_end, name);
  line.AddWord(CleanHeaderText(value));
  line.End();
}

void WriteBase64Body(std::string* out, std::string_view line_end, std::string_view text) {
  // The body keeps its controls (line breaks, tabs) but not malformed bytes,
  // since it is declared as UTF-8.
  std::string encoded = EncodeBase64(SanitizeUtf8(text));
  for (std::size_t i = 0; i < encoded.size(); i += kBase64LineLength) {
    *out += std::string_view(encoded).substr(i, kBase64LineLength);
    *out += line_end;
  }
}

}  // namespace

std::string WriteMessage(const MessageFields& fields, std::string_view line_end) {
  std::string out;
  out.reserve(1024 + fields.text.size() * 4 / 3);
  WriteSimpleHeader(&out, line_end, "Date", fields.date);
  WriteMailboxHeader(&out, line_end, "From", fields.from);
  WriteMailboxHeader(&out, line_end, "To", fields.to);
  WriteSubjectHeader(&out, line_end, fields.subject);
  WriteSimpleHeader(&out, line_end, "Message-ID", "<" + fields.message_id + ">");
  WriteSimpleHeader(&out, line_end, "MIME-Version", "1.0");
  WriteSimpleHeader(&out, line_end, "Content-Type", "text/plain; charset=UTF-8");
  WriteSimpleHeader(&out, line_end, "Content-Transfer-Encoding", "base64");
  out += line_end;
  WriteBase64Body(&out, line_end, fields.text);
  return out;
}

MessageFields FieldsFor(const OutgoingMessage& message, const Mailbox& from,
                        const MessageStamps& stamps) {
  MessageFields fields;
  fields.from = from;
  fields.to = Mailbox{message.recipient_name, message.recipient_address};
  WireAddress(message.recipient_address, &fields.to.address);  // the transports refuse the rest
  fields.subject = message.subject;
  fields.text = message.text;
  fields.date = stamps.date();
  fields.message_id = message.message_key.empty() ? stamps.new_message_id(from.address)
                                                  : MessageIdFor(message.message_key, from.address);
  return fields;
}

}  // namespace pinemail

// Builds the RFC 5322 / MIME text of one outgoing message: its headers,
// non-ASCII text in encoded-words, folded, and its body in base64.
#include "mail/message/message_writer.h"

#include <algorithm>
#include <vector>

#include "mail/message/message_id.h"
#include "text/base64.h"
#include "text/utf8.h"

namespace pinemail {
namespace {

constexpr std::size_t kMaxHeaderLine = 78;
constexpr std::size_t kMaxEncodedWord = 75;
constexpr std::size_t kBase64LineLength = 76;
constexpr std::string_view kEncodedWordOpen = "=?UTF-8?B?";
constexpr std::string_view kEncodedWordClose = "?=";

// ---------------------------------------------------------------------------
// Header text. It must reach the encoder as whole, valid characters, so the
// writer cleans it first and then walks it character by character.

// Splits valid UTF-8 text into its characters (byte ranges).
std::vector<std::string_view> Characters(std::string_view text) {
  std::vector<std::string_view> characters;
  char32_t code_point = 0;
  for (std::size_t pos = 0, length = 0; pos < text.size(); pos += length) {
    length = DecodeCodePoint(text, pos, &code_point);
    characters.push_back(text.substr(pos, length));
  }
  return characters;
}

// Header values: every control (CR and LF above all) becomes a blank, so that
// a value can never end its header line and start a header of its own;
// malformed bytes become U+FFFD, so that encoded-words carry valid UTF-8.
// An unstructured header (the subject) may keep its tabs.
std::string CleanHeaderText(std::string_view text, Controls controls = Controls::kHeader) {
  return BlankControls(SanitizeUtf8(text), controls);
}

// ---------------------------------------------------------------------------
// Encoded-words.

// Length of the encoded-word that carries `byte_count` bytes.
std::size_t EncodedWordLength(std::size_t byte_count) {
  return kEncodedWordOpen.size() + (byte_count + 2) / 3 * 4 + kEncodedWordClose.size();
}

std::string EncodedWord(std::string_view bytes) {
  std::string word(kEncodedWordOpen);
  word += EncodeBase64(bytes);
  word += kEncodedWordClose;
  return word;
}

// Where an encoded-word of at most `length` characters that starts with
// character `first` ends: after as many whole characters as it can carry
// (at least one).
std::size_t WholeCharactersIn(const std::vector<std::string_view>& characters, std::size_t first,
                              std::size_t length) {
  std::size_t bytes = characters[first].size();
  std::size_t end = first + 1;
  while (end < characters.size() && EncodedWordLength(bytes + characters[end].size()) <= length) {
    bytes += characters[end].size();
    ++end;
  }
  return end;
}

// The text of characters [first, end) (contiguous in the original text).
std::string_view Join(const std::vector<std::string_view>& characters, std::size_t first,
                      std::size_t end) {
  const std::string_view& last = characters[end - 1];
  return std::string_view(
      characters[first].data(),
      static_cast<std::size_t>(last.data() + last.size() - characters[first].data()));
}

// ---------------------------------------------------------------------------
// Header lines. A header is written as a sequence of words; between two words
// the writer may fold (CR LF and one blank) so that lines stay within 78.

class HeaderLine {
 public:
  HeaderLine(std::string* out, std::string_view line_end, std::string_view name)
      : out_(out), line_end_(line_end) {
    *out_ += name;
    *out_ += ':';
    column_ = name.size() + 1;
  }

  // Room left for a word that follows a blank on the current line.
  std::size_t Room() const {
    return column_ + 1 < kMaxHeaderLine ? kMaxHeaderLine - column_ - 1 : 0;
  }
  // Room for a word that follows a blank on a fresh continuation line.
  static constexpr std::size_t FreshRoom() { return kMaxHeaderLine - 1; }

  // Appends a blank and `word`, folding first when the word does not fit and
  // a fold would make room.
  void AddWord(std::string_view word) {
    if (word.size() > Room() && can_fold_) Fold();
    *out_ += ' ';
    *out_ += word;
    column_ += 1 + word.size();
    can_fold_ = true;
  }

  // Appends text that begins with its own white space (unstructured text
  // kept as written); folding before it leaves the unfolded value unchanged.
  void AddSpacedRun(std::string_view run) {
    if (column_ + run.size() > kMaxHeaderLine && can_fold_) {
      *out_ += line_end_;
      column_ = 0;
    }
    *out_ += run;
    column_ += run.size();
    can_fold_ = true;
  }

  // Appends `text` as encoded-words of whole characters, each filling the
  // room left on its line (at most 75 characters).
  void AddEncodedText(std::string_view text) {
    std::vector<std::string_view> characters = Characters(text);
    std::size_t next = 0;
    while (next < characters.size()) {
      std::size_t room = std::min(Room(), kMaxEncodedWord);
      if (EncodedWordLength(characters[next].size()) > room) {
        Fold();
        room = std::min(Room(), kMaxEncodedWord);
      }
      std::size_t end = WholeCharactersIn(characters, next, room);
      AddWord(EncodedWord(Join(characters, next, end)));
      next = end;
    }
  }

  // Appends `text` in as few encoded-words as the 75-character limit allows,
  // each as long as whole characters make it, with folds between them.
  void AddFewestEncodedWords(std::string_view text) {
    std::vector<std::string_view> characters = Characters(text);
    for (std::size_t next = 0; next < characters.size();) {
      std::size_t end = WholeCharactersIn(characters, next, kMaxEncodedWord);
      AddWord(EncodedWord(Join(characters, next, end)));
      next = end;
    }
  }

  // Appends text made of words separated by runs of blanks, folding only
  // before a blank of the text, so that unfolding gives the text back.
  // FitsFolded tells whether every piece can stand on a line.
  void AddFoldableText(std::string_view text) {
    std::size_t first_blank = std::min(text.size(), text.find(' '));
    AddWord(text.substr(0, first_blank));
    text.remove_prefix(first_blank);
    while (!text.empty()) {
      std::size_t word = text.find_first_not_of(' ');
      std::size_t end = std::min(text.size(), text.find(' ', word));
      AddSpacedRun(text.substr(0, end));
      text.remove_prefix(end);
    }
  }

  // True when AddFoldableText can write `text` within the line limit: each
  // run of blanks with the word after it fits on a continuation line, and
  // the first word fits in `first_room`.
  static bool FitsFolded(std::string_view text, std::size_t first_room) {
    if (text.empty() || text.front() == ' ' || text.back() == ' ') return false;
    std::size_t limit = first_room;
    std::size_t run_start = 0;
    for (std::size_t i = 1; i <= text.size(); ++i) {
      if (i < text.size() && !(text[i] == ' ' && text[i - 1] != ' ')) continue;
      if (i - run_start > limit) return false;
      limit = kMaxHeaderLine;
      run_start = i;
    }
    return true;
  }

  void End() { *out_ += line_end_; }

 private:
  void Fold() {
    *out_ += line_end_;
    column_ = 0;
    can_fold_ = false;
  }

  std::string* out_;
  std::string_view line_end_;
  std::size_t column_ = 0;
  // False on a fresh continuation line, where folding again gains nothing.
  bool can_fold_ = true;
};

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

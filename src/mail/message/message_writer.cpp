// Builds the RFC 5322 / MIME text of one outgoing message and checks the
// addresses that go into it.
#include "mail/message/message_writer.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <random>
#include <vector>

#include "mail/net/os_support.h"
#include "mail/net/system_random.h"
#include "text/utf8.h"

namespace pinemail {
namespace {

constexpr std::size_t kMaxHeaderLine = 78;
constexpr std::size_t kMaxEncodedWord = 75;
constexpr std::size_t kBase64LineLength = 76;
constexpr std::string_view kEncodedWordOpen = "=?UTF-8?B?";
constexpr std::string_view kEncodedWordClose = "?=";
constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

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
// Base64.

std::string Base64(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    std::uint32_t group = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16 |
                          static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1]))
                              << 8 |
                          static_cast<unsigned char>(bytes[i + 2]);
    out += kBase64Alphabet[group >> 18 & 63];
    out += kBase64Alphabet[group >> 12 & 63];
    out += kBase64Alphabet[group >> 6 & 63];
    out += kBase64Alphabet[group & 63];
  }
  std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    std::uint32_t group = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
    if (rest == 2)
      group |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    out += kBase64Alphabet[group >> 18 & 63];
    out += kBase64Alphabet[group >> 12 & 63];
    out += rest == 2 ? kBase64Alphabet[group >> 6 & 63] : '=';
    out += '=';
  }
  return out;
}

// Length of the encoded-word that carries `byte_count` bytes.
std::size_t EncodedWordLength(std::size_t byte_count) {
  return kEncodedWordOpen.size() + (byte_count + 2) / 3 * 4 + kEncodedWordClose.size();
}

std::string EncodedWord(std::string_view bytes) {
  std::string word(kEncodedWordOpen);
  word += Base64(bytes);
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

bool IsAtomCharacter(char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) != std::string_view::npos;
}

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

std::string QuotedString(std::string_view name) {
  std::string quoted = "\"";
  for (char c : name) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  return quoted;
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

// ---------------------------------------------------------------------------
// Addresses.

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
  std::string encoded = Base64(SanitizeUtf8(text));
  for (std::size_t i = 0; i < encoded.size(); i += kBase64LineLength) {
    *out += std::string_view(encoded).substr(i, kBase64LineLength);
    *out += line_end;
  }
}

// ---------------------------------------------------------------------------
// Dates.

constexpr std::array<std::string_view, 7> kDayNames = {"Sun", "Mon", "Tue", "Wed",
                                                       "Thu", "Fri", "Sat"};
constexpr std::array<std::string_view, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Days since 1970-01-01 of a proleptic Gregorian date (month 1..12).
std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2;
  std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  std::int64_t year_of_era = year - era * 400;
  std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  std::int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

std::int64_t SecondsAsIfUtc(const std::tm& time) {
  return DaysFromCivil(time.tm_year + 1900LL, time.tm_mon + 1, time.tm_mday) * 86400 +
         time.tm_hour * 3600 + time.tm_min * 60 + time.tm_sec;
}

}  // namespace

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

std::string FormatRfc5322Date(const std::tm& local_time, int utc_offset_minutes) {
  char sign = utc_offset_minutes < 0 ? '-' : '+';
  int offset = utc_offset_minutes < 0 ? -utc_offset_minutes : utc_offset_minutes;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02d%02d",
                std::string(kDayNames[static_cast<std::size_t>(local_time.tm_wday) % 7]).c_str(),
                local_time.tm_mday,
                std::string(kMonthNames[static_cast<std::size_t>(local_time.tm_mon) % 12]).c_str(),
                local_time.tm_year + 1900, local_time.tm_hour, local_time.tm_min, local_time.tm_sec,
                sign, offset / 60, offset % 60);
  return text;
}

std::string Rfc5322Date() {
  std::time_t now = std::time(nullptr);
  // Thousands of messages go out per second; the time zone is looked up once
  // per second, not once per message. The program has one thread.
  static std::time_t last_time = -1;
  static std::string last_date;
  if (now == last_time) return last_date;
  // The shared results of localtime and gmtime are copied out at once.
  std::tm local_time = *std::localtime(&now);
  std::tm utc_time = *std::gmtime(&now);
  auto offset_seconds = SecondsAsIfUtc(local_time) - SecondsAsIfUtc(utc_time);
  last_date = FormatRfc5322Date(local_time, static_cast<int>(offset_seconds / 60));
  last_time = now;
  return last_date;
}

std::string MessageIdFor(std::string_view key, std::string_view from_address) {
  std::string id(key);
  id += '@';
  if (IsPlainAddress(from_address)) {
    id += from_address.substr(from_address.find('@') + 1);
  } else {
    id += "pinemail.invalid";
  }
  return id;
}

std::string NewMessageId(std::string_view from_address) {
  static std::uint64_t counter = 0;
  static const std::uint64_t process_random = SystemRandom64();
  static std::mt19937_64 generator(process_random);
  static const unsigned long process_id = CurrentProcessId();

  auto microseconds = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  char left[128];
  std::snprintf(left, sizeof left, "%llx.%lx.%llx.%016llx",
                static_cast<unsigned long long>(microseconds), process_id,
                static_cast<unsigned long long>(++counter),
                static_cast<unsigned long long>(generator()));
  return MessageIdFor(left, from_address);
}

MessageFields FieldsFor(const OutgoingMessage& message, const Mailbox& from) {
  MessageFields fields;
  fields.from = from;
  fields.to = Mailbox{message.recipient_name, message.recipient_address};
  WireAddress(message.recipient_address, &fields.to.address);  // the transports refuse the rest
  fields.subject = message.subject;
  fields.text = message.text;
  fields.date = Rfc5322Date();
  fields.message_id = message.message_key.empty() ? NewMessageId(from.address)
                                                  : MessageIdFor(message.message_key, from.address);
  return fields;
}

std::string EncodeBase64(std::string_view bytes) { return Base64(bytes); }

}  // namespace pinemail

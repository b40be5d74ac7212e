// Fuzzes the message writer with arbitrary recipient names, addresses,
// subjects and texts. Input: name, address, subject and text separated by
// NUL bytes. The headers must hold no raw CR or LF, no line longer than 998
// for an address the transports accept, and decoding the subject and the
// display name must give back what went in, controls turned into blanks (a
// subject keeps its tabs); an encoded name takes as few encoded-words as the
// 75-character limit allows.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "mail/message/mailbox.h"
#include "mail/message/message_writer.h"
#include "text/base64.h"
#include "text/utf8.h"

using pinemail::fuzz::Check;

namespace {

constexpr std::size_t kMaxLine = 998;
constexpr std::size_t kBase64Line = 76;

// One RFC 2047 encoded-word in B encoding, UTF-8 only (the writer's charset).
bool DecodeEncodedWord(std::string_view word, std::string* out) {
  constexpr std::string_view kOpen = "=?UTF-8?B?";
  if (!word.starts_with(kOpen) || !word.ends_with("?=") || word.size() < kOpen.size() + 2) {
    return false;
  }
  Check(word.size() <= 75, "an encoded-word is at most 75 characters", word);
  std::string bytes;
  Check(pinemail::DecodeBase64(word.substr(kOpen.size(), word.size() - kOpen.size() - 2), &bytes),
        "an encoded-word carries valid base64", word);
  Check(pinemail::IsValidUtf8(bytes), "an encoded-word carries whole UTF-8 characters", word);
  *out += bytes;
  return true;
}

// An unstructured header value, unfolded: blanks between two encoded-words
// vanish, every other blank and word stays as written.
std::string DecodeUnstructured(std::string_view value) {
  std::string out;
  std::string pending_blanks;
  bool last_encoded = false;
  bool first = true;
  while (!value.empty()) {
    std::size_t word_start = value.find_first_not_of(' ');
    std::string_view blanks = value.substr(0, word_start);
    if (word_start == std::string_view::npos) {
      out += blanks;
      break;
    }
    value.remove_prefix(word_start);
    std::size_t word_end = value.find(' ');
    std::string_view word = value.substr(0, word_end);
    value.remove_prefix(word.size());
    std::string decoded;
    bool encoded = DecodeEncodedWord(word, &decoded);
    if (!(encoded && last_encoded) && !first) out += blanks;
    if (first && !blanks.empty() && !encoded) out += blanks;
    out += encoded ? decoded : std::string(word);
    last_encoded = encoded;
    first = false;
  }
  return out;
}

// What the writer promises for header text: controls become blanks (but for
// tabs where `keep_tabs`). Only checked for valid UTF-8; malformed input must
// still come out valid.
std::string ControlsToBlanks(std::string_view text, bool keep_tabs = false) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    char32_t code_point = 0;
    std::size_t length = pinemail::DecodeCodePoint(text, i, &code_point);
    if (keep_tabs && code_point == '\t') {
      out += '\t';
    } else if (code_point < 0x20 || (code_point >= 0x7F && code_point <= 0x9F)) {
      out += ' ';
    } else {
      out.append(text.substr(i, length));
    }
    i += length;
  }
  return out;
}

// How many encoded-words of at most 75 characters (45 bytes of UTF-8) a text
// needs when each takes as many whole characters as fit.
std::size_t FewestEncodedWords(std::string_view text) {
  constexpr std::size_t kBytesPerWord = 45;
  std::size_t words = 0;
  std::size_t bytes = kBytesPerWord;
  for (std::size_t i = 0; i < text.size();) {
    char32_t code_point = 0;
    std::size_t length = pinemail::DecodeCodePoint(text, i, &code_point);
    if (bytes + length > kBytesPerWord) {
      ++words;
      bytes = 0;
    }
    bytes += length;
    i += length;
  }
  return words;
}

std::size_t CountEncodedWords(std::string_view value) {
  std::size_t count = 0;
  for (std::size_t at = value.find("=?UTF-8?B?"); at != std::string_view::npos;
       at = value.find("=?UTF-8?B?", at + 1)) {
    ++count;
  }
  return count;
}

std::string_view TrimSpaces(std::string_view text) {
  constexpr std::string_view kIdeographicSpace = "\xE3\x80\x80";
  for (;;) {
    if (text.starts_with(' ')) {
      text.remove_prefix(1);
    } else if (text.starts_with(kIdeographicSpace)) {
      text.remove_prefix(kIdeographicSpace.size());
    } else if (text.ends_with(' ')) {
      text.remove_suffix(1);
    } else if (text.ends_with(kIdeographicSpace)) {
      text.remove_suffix(kIdeographicSpace.size());
    } else {
      return text;
    }
  }
}

struct Header {
  std::string name;
  std::string value;  // unfolded: the line ends removed
};

std::vector<Header> ParseHeaders(std::string_view head, bool check_length) {
  std::vector<Header> headers;
  while (!head.empty()) {
    std::size_t end = head.find("\r\n");
    Check(end != std::string_view::npos, "every header line ends in CR LF", head);
    std::string_view line = head.substr(0, end);
    head.remove_prefix(end + 2);
    Check(line.find_first_of("\r\n") == std::string_view::npos, "no raw CR or LF in a header",
          line);
    if (check_length) Check(line.size() <= kMaxLine, "header lines are at most 998", line);
    Check(!line.empty(), "no empty line inside the header", line);
    if (line.front() == ' ' || line.front() == '\t') {
      Check(!headers.empty(), "a continuation follows a header", line);
      Check(line.find_first_not_of(" \t") != std::string_view::npos,
            "a continuation line is not blank", line);
      headers.back().value += line;
      continue;
    }
    std::size_t colon = line.find(':');
    Check(colon != std::string_view::npos && colon > 0, "a header line has a name", line);
    headers.push_back({std::string(line.substr(0, colon)), std::string(line.substr(colon + 1))});
  }
  return headers;
}

std::string DecodeDisplayName(std::string_view phrase) {
  if (phrase.starts_with('"')) {
    Check(phrase.size() >= 2 && phrase.back() == '"', "a quoted name is closed", phrase);
    std::string out;
    for (std::size_t i = 1; i + 1 < phrase.size(); ++i) {
      if (phrase[i] == '\\') ++i;
      out += phrase[i];
    }
    return out;
  }
  return DecodeUnstructured(phrase);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto fields = pinemail::fuzz::SplitFields(pinemail::fuzz::AsText(data, size), '\0', 4);
  pinemail::MessageFields message;
  message.from = {"差出人", "sender@example.jp"};
  message.to = {std::string(fields[0]), std::string(fields[1])};
  message.subject = std::string(fields[2]);
  message.text = std::string(fields[3]);
  message.date = "Fri, 01 Jan 2027 00:00:05 +0900";
  message.message_id = "1.2.3@example.jp";

  const std::string whole = pinemail::WriteMessage(message);
  std::size_t split = whole.find("\r\n\r\n");
  Check(split != std::string::npos, "headers end in an empty line", whole);
  // The transports refuse addresses that are not plain before writing, so
  // the line limit is owed only for those.
  const bool plain = pinemail::IsPlainAddress(message.to.address);
  auto headers = ParseHeaders(std::string_view(whole).substr(0, split + 2), plain);

  const std::vector<std::string_view> kOrder = {
      "Date",       "From",         "To",           "Subject",
      "Message-ID", "MIME-Version", "Content-Type", "Content-Transfer-Encoding"};
  Check(headers.size() == kOrder.size(), "eight headers", whole.substr(0, split));
  for (std::size_t i = 0; i < kOrder.size(); ++i) {
    Check(headers[i].name == kOrder[i], "headers in their order", headers[i].name);
  }

  const bool subject_valid = pinemail::IsValidUtf8(message.subject);
  std::string subject = headers[3].value;
  if (!subject.empty()) {
    Check(subject.front() == ' ', "a blank after Subject:", subject);
    subject.erase(0, 1);
  }
  std::string decoded_subject = DecodeUnstructured(subject);
  Check(pinemail::IsValidUtf8(decoded_subject), "the subject decodes to UTF-8", subject);
  if (subject_valid) {
    Check(decoded_subject == ControlsToBlanks(message.subject, true), "the subject decodes back",
          decoded_subject + "|" + message.subject);
  }

  if (plain && pinemail::IsValidUtf8(message.to.display_name)) {
    const std::string& to = headers[2].value;
    const std::string name(TrimSpaces(ControlsToBlanks(message.to.display_name)));
    if (name.empty()) {
      Check(to == " " + message.to.address, "a bare address without a name", to);
    } else {
      const std::string suffix = " <" + message.to.address + ">";
      Check(to.size() > suffix.size() + 1 && to.front() == ' ' && to.ends_with(suffix),
            "the name, then the address in angle brackets", to);
      std::string_view phrase = std::string_view(to).substr(1, to.size() - 1 - suffix.size());
      std::string decoded = DecodeDisplayName(phrase);
      Check(decoded == name, "the display name decodes back", decoded + "|" + name);
      const std::size_t words = CountEncodedWords(phrase);
      Check(words == 0 || words == FewestEncodedWords(name),
            "an encoded name takes as few encoded-words as the limit allows", to);
    }
  }

  // The body: base64 lines of at most 76 that decode to the text.
  std::string_view body = std::string_view(whole).substr(split + 4);
  std::string encoded;
  while (!body.empty()) {
    std::size_t end = body.find("\r\n");
    Check(end != std::string_view::npos, "body lines end in CR LF", body);
    Check(end > 0 && end <= kBase64Line, "base64 lines of 1 to 76 characters", body.substr(0, end));
    encoded += body.substr(0, end);
    body.remove_prefix(end + 2);
  }
  std::string text;
  Check(pinemail::DecodeBase64(encoded, &text), "the body is valid base64", encoded);
  Check(pinemail::IsValidUtf8(text), "the body decodes to UTF-8", text);
  if (pinemail::IsValidUtf8(message.text)) {
    Check(text == message.text, "the body decodes back", text);
  }
  return 0;
}

// Builds header lines: words, folds, and encoded-words cut between whole
// characters. Header text must reach the encoder as whole, valid characters,
// so the writer cleans it first and the line walks it character by character.
#include "mail/message/header_line.h"

#include <algorithm>
#include <vector>

#include "text/base64.h"
#include "text/utf8.h"

namespace pinemail {
namespace {

constexpr std::size_t kMaxEncodedWord = 75;
constexpr std::string_view kEncodedWordOpen = "=?UTF-8?B?";
constexpr std::string_view kEncodedWordClose = "?=";

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

}  // namespace

HeaderLine::HeaderLine(std::string* out, std::string_view line_end, std::string_view name)
    : out_(out), line_end_(line_end) {
  *out_ += name;
  *out_ += ':';
  column_ = name.size() + 1;
}

std::size_t HeaderLine::Room() const {
  return column_ + 1 < kMaxHeaderLine ? kMaxHeaderLine - column_ - 1 : 0;
}

void HeaderLine::AddWord(std::string_view word) {
  if (word.size() > Room() && can_fold_) Fold();
  *out_ += ' ';
  *out_ += word;
  column_ += 1 + word.size();
  can_fold_ = true;
}

void HeaderLine::AddSpacedRun(std::string_view run) {
  if (column_ + run.size() > kMaxHeaderLine && can_fold_) {
    *out_ += line_end_;
    column_ = 0;
  }
  *out_ += run;
  column_ += run.size();
  can_fold_ = true;
}

void HeaderLine::AddEncodedText(std::string_view text) {
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

void HeaderLine::AddFewestEncodedWords(std::string_view text) {
  std::vector<std::string_view> characters = Characters(text);
  for (std::size_t next = 0; next < characters.size();) {
    std::size_t end = WholeCharactersIn(characters, next, kMaxEncodedWord);
    AddWord(EncodedWord(Join(characters, next, end)));
    next = end;
  }
}

void HeaderLine::AddFoldableText(std::string_view text) {
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

bool HeaderLine::FitsFolded(std::string_view text, std::size_t first_room) {
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

void HeaderLine::End() { *out_ += line_end_; }

void HeaderLine::Fold() {
  *out_ += line_end_;
  column_ = 0;
  can_fold_ = false;
}

}  // namespace pinemail

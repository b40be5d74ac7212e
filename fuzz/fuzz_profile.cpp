// Fuzzes the POSIX profile file reader and writer on arbitrary file bytes.
// Input: the section name, a line feed, the key, a line feed, the value, a
// line feed, then the file's bytes. Reads and writes must not crash; after a
// write, a read gives the value back whenever a profile file can hold it,
// and the other keys of the section keep their values. (The fuzzer runs
// under a UTF-8 code page: a file with a byte-order mark stores text, and
// gives back the value it was given only when that is UTF-8.)
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "config/ini_file.h"
#include "fuzz/fuzz_support.h"
#include "text/utf8.h"

using pinemail::fuzz::Check;

namespace {

bool IsGap(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A'; }

std::string_view TrimGaps(std::string_view text) {
  while (!text.empty() && IsGap(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsGap(text.back())) text.remove_suffix(1);
  return text;
}

bool HasLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  a = TrimGaps(a);
  b = TrimGaps(b);
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool StartsWithByteOrderMark(std::string_view content) {
  return content.starts_with("\xEF\xBB\xBF") || content.starts_with("\xFF\xFE") ||
         content.starts_with("\xFE\xFF");
}

// A value that a profile file gives back as written: the reader drops the
// gaps around it and one pair of enclosing quotes, and returns 510 bytes; a
// file of text gives back text.
bool ReadsBackUnchanged(std::string_view value, std::string_view content) {
  if (HasLineBreakOrNul(value) || TrimGaps(value) != value) return false;
  if (StartsWithByteOrderMark(content) && !pinemail::IsValidUtf8(value)) return false;
  if (value.size() > pinemail::kMaxProfileValueBytes) return false;
  bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                value.back() == value.front();
  return !quoted;
}

bool IsStorable(std::string_view section, std::string_view key, std::string_view value) {
  std::string_view s = TrimGaps(section);
  std::string_view k = TrimGaps(key);
  return !s.empty() && !k.empty() && !HasLineBreakOrNul(s) && !HasLineBreakOrNul(k) &&
         !HasLineBreakOrNul(value) && k.find('=') == std::string_view::npos && k.front() != '[' &&
         k.front() != ';';
}

constexpr std::array<std::string_view, 5> kOtherKeys = {"User Name", "Password", "Subst Key Word",
                                                        "From", "Mail Server"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string scratch = pinemail::fuzz::ScratchFile("pinemail.ini");
  auto fields = pinemail::fuzz::SplitFields(pinemail::fuzz::AsText(data, size), '\n', 4);
  std::string_view section = fields[0];
  std::string_view key = fields[1];
  std::string_view value = fields[2];
  std::string_view content = fields[3];

  std::FILE* file = std::fopen(scratch.c_str(), "wb");
  Check(file != nullptr, "scratch file");
  std::fwrite(content.data(), 1, content.size(), file);
  std::fclose(file);

  pinemail::IniFileProfile profile(scratch);
  std::array<std::string, kOtherKeys.size()> before;
  for (std::size_t i = 0; i < kOtherKeys.size(); ++i) {
    before[i] = profile.Read(section, kOtherKeys[i]);
    Check(before[i].size() <= pinemail::kMaxProfileValueBytes, "a value is at most 510 bytes",
          before[i]);
  }
  (void)profile.Read(section, key);

  bool written = profile.Write(section, key, value);
  if (!IsStorable(section, key, value)) return 0;
  Check(written, "a storable key and value are written",
        std::string(section) + "|" + std::string(key) + "|" + std::string(value));
  std::string read_back = profile.Read(section, key);
  if (ReadsBackUnchanged(value, content)) {
    Check(read_back == value, "the written value reads back", read_back + "|" + std::string(value));
  }
  for (std::size_t i = 0; i < kOtherKeys.size(); ++i) {
    if (SameNameIgnoringCase(kOtherKeys[i], key)) continue;
    Check(profile.Read(section, kOtherKeys[i]) == before[i], "other keys keep their values",
          kOtherKeys[i]);
  }
  return 0;
}

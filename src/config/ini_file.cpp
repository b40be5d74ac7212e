// Reads and rewrites profile (INI) files byte by byte, so that settings files
// made on Windows (Shift-JIS, CR LF) keep every byte that is not changed;
// files saved as Unicode are read and rewritten as text in their encoding.
#include "config/ini_file.h"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>

#include "config/settings.h"
#include "text/ascii.h"
#include "text/codepage.h"
#include "text/file_io.h"
#include "text/system_random.h"
#include "text/utf8.h"

namespace pinemail {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kLineEnd = "\r\n";
constexpr int kTemporaryAttempts = 10;

// Blanks and tabs, plus the rarer controls that the system's profile reader
// also drops around names and values (vertical tab, form feed, and the old
// end-of-file mark 0x1A).
bool IsGap(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A'; }

std::string_view TrimGaps(std::string_view text) {
  while (!text.empty() && IsGap(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsGap(text.back())) text.remove_suffix(1);
  return text;
}

bool SameName(std::string_view a, std::string_view b) {
  return EqualsNoCase(TrimGaps(a), TrimGaps(b));
}

// One line of the file: its text [begin, end) and where the next one starts.
// CR LF, a lone CR and a lone LF all end a line.
struct LineSpan {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::size_t next = 0;
  bool HasTerminator() const { return next > end; }
};

bool NextLine(std::string_view content, std::size_t pos, LineSpan* line) {
  if (pos >= content.size()) return false;
  std::size_t end = content.find_first_of("\r\n", pos);
  if (end == std::string_view::npos) end = content.size();
  std::size_t next = end;
  if (next < content.size()) next += content.compare(next, 2, "\r\n") == 0 ? 2 : 1;
  *line = LineSpan{pos, end, next};
  return true;
}

enum class LineKind { kBlank, kComment, kSection, kKey, kOther };

struct ParsedLine {
  LineKind kind = LineKind::kBlank;
  std::string_view name;
  std::string_view value;
};

ParsedLine ParseLine(std::string_view text) {
  ParsedLine parsed;
  text = TrimGaps(text);
  if (text.empty()) return parsed;
  if (text.front() == ';') {
    parsed.kind = LineKind::kComment;
    return parsed;
  }
  if (text.front() == '[') {
    std::size_t close = text.rfind(']');
    if (close != std::string_view::npos && close > 0) {
      parsed.kind = LineKind::kSection;
      parsed.name = TrimGaps(text.substr(1, close - 1));
      return parsed;
    }
  }
  std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) {
    parsed.kind = LineKind::kOther;
    return parsed;
  }
  parsed.kind = LineKind::kKey;
  parsed.name = TrimGaps(text.substr(0, equals));
  parsed.value = TrimGaps(text.substr(equals + 1));
  return parsed;
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

std::string_view CutValue(std::string_view value, std::size_t limit) {
  if (value.size() <= limit) return value;
  std::size_t cut = 0;
  if (IsValidUtf8(value)) {
    cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80) --cut;
  } else {
    for (std::size_t i = 0; i < value.size();) {
      std::size_t width = IsCp932LeadByte(static_cast<unsigned char>(value[i])) ? 2 : 1;
      if (i + width > limit) break;
      i += width;
      cut = i;
    }
  }
  return value.substr(0, cut);
}

bool IsStorableName(std::string_view name) {
  name = TrimGaps(name);
  return !name.empty() &&
         name.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

bool IsStorableKey(std::string_view key) {
  key = TrimGaps(key);
  return IsStorableName(key) && key.find('=') == std::string_view::npos && key.front() != '[' &&
         key.front() != ';';
}

enum class ReadResult { kRead, kMissing, kFailed };

ReadResult ReadWholeFile(const std::string& path, std::string* content) {
  content->clear();
  File file = OpenFile(path, "rb", nullptr);
  if (!file) {
    std::error_code ec;
    return std::filesystem::exists(PathFromUtf8(path), ec) || ec ? ReadResult::kFailed
                                                                 : ReadResult::kMissing;
  }
  char chunk[65536];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) content->append(chunk, got);
  const bool failed = std::ferror(file.get()) != 0;
  return failed ? ReadResult::kFailed : ReadResult::kRead;
}

// True when the settings in `content` hold a secret: a password or a
// refresh token.
bool HoldsSecret(std::string_view content) {
  return !LookupProfileValue(content, kConfigSection, kPasswordKey).empty() ||
         !LookupProfileValue(content, kConfigSection, kRefreshTokenKey).empty();
}

// Writes beside the target and renames over it, so that a crash leaves the
// old file or the new one, never half of one. The new file has the old one's
// owner and permissions before the first byte goes in, narrowed to its owner
// when it holds a secret (a file once readable by others is mended the next
// time it is written).
bool ReplaceFile(const std::string& path, std::string_view content, bool had_file) {
  const FileAccess access = HoldsSecret(content) ? FileAccess::kOwnerOnly : FileAccess::kLikeModel;
  // A name of its own, so that two runs started at the same moment never
  // write into the same temporary file.
  std::string temporary;
  CreatedFile created;
  for (int attempt = 0; attempt < kTemporaryAttempts && created.status != CreateStatus::kCreated;
       ++attempt) {
    temporary = path + "." + std::to_string(SystemRandom64()) + ".new";
    created = CreateNewFile(temporary, had_file ? path : std::string(), access);
    if (created.status == CreateStatus::kFailed) return false;
  }
  if (created.status != CreateStatus::kCreated) return false;
  std::FILE* file = created.file.get();
  bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
  written = std::fflush(file) == 0 && written;
  written = CloseFile(std::move(created.file)) && written;
  if (written && RenameFile(temporary, path, nullptr)) return true;
  std::error_code ec;
  std::filesystem::remove(PathFromUtf8(temporary), ec);
  return false;
}

// A settings file reached through a symlink stays a symlink: the target is
// rewritten instead.
std::string WriteTarget(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_symlink(PathFromUtf8(path), ec)) return path;
  auto target = std::filesystem::weakly_canonical(PathFromUtf8(path), ec);
  if (ec) return path;
  return Utf8FromPath(target);
}

// The value of `key` in the first section named `section` of a file's text,
// before any NUL and without one pair of enclosing quotes; nullopt when the
// key is not there.
std::optional<std::string_view> FindValue(std::string_view text, std::string_view section,
                                          std::string_view key) {
  if (TrimGaps(section).empty() || TrimGaps(key).empty()) return std::nullopt;
  bool in_section = false;
  LineSpan line;
  for (std::size_t pos = 0; NextLine(text, pos, &line); pos = line.next) {
    ParsedLine parsed = ParseLine(text.substr(line.begin, line.end - line.begin));
    if (parsed.kind == LineKind::kSection) {
      // Only the first section of a name is searched.
      if (in_section) break;
      in_section = SameName(parsed.name, section);
    } else if (in_section && parsed.kind == LineKind::kKey && SameName(parsed.name, key)) {
      std::string_view value = Unquote(parsed.value);
      return value.substr(0, value.find('\0'));
    }
  }
  return std::nullopt;
}

// UpdateProfileContent over a file's text (after any byte-order mark).
// Where a key goes in a file's text: the line that holds it now, else the
// line of its section after which it is added (the header or the last key).
struct KeyPlace {
  bool found_key = false;
  bool found_section = false;
  LineSpan line;          // the key's line, or the one to add it after
  std::string_view name;  // the key as the file spells it, when found
};

KeyPlace FindKeyPlace(std::string_view content, std::string_view section, std::string_view key) {
  KeyPlace place;
  bool in_section = false;
  LineSpan line;
  for (std::size_t pos = 0; NextLine(content, pos, &line); pos = line.next) {
    ParsedLine parsed = ParseLine(content.substr(line.begin, line.end - line.begin));
    if (parsed.kind == LineKind::kSection) {
      if (in_section) break;
      in_section = SameName(parsed.name, section);
      if (in_section) {
        place.found_section = true;
        place.line = line;
      }
    } else if (in_section && parsed.kind == LineKind::kKey) {
      place.line = line;
      if (SameName(parsed.name, key)) {
        place.found_key = true;
        place.name = parsed.name;
        return place;
      }
    }
  }
  return place;
}

bool UpdateText(std::string_view content, std::string_view section, std::string_view key,
                std::string_view value, std::string* updated) {
  if (!IsStorableName(section) || !IsStorableKey(key) ||
      value.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
    return false;
  }
  section = TrimGaps(section);
  key = TrimGaps(key);
  // Like the system's writer, only leading blanks go; trailing ones are
  // dropped again by every reader.
  while (!value.empty() && IsGap(value.front())) value.remove_prefix(1);

  const KeyPlace place = FindKeyPlace(content, section, key);
  std::string result;
  if (place.found_key) {
    // The key keeps the file's spelling; only this line changes.
    result.assign(content.substr(0, place.line.begin));
    result.append(place.name).append("=").append(value);
    result.append(content.substr(place.line.end));
  } else {
    const std::string key_line =
        std::string(key) + "=" + std::string(value) + std::string(kLineEnd);
    if (place.found_section) {
      result.assign(content.substr(0, place.line.next));
      if (!place.line.HasTerminator()) result += kLineEnd;
      result += key_line;
      result.append(content.substr(place.line.next));
    } else {
      result.assign(content);
      if (!result.empty() && result.back() != '\n' && result.back() != '\r') result += kLineEnd;
      result.append("[").append(section).append("]").append(kLineEnd);
      result += key_line;
    }
  }
  *updated = std::move(result);
  return true;
}

// A settings file saved as Unicode (a byte-order mark: UTF-8, UTF-16 LE or
// BE) is text, as the system's profile functions read it: they look names
// up in the text, hand values over in the code page, and write into the file
// in its own encoding. A file without a mark is the code page's bytes.
struct UnicodeFile {
  ByteOrderMark mark;
  std::string text;  // UTF-8, without the mark
};

UnicodeFile ReadUnicodeFile(std::string_view content) {
  UnicodeFile file{FindByteOrderMark(content), {}};
  content.remove_prefix(file.mark.size);
  switch (file.mark.encoding) {
    case TextEncoding::kUtf16Le:
      AppendUtf16AsUtf8(content, ByteOrder::kLittleEndian, true, file.text);
      break;
    case TextEncoding::kUtf16Be:
      AppendUtf16AsUtf8(content, ByteOrder::kBigEndian, true, file.text);
      break;
    default:
      file.text = content;  // UTF-8 kept byte for byte, for the rewrite
  }
  return file;
}

std::string WriteUnicodeFile(const ByteOrderMark& mark, std::string_view text) {
  switch (mark.encoding) {
    case TextEncoding::kUtf16Le:
      return "\xFF\xFE" + Utf8ToUtf16(text, ByteOrder::kLittleEndian);
    case TextEncoding::kUtf16Be:
      return "\xFE\xFF" + Utf8ToUtf16(text, ByteOrder::kBigEndian);
    default:
      return std::string(kUtf8Bom) + std::string(text);
  }
}

// A value of a Unicode file in the code page, cut to 510 bytes before the
// first character that does not fit whole.
std::string CutToCodePage(std::string_view utf8, std::size_t limit) {
  std::string bytes = EncodeSystemText(utf8);
  if (bytes.size() <= limit) return bytes;
  bytes.clear();
  char32_t code_point = 0;
  for (std::size_t pos = 0, length = 0; pos < utf8.size(); pos += length) {
    length = DecodeCodePoint(utf8, pos, &code_point);
    std::string character = EncodeSystemText(utf8.substr(pos, length));
    if (bytes.size() + character.size() > limit) break;
    bytes += character;
  }
  return bytes;
}

}  // namespace

std::string_view CutProfileValue(std::string_view value) {
  return CutValue(value, kMaxProfileValueBytes);
}

std::string LookupProfileValue(std::string_view content, std::string_view section,
                               std::string_view key, std::size_t limit) {
  const UnicodeFile unicode = ReadUnicodeFile(content);
  if (unicode.mark.size == 0) {
    return std::string(CutValue(FindValue(content, section, key).value_or(""), limit));
  }
  std::optional<std::string_view> value =
      FindValue(unicode.text, DecodeSystemText(section), DecodeSystemText(key));
  return value ? CutToCodePage(*value, limit) : std::string();
}

bool UpdateProfileContent(std::string_view content, std::string_view section, std::string_view key,
                          std::string_view value, std::string* updated) {
  const UnicodeFile unicode = ReadUnicodeFile(content);
  if (unicode.mark.size == 0) return UpdateText(content, section, key, value, updated);
  std::string text;
  if (!UpdateText(unicode.text, DecodeSystemText(section), DecodeSystemText(key),
                  DecodeSystemText(value), &text)) {
    return false;
  }
  *updated = WriteUnicodeFile(unicode.mark, text);
  return true;
}

std::string IniFileProfile::Read(std::string_view section, std::string_view key) const {
  std::string content;
  if (ReadWholeFile(path_, &content) != ReadResult::kRead) return {};
  return LookupProfileValue(content, section, key);
}

TextEncoding IniFileProfile::ValueEncoding() const {
  if (!SystemCodePageIsUtf8()) return TextEncoding::kSystem;
  std::string content;
  if (ReadWholeFile(path_, &content) != ReadResult::kRead) return TextEncoding::kSystem;
  if (FindByteOrderMark(content).size != 0 || IsValidUtf8(content)) return TextEncoding::kSystem;
  return TextEncoding::kCp932;
}

std::string IniFileProfile::ReadLong(std::string_view section, std::string_view key) const {
  std::string content;
  if (ReadWholeFile(path_, &content) != ReadResult::kRead) return {};
  return LookupProfileValue(content, section, key, kMaxLongProfileValueBytes);
}

bool IniFileProfile::Write(std::string_view section, std::string_view key, std::string_view value) {
  std::string target = WriteTarget(path_);
  std::string content;
  ReadResult read = ReadWholeFile(target, &content);
  // A file that exists but cannot be read must not be replaced by one that
  // holds only the new key.
  if (read == ReadResult::kFailed) return false;
  std::string updated;
  if (!UpdateProfileContent(content, section, key, value, &updated)) return false;
  if (read == ReadResult::kRead && updated == content) return true;
  return ReplaceFile(target, updated, read == ReadResult::kRead);
}

}  // namespace pinemail

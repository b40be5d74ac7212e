// The project's own profile (INI) file reader and writer, for platforms
// without a profile service; it behaves like Windows' profile functions.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "config/profile.h"

namespace pinemail {

// The longest value a lookup returns, in bytes (a 511-byte buffer less its NUL).
inline constexpr std::size_t kMaxProfileValueBytes = 510;

// The longest prefix of `value` of at most 510 bytes that ends on a
// character boundary: UTF-8 when the whole value is valid UTF-8, else CP932.
std::string_view CutProfileValue(std::string_view value);

// The value of `key` in the first section named `section` of a profile
// file's bytes. Names match case-insensitively (ASCII) and without the blanks
// and tabs around them; the value loses its blanks and tabs and one pair of
// enclosing quotes, ends before any NUL and is cut to at most 510 bytes,
// never inside a double-byte character. Empty when not found. A file that
// starts with a byte-order mark (UTF-8, UTF-16 LE or BE) is read as that
// text: names are matched in it and the value is handed over in the
// system's code page (as the system's profile reader does), cut before the
// first character that does not fit whole in the 510 bytes.
// `limit` replaces the 510 bytes for Profile::ReadLong.
std::string LookupProfileValue(std::string_view content, std::string_view section,
                               std::string_view key, std::size_t limit = kMaxProfileValueBytes);

// The file's bytes after setting `key`=`value` in `section`: an existing
// key's line is replaced in place, a missing key is added after its
// section's last key, a missing section is appended; every other byte stays.
// The value loses its leading blanks and tabs. In a file with a byte-order
// mark, names and value (system code page) are written in the file's
// encoding, which it keeps.
// False (and `updated` untouched) when a name or the value cannot be stored
// in a profile file (empty name, line breaks, NUL, "=" in the key).
bool UpdateProfileContent(std::string_view content, std::string_view section, std::string_view key,
                          std::string_view value, std::string* updated);

// A profile file on disk, read whole on every lookup and replaced atomically
// (temporary file, then rename) on every write.
class IniFileProfile : public Profile {
 public:
  explicit IniFileProfile(std::string path) : path_(std::move(path)) {}

  std::string Read(std::string_view section, std::string_view key) const override;
  std::string ReadLong(std::string_view section, std::string_view key) const override;
  bool Write(std::string_view section, std::string_view key, std::string_view value) override;
  // Under a UTF-8 code page, a file without a byte-order mark that is not
  // valid UTF-8 as a whole was made on Japanese Windows: CP932. (Two
  // half-width katakana can be valid UTF-8, a Cyrillic letter.)
  TextEncoding ValueEncoding() const override;

 private:
  std::string path_;
};

}  // namespace pinemail

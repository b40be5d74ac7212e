// Profile (INI) files: the interface the settings are read through, and the
// platform's implementation.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "text/codepage.h"

namespace pinemail {

// The longest value ReadLong hands over, in bytes.
inline constexpr std::size_t kMaxLongProfileValueBytes = 16 * 1024;

// Key lookups in one profile file. Names and values are the file's bytes
// (system code page); callers decode them.
class Profile {
 public:
  virtual ~Profile() = default;

  // The value of `key` in `section` as the platform's profile reader returns
  // it with a 511-byte buffer: at most 510 bytes, blanks and one pair of
  // enclosing quotes removed. Empty when the file, section or key is missing.
  virtual std::string Read(std::string_view section, std::string_view key) const = 0;

  // The value of `key` as Read finds it, but up to kMaxLongProfileValueBytes:
  // for values the program writes itself (a refresh token), which may be
  // longer than 510 bytes.
  virtual std::string ReadLong(std::string_view section, std::string_view key) const {
    return Read(section, key);
  }

  // Writes `key`=`value` in `section`, creating the file and the section when
  // missing and replacing an existing key's line. False when it failed.
  virtual bool Write(std::string_view section, std::string_view key, std::string_view value) = 0;

  // How the values are to be decoded: kCp932 for a file that must be CP932
  // as a whole, so that no value is taken for UTF-8 by chance; otherwise
  // kSystem.
  virtual TextEncoding ValueEncoding() const { return TextEncoding::kSystem; }
};

// The platform's profile functions on the file at `path` (UTF-8): Windows'
// GetPrivateProfileStringA / WritePrivateProfileStringA, or on POSIX the
// project's own reader and writer with the same observable behaviour.
std::unique_ptr<Profile> OpenProfile(const std::string& path);

}  // namespace pinemail

// Profile files on Windows: the system's own profile functions.
#include <windows.h>

#include <cstring>
#include <memory>
#include <vector>

#include "config/ini_file.h"
#include "config/profile.h"
#include "text/wide_win32.h"

namespace pinemail {

namespace {

constexpr DWORD kBufferSize = 511;

class Win32Profile : public Profile {
 public:
  explicit Win32Profile(const std::string& path) : wide_path_(Utf8ToWide(path)) {
    has_ansi_path_ = WideToAnsi(wide_path_, &ansi_path_);
  }

  std::string Read(std::string_view section, std::string_view key) const override {
    return ReadWith(section, key, kBufferSize);
  }

  std::string ReadLong(std::string_view section, std::string_view key) const override {
    return ReadWith(section, key, static_cast<DWORD>(kMaxLongProfileValueBytes + 1));
  }

  bool Write(std::string_view section, std::string_view key, std::string_view value) override {
    std::string section_text(section);
    std::string key_text(key);
    std::string value_text(value);
    if (has_ansi_path_) {
      return WritePrivateProfileStringA(section_text.c_str(), key_text.c_str(), value_text.c_str(),
                                        ansi_path_.c_str()) != FALSE;
    }
    return WritePrivateProfileStringW(AnsiToWide(section_text).c_str(),
                                      AnsiToWide(key_text).c_str(), AnsiToWide(value_text).c_str(),
                                      wide_path_.c_str()) != FALSE;
  }

 private:
  // The value as the system's reader gives it into a buffer of `size`
  // characters (the last one its NUL).
  std::string ReadWith(std::string_view section, std::string_view key, DWORD size) const {
    std::string section_text(section);
    std::string key_text(key);
    if (has_ansi_path_) {
      std::vector<char> buffer(size + 1);
      DWORD copied = GetPrivateProfileStringA(section_text.c_str(), key_text.c_str(), "",
                                              buffer.data(), size, ansi_path_.c_str());
      if (copied == 0) return {};
      return std::string(buffer.data(), strnlen(buffer.data(), copied));
    }
    // A folder name the ANSI code page cannot spell: the wide functions reach
    // the same file, and the value comes back in the code page all the same.
    std::vector<wchar_t> buffer(size + 1);
    DWORD copied =
        GetPrivateProfileStringW(AnsiToWide(section_text).c_str(), AnsiToWide(key_text).c_str(),
                                 L"", buffer.data(), size, wide_path_.c_str());
    if (copied == 0) return {};
    std::string ansi;
    WideToAnsi(std::wstring_view(buffer.data(), wcsnlen(buffer.data(), copied)), &ansi);
    return size == kBufferSize ? std::string(CutProfileValue(ansi)) : ansi;
  }

  std::wstring wide_path_;
  std::string ansi_path_;
  bool has_ansi_path_ = false;
};

}  // namespace

std::unique_ptr<Profile> OpenProfile(const std::string& path) {
  return std::make_unique<Win32Profile>(path);
}

}  // namespace pinemail

// Helpers shared by the unit tests: scratch folders and whole-file I/O.
#pragma once

#include <string>
#include <string_view>

namespace pinemail::testing {

// A fresh empty folder under the system's temporary folder, removed with its
// contents when the object goes. `path()` ends in the native separator.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  // path() + name.
  std::string operator/(std::string_view name) const { return path_ + std::string(name); }

 private:
  std::string path_;
};

// Writes `bytes` to `path` (UTF-8 path), replacing the file.
void WriteBytes(const std::string& path, std::string_view bytes);

// The whole content of `path`; empty when it cannot be read.
std::string ReadBytes(const std::string& path);

// True when `path` exists (file or folder).
bool PathExists(const std::string& path);

}  // namespace pinemail::testing

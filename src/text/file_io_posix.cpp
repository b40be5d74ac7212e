// Files by UTF-8 path on POSIX, where paths are bytes and UTF-8 is taken
// as it is.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "text/codepage.h"
#include "text/file_io.h"

namespace pinemail {

namespace {

// The system's reason for `error`, in UTF-8 (strerror speaks the locale's
// character set).
void StoreReason(int error, std::string* reason) {
  if (reason != nullptr) *reason = DecodeSystemText(std::strerror(error));
}

}  // namespace

std::FILE* OpenFile(const std::string& path, const char* mode, std::string* reason) {
  // "e": close on exec, so that the programs a transport runs inherit
  // neither the list nor the log.
  std::string mode_e(mode);
  mode_e += 'e';
  std::FILE* file = std::fopen(path.c_str(), mode_e.c_str());
  if (file == nullptr) {
    StoreReason(errno, reason);
    return nullptr;
  }
  // fopen opens a folder for reading without complaint; reading it then
  // fails, so refuse it here with the reason the system gives for writing.
  struct stat status {};
  if (fstat(fileno(file), &status) == 0 && S_ISDIR(status.st_mode)) {
    std::fclose(file);
    StoreReason(EISDIR, reason);
    return nullptr;
  }
  return file;
}

bool RenameFile(const std::string& from, const std::string& to, std::string* reason) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  StoreReason(errno, reason);
  return false;
}

bool MakeFolders(const std::string& path, std::string* reason) {
  if (path.empty()) {
    StoreReason(ENOENT, reason);
    return false;
  }
  // Create each missing folder from the top down; one that exists is fine.
  for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string prefix = path.substr(0, end);
    if (!IsFolder(prefix) && mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
      StoreReason(errno, reason);
      return false;
    }
    if (end == std::string::npos) break;
  }
  if (IsFolder(path)) return true;
  StoreReason(ENOTDIR, reason);
  return false;
}

bool IsFolder(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace pinemail

// Files by UTF-8 path on POSIX, where paths are bytes and UTF-8 is taken
// as it is.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

std::FILE* OpenRegularFile(const std::string& path, std::uint64_t max_size) {
  // Without O_NONBLOCK, opening a FIFO waits until something opens it for
  // writing; the type is then checked on what was opened, so that nothing
  // can change between the check and the read.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
      static_cast<std::uint64_t>(status.st_size) > max_size) {
    close(fd);
    return nullptr;
  }
  std::FILE* file = fdopen(fd, "rb");
  if (file == nullptr) close(fd);
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

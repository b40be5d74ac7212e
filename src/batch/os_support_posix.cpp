// POSIX process id and exclusive file creation.
#include "batch/os_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace pinemail {

unsigned long CurrentProcessId() { return static_cast<unsigned long>(getpid()); }

CreatedFile CreateNewFile(const std::string& path) {
  CreatedFile result;
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    result.status = errno == EEXIST ? CreateStatus::kExists : CreateStatus::kFailed;
    result.reason = std::strerror(errno);
    return result;
  }
  result.file = fdopen(fd, "wb");
  if (result.file == nullptr) {
    result.reason = std::strerror(errno);
    close(fd);
    unlink(path.c_str());
    return result;
  }
  result.status = CreateStatus::kCreated;
  return result;
}

}  // namespace pinemail

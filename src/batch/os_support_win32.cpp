// Win32 process id and exclusive file creation (UTF-8 paths as UTF-16).
#include "batch/os_support.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace pinemail {
namespace {

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                   nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                      length);
  return wide;
}

}  // namespace

unsigned long CurrentProcessId() { return GetCurrentProcessId(); }

CreatedFile CreateNewFile(const std::string& path) {
  CreatedFile result;
  std::wstring wide = Widen(path);
  int fd = _wopen(wide.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                  _S_IREAD | _S_IWRITE);
  if (fd < 0) {
    result.status = errno == EEXIST ? CreateStatus::kExists : CreateStatus::kFailed;
    result.reason = std::strerror(errno);
    return result;
  }
  result.file = _fdopen(fd, "wb");
  if (result.file == nullptr) {
    result.reason = std::strerror(errno);
    _close(fd);
    _wunlink(wide.c_str());
    return result;
  }
  result.status = CreateStatus::kCreated;
  return result;
}

}  // namespace pinemail

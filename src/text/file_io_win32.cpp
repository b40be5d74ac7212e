// Files by UTF-8 path on Windows: paths go to the wide-character calls, and
// failures carry the system's own message.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "text/file_io.h"
#include "text/wide_win32.h"

namespace pinemail {

namespace {

// The system's message for `code` in UTF-8, without the line end it carries.
std::string SystemMessage(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD flags =
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  const DWORD length =
      FormatMessageW(flags, nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message(text != nullptr ? text : L"", length);
  if (text != nullptr) LocalFree(text);
  while (!message.empty() &&
         (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' ')) {
    message.pop_back();
  }
  if (message.empty()) return "error " + std::to_string(code);
  return WideToUtf8(message);
}

void StoreReason(DWORD code, std::string* reason) {
  if (reason != nullptr) *reason = SystemMessage(code);
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Where the folders that MakeFolders may create begin: after "X:\" or after
// "\\server\share\", which cannot be created.
std::size_t FirstCreatable(const std::wstring& path) {
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    std::size_t pos = 2;
    for (int part = 0; part < 2 && pos < path.size(); ++part) {
      while (pos < path.size() && !IsSeparator(path[pos])) ++pos;
      if (pos < path.size()) ++pos;
    }
    return pos;
  }
  if (path.size() >= 2 && path[1] == L':') return path.size() > 2 && IsSeparator(path[2]) ? 3 : 2;
  return IsSeparator(path[0]) ? 1 : 0;
}

}  // namespace

std::FILE* OpenFile(const std::string& path, const char* mode, std::string* reason) {
  const std::wstring wide_path = Utf8ToWide(path);
  const std::wstring wide_mode = Utf8ToWide(mode);
  SetLastError(ERROR_SUCCESS);
  errno = 0;
  std::FILE* file = _wfopen(wide_path.c_str(), wide_mode.c_str());
  if (file != nullptr) return file;
  // The system's code says more than errno (a sharing violation is only
  // EACCES to the C library).
  const DWORD code = GetLastError();
  if (reason != nullptr) {
    if (code != ERROR_SUCCESS) {
      *reason = SystemMessage(code);
    } else {
      *reason = WideToUtf8(_wcserror(errno));
    }
  }
  return nullptr;
}

std::FILE* OpenRegularFile(const std::string& path, std::uint64_t max_size) {
  // The sharing _wfopen uses, so that a template open in an editor still reads.
  HANDLE handle =
      CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  // Devices (NUL, CON, COM1) and pipes are not disk files; folders do not
  // open without FILE_FLAG_BACKUP_SEMANTICS, but are refused here as well.
  BY_HANDLE_FILE_INFORMATION info{};
  LARGE_INTEGER size{};
  const bool regular =
      GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && GetFileSizeEx(handle, &size) &&
      static_cast<std::uint64_t>(size.QuadPart) <= max_size;
  if (!regular) {
    CloseHandle(handle);
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
  if (fd == -1) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, "rb");
  if (file == nullptr) _close(fd);  // closes the handle as well
  return file;
}

bool RenameFile(const std::string& from, const std::string& to, std::string* reason) {
  if (MoveFileExW(Utf8ToWide(from).c_str(), Utf8ToWide(to).c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return true;
  }
  StoreReason(GetLastError(), reason);
  return false;
}

bool MakeFolders(const std::string& path, std::string* reason) {
  const std::wstring wide = Utf8ToWide(path);
  if (wide.empty()) {
    StoreReason(ERROR_PATH_NOT_FOUND, reason);
    return false;
  }
  for (std::size_t end = FirstCreatable(wide); end <= wide.size(); ++end) {
    if (end < wide.size() && !IsSeparator(wide[end])) continue;
    const std::wstring prefix = wide.substr(0, end);
    if (prefix.empty() || IsSeparator(prefix.back())) continue;
    if (!CreateDirectoryW(prefix.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      StoreReason(GetLastError(), reason);
      return false;
    }
  }
  if (IsFolder(path)) return true;
  StoreReason(ERROR_DIRECTORY, reason);
  return false;
}

bool IsFolder(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Utf8ToWide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace pinemail

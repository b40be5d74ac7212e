// Files by UTF-8 path on Windows: paths go to the wide-character calls, and
// failures carry the system's own message.
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "text/file_io.h"
#include "text/scoped_win32.h"
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
  const LocalMemory<wchar_t> owned(text);
  std::wstring message(text != nullptr ? text : L"", length);
  while (!message.empty() &&
         (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' ')) {
    message.pop_back();
  }
  if (message.empty()) return "エラー " + std::to_string(code);
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

std::string ErrnoText(int error) { return WideToUtf8(_wcserror(error)); }

File OpenFile(const std::string& path, const char* mode, std::string* reason) {
  const std::wstring wide_path = Utf8ToWide(path);
  const std::wstring wide_mode = Utf8ToWide(mode);
  SetLastError(ERROR_SUCCESS);
  errno = 0;
  File file(_wfopen(wide_path.c_str(), wide_mode.c_str()));
  if (file) return file;
  // The system's code says more than errno (a sharing violation is only
  // EACCES to the C library).
  const DWORD code = GetLastError();
  if (reason != nullptr) {
    if (code != ERROR_SUCCESS) {
      *reason = SystemMessage(code);
    } else {
      *reason = ErrnoText(errno);
    }
  }
  return nullptr;
}

File OpenRegularFile(const std::string& path, std::uint64_t max_size) {
  // The sharing _wfopen uses, so that a template open in an editor still reads.
  ScopedHandle handle(CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle.valid()) return nullptr;
  // Devices (NUL, CON, COM1) and pipes are not disk files; folders do not
  // open without FILE_FLAG_BACKUP_SEMANTICS, but are refused here as well.
  BY_HANDLE_FILE_INFORMATION info{};
  LARGE_INTEGER size{};
  const bool regular = GetFileType(handle.get()) == FILE_TYPE_DISK &&
                       GetFileInformationByHandle(handle.get(), &info) &&
                       (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                       GetFileSizeEx(handle.get(), &size) &&
                       static_cast<std::uint64_t>(size.QuadPart) <= max_size;
  if (!regular) return nullptr;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle.get()), _O_RDONLY | _O_BINARY);
  if (fd == -1) return nullptr;
  handle.Release();  // the descriptor owns it now
  File file(_fdopen(fd, "rb"));
  if (!file) _close(fd);  // closes the handle as well
  return file;
}

File OpenSoleWriter(const std::string& path, std::string* reason, bool* in_use) {
  *in_use = false;
  SetLastError(ERROR_SUCCESS);
  errno = 0;
  // Others may read the file meanwhile, but not write it.
  File file(_wfsopen(Utf8ToWide(path).c_str(), L"ab", _SH_DENYWR));
  if (file) {
    // No program started meanwhile inherits it, so none holds it after this one.
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file.get())));
    SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
    return file;
  }
  const DWORD code = GetLastError();
  *in_use = code == ERROR_SHARING_VIOLATION;
  if (reason != nullptr) {
    *reason = code != ERROR_SUCCESS ? SystemMessage(code) : ErrnoText(errno);
  }
  return nullptr;
}

File OpenRegularSoleWriter(const std::string& path, std::string* reason, bool* in_use) {
  *in_use = false;
  // Others may read the file meanwhile, but not write it; no program started
  // meanwhile inherits it.
  ScopedHandle handle(CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
  if (!handle.valid()) {
    const DWORD code = GetLastError();
    *in_use = code == ERROR_SHARING_VIOLATION;
    StoreReason(code, reason);
    return nullptr;
  }
  // Devices and pipes are not disk files; a folder does not open without
  // FILE_FLAG_BACKUP_SEMANTICS, but is refused here as well.
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(handle.get()) != FILE_TYPE_DISK ||
      !GetFileInformationByHandle(handle.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    if (reason != nullptr) *reason = std::string(kNotRegularFileReason);
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle.get()), _O_RDWR | _O_BINARY);
  if (fd == -1) {
    if (reason != nullptr) *reason = ErrnoText(errno);
    return nullptr;
  }
  handle.Release();  // the descriptor owns it now
  File file(_fdopen(fd, "a+b"));
  if (!file) {
    if (reason != nullptr) *reason = ErrnoText(errno);
    _close(fd);  // closes the handle as well
  }
  return file;
}

bool AppendWhole(std::FILE* file, std::string_view bytes, std::string* reason) {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  LARGE_INTEGER before{};
  const LARGE_INTEGER zero{};
  if (handle == INVALID_HANDLE_VALUE || !GetFileSizeEx(handle, &before) ||
      !SetFilePointerEx(handle, zero, nullptr, FILE_END)) {
    StoreReason(GetLastError(), reason);
    return false;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    constexpr std::size_t kLargestWrite = 1 << 30;
    const auto size = static_cast<DWORD>(std::min(bytes.size() - done, kLargestWrite));
    DWORD written = 0;
    const BOOL ok = WriteFile(handle, bytes.data() + done, size, &written, nullptr);
    if (ok && written > 0) {
      done += written;
      continue;
    }
    const DWORD code = ok ? ERROR_WRITE_FAULT : GetLastError();
    // A block that did not reach the file whole is taken back.
    if (done > 0 && SetFilePointerEx(handle, before, nullptr, FILE_BEGIN)) SetEndOfFile(handle);
    StoreReason(code, reason);
    return false;
  }
  return true;
}

CreatedFile CreateNewFile(const std::string& path, const std::string& /*model*/,
                          FileAccess /*access*/) {
  CreatedFile result;
  const std::wstring wide = Utf8ToWide(path);
  const int fd = _wopen(wide.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                        _S_IREAD | _S_IWRITE);
  if (fd < 0) {
    result.status = errno == EEXIST ? CreateStatus::kExists : CreateStatus::kFailed;
    result.reason = ErrnoText(errno);
    return result;
  }
  result.file.reset(_fdopen(fd, "wb"));
  if (!result.file) {
    result.reason = ErrnoText(errno);
    _close(fd);
    _wunlink(wide.c_str());
    return result;
  }
  result.status = CreateStatus::kCreated;
  return result;
}

bool RenameFile(const std::string& from, const std::string& to, std::string* reason) {
  if (MoveFileExW(Utf8ToWide(from).c_str(), Utf8ToWide(to).c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return true;
  }
  StoreReason(GetLastError(), reason);
  return false;
}

RenameStatus RenameWithoutReplacing(const std::string& from, const std::string& to,
                                    std::string* reason) {
  // Without MOVEFILE_REPLACE_EXISTING the move fails when `to` exists.
  if (MoveFileExW(Utf8ToWide(from).c_str(), Utf8ToWide(to).c_str(), 0)) {
    return RenameStatus::kRenamed;
  }
  const DWORD code = GetLastError();
  if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) return RenameStatus::kExists;
  StoreReason(code, reason);
  return RenameStatus::kFailed;
}

// New folders inherit the parent's access list; kOwnerOnly asks for no more.
bool MakeFolders(const std::string& path, std::string* reason, FolderAccess /*access*/) {
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

// A profile folder's files are the user's own (the DPAPI-sealed token is
// what protects the secret there).
bool ReadableByOthers(const std::string& /*path*/) { return false; }

}  // namespace pinemail

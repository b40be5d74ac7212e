// "Password Command" on Windows: the command line started with
// CreateProcessW, without a shell and without a window; its standard output
// on a pipe that only this process reads, its input and errors on NUL.
#include <windows.h>

#include <algorithm>

#include "mail/oauth.h"
#include "mail/password_command.h"
#include "text/wide_win32.h"

namespace pinemail {
namespace {

struct Handle {
  HANDLE handle = nullptr;
  ~Handle() { Close(); }
  void Close() {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    handle = nullptr;
  }
};

}  // namespace

bool RunPasswordCommand(const std::string& command, std::string* secret, std::string* reason) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  Handle read_end;
  Handle write_end;
  Handle null_in;
  Handle null_out;
  if (!CreatePipe(&read_end.handle, &write_end.handle, &inherit, 0) ||
      !SetHandleInformation(read_end.handle, HANDLE_FLAG_INHERIT, 0)) {
    *reason = "Password Command を起動できません (パイプ: " + std::to_string(GetLastError()) + ")";
    return false;
  }
  null_in.handle = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_EXISTING, 0, nullptr);
  null_out.handle = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_in.handle;
  startup.hStdOutput = write_end.handle;
  startup.hStdError = null_out.handle;
  std::wstring line = Utf8ToWide(command);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &startup, &process)) {
    *reason = "Password Command を起動できません (エラー " + std::to_string(GetLastError()) + ")";
    return false;
  }
  Handle process_handle{process.hProcess};
  Handle thread_handle{process.hThread};
  write_end.Close();
  std::string output;
  bool complete = true;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(read_end.handle, chunk, sizeof chunk, &got, nullptr) && got > 0) {
    if (output.size() + got > kPasswordCommandOutputLimit) {
      complete = false;
      break;
    }
    output.append(chunk, got);
  }
  read_end.Close();
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  bool ok = false;
  if (complete && status != 0) {
    *reason = ExitReason(static_cast<long>(status));
  } else {
    ok = TakeFirstLine(output, complete, secret, reason);
  }
  std::fill(output.begin(), output.end(), '\0');
  return ok;
}

}  // namespace pinemail

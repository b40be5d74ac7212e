// Children on Windows: the command line started suspended, put in a job
// object that ends everything in it, then let run; its pipes read only as far
// as they hold bytes and written without waiting (PIPE_NOWAIT), so that no
// call blocks past the deadline.
#include <windows.h>

#include <algorithm>
#include <utility>

#include "text/child_process.h"
#include "text/scoped_win32.h"
#include "text/wide_win32.h"

namespace pinemail {
namespace {

// How long a wait sleeps before it looks at the pipes again (an anonymous
// pipe cannot be waited on together with the process).
constexpr std::chrono::milliseconds kLookEvery{20};
// The most bytes one write hands over.
constexpr DWORD kMostPerWrite = 1 << 16;

// A job whose processes all end when it is closed.
HANDLE NewKillingJob() {
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (job == nullptr) return nullptr;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  return job;
}

// A pipe whose ends a child inherits but for `ours` (one of them), which
// stays with this process; false when the system made none.
bool OpenPipe(ScopedHandle* read_end, ScopedHandle* write_end, const ScopedHandle& ours) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  if (!CreatePipe(read_end->Receive(), write_end->Receive(), &inherit, 0)) return false;
  return SetHandleInformation(ours.get(), HANDLE_FLAG_INHERIT, 0) != 0;
}

ScopedHandle NullDevice(DWORD access) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  return ScopedHandle(CreateFileW(L"NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                  OPEN_EXISTING, 0, nullptr));
}

// One argument as the C runtime reads it back from a command line: quoted
// when it is empty or holds a blank or a quote, backslashes doubled before a
// quote.
std::wstring QuotedArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    return argument;
  }
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L'"';
}

std::wstring CommandLineOf(const ChildCommand& command) {
  if (command.program.empty()) return Utf8ToWide(command.command_line);
  std::wstring line = QuotedArgument(Utf8ToWide(command.program));
  for (const std::string& argument : command.arguments) {
    line += L' ' + QuotedArgument(Utf8ToWide(argument));
  }
  return line;
}

}  // namespace

struct ChildProcess::Handles {
  ScopedHandle job;
  ScopedHandle process;
  ScopedHandle input;   // the write end of its standard input
  ScopedHandle output;  // the read end of the output that comes back
};

ChildProcess::ChildProcess() = default;

ChildProcess::~ChildProcess() { End(); }

bool ChildProcess::Spawn(const ChildCommand& command, std::string* reason) {
  auto handles = std::make_unique<Handles>();
  ScopedHandle child_input, child_output;
  const bool piped_output = command.output != ChildOutputStream::kNone;
  if ((command.takes_input && !OpenPipe(&child_input, &handles->input, handles->input)) ||
      (piped_output && !OpenPipe(&handles->output, &child_output, handles->output))) {
    *reason = "パイプ: " + std::to_string(GetLastError());
    return false;
  }
  DWORD no_wait = PIPE_NOWAIT;
  if (command.takes_input)
    SetNamedPipeHandleState(handles->input.get(), &no_wait, nullptr, nullptr);
  const ScopedHandle null_in = NullDevice(GENERIC_READ);
  const ScopedHandle null_out = NullDevice(GENERIC_WRITE);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = command.takes_input ? child_input.get() : null_in.get();
  startup.hStdOutput =
      command.output == ChildOutputStream::kStandardOutput ? child_output.get() : null_out.get();
  startup.hStdError =
      command.output == ChildOutputStream::kStandardError ? child_output.get() : null_out.get();
  handles->job.Reset(NewKillingJob());
  std::wstring line = CommandLineOf(command);
  PROCESS_INFORMATION process = {};
  // Suspended until it is in the job, so that nothing it starts escapes it.
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                      CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr, nullptr, &startup, &process)) {
    *reason = "エラー " + std::to_string(GetLastError());
    return false;
  }
  handles->process.Reset(process.hProcess);
  const ScopedHandle thread(process.hThread);
  if (handles->job.valid()) AssignProcessToJobObject(handles->job.get(), process.hProcess);
  ResumeThread(thread.get());
  handles_ = std::move(handles);
  return true;
}

ChildProcess::Flow ChildProcess::WriteSome(std::string_view input, std::size_t* written) {
  DWORD put = 0;
  const DWORD size = static_cast<DWORD>(std::min<std::size_t>(input.size(), kMostPerWrite));
  if (!WriteFile(handles_->input.get(), input.data(), size, &put, nullptr)) return Flow::kClosed;
  *written += put;
  return put > 0 ? Flow::kMoved : Flow::kNothing;
}

ChildProcess::Flow ChildProcess::ReadSome(std::size_t kept, ChildOutput* output) {
  char chunk[4096];
  Flow flow = Flow::kNothing;
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(handles_->output.get(), nullptr, 0, nullptr, &available, nullptr)) {
      return Flow::kClosed;  // every writer has closed it
    }
    if (available == 0) return flow;
    DWORD got = 0;
    if (!ReadFile(handles_->output.get(), chunk, std::min<DWORD>(available, sizeof chunk), &got,
                  nullptr)) {
      return Flow::kClosed;
    }
    const std::size_t room = kept - std::min(kept, output->text.size());
    output->text.append(chunk, std::min<std::size_t>(room, got));
    output->cut = output->cut || got > room;
    flow = Flow::kMoved;
  }
}

bool ChildProcess::Exited() {
  return WaitForSingleObject(handles_->process.get(), 0) == WAIT_OBJECT_0;
}

ChildProcess::Exit ChildProcess::ExitStatus() const {
  DWORD status = 0;
  GetExitCodeProcess(handles_->process.get(), &status);
  return {true, static_cast<long>(status)};
}

void ChildProcess::CloseInput() { handles_->input.Reset(); }

void ChildProcess::Pause(Deadline until) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      until - std::chrono::steady_clock::now());
  WaitForSingleObject(
      handles_->process.get(),
      static_cast<DWORD>(std::clamp(left, std::chrono::milliseconds(0), kLookEvery).count()));
}

void ChildProcess::EndGroup() {
  if (handles_->job.valid()) TerminateJobObject(handles_->job.get(), 1);
  if (!Exited()) TerminateProcess(handles_->process.get(), 1);
  handles_.reset();
}

void ChildProcess::LeaveGroup() {
  // Closing a job that ends its processes on close would end them after all.
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  if (handles_->job.valid()) {
    SetInformationJobObject(handles_->job.get(), JobObjectExtendedLimitInformation, &limits,
                            sizeof limits);
  }
  handles_.reset();
}

}  // namespace pinemail

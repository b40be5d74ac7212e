// Children on Windows: the command line started suspended, put in a job
// object that ends everything in it, then let run; its output on a pipe read
// only as far as it holds bytes, so that no read blocks past the deadline.
#include <windows.h>

#include <algorithm>

#include "mail/net/child_process.h"
#include "text/scoped_win32.h"
#include "text/wide_win32.h"

namespace pinemail {
namespace {

// How long a wait sleeps before it looks at the pipe again (an anonymous
// pipe cannot be waited on together with the process).
constexpr std::chrono::milliseconds kLookEvery{20};

DWORD MillisecondsUntil(ChildProcess::Deadline deadline, std::chrono::milliseconds most) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return static_cast<DWORD>(std::clamp(left, std::chrono::milliseconds(0), most).count());
}

// A job whose processes all end when it is closed.
HANDLE NewKillingJob() {
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (job == nullptr) return nullptr;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  return job;
}

enum class Drained { kOpen, kClosed, kTooLong };

}  // namespace

struct ChildProcess::Handles {
  ScopedHandle job;
  ScopedHandle process;
  ScopedHandle output;  // the read end of its standard output

  bool Exited() const { return WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0; }

  // Takes what the pipe holds now, never waiting for more.
  Drained Drain(std::string* output_text, std::size_t limit) {
    char chunk[4096];
    for (;;) {
      DWORD available = 0;
      if (!PeekNamedPipe(output.get(), nullptr, 0, nullptr, &available, nullptr)) {
        return Drained::kClosed;  // every writer has closed it
      }
      if (available == 0) return Drained::kOpen;
      DWORD got = 0;
      if (!ReadFile(output.get(), chunk, std::min<DWORD>(available, sizeof chunk), &got, nullptr)) {
        return Drained::kClosed;
      }
      if (output_text->size() + got > limit) return Drained::kTooLong;
      output_text->append(chunk, got);
    }
  }

  // Sleeps until the child exits, a little while has passed or the deadline
  // has come.
  void WaitAWhile(Deadline deadline) const {
    WaitForSingleObject(process.get(), MillisecondsUntil(deadline, kLookEvery));
  }
};

ChildProcess::ChildProcess() = default;

ChildProcess::~ChildProcess() { End(); }

bool ChildProcess::Start(const std::string& command, std::string* reason) {
  auto handles = std::make_unique<Handles>();
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  ScopedHandle write_end;
  if (!CreatePipe(handles->output.Receive(), write_end.Receive(), &inherit, 0) ||
      !SetHandleInformation(handles->output.get(), HANDLE_FLAG_INHERIT, 0)) {
    *reason = "パイプ: " + std::to_string(GetLastError());
    return false;
  }
  ScopedHandle null_in(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   &inherit, OPEN_EXISTING, 0, nullptr));
  ScopedHandle null_out(CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    &inherit, OPEN_EXISTING, 0, nullptr));
  handles->job.Reset(NewKillingJob());
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_in.get();
  startup.hStdOutput = write_end.get();
  startup.hStdError = null_out.get();
  std::wstring line = Utf8ToWide(command);
  PROCESS_INFORMATION process = {};
  // Suspended until it is in the job, so that nothing it starts escapes it.
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                      CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr, nullptr, &startup, &process)) {
    *reason = "エラー " + std::to_string(GetLastError());
    return false;
  }
  handles->process.Reset(process.hProcess);
  ScopedHandle thread(process.hThread);
  if (handles->job.get() != nullptr) AssignProcessToJobObject(handles->job.get(), process.hProcess);
  ResumeThread(thread.get());
  handles_ = std::move(handles);
  return true;
}

ChildProcess::ReadEnd ChildProcess::Read(std::string* output, std::size_t limit, Deadline deadline,
                                         const std::function<bool(std::string_view)>& enough) {
  for (;;) {
    // Whatever an exited child wrote is in the pipe before it is looked at.
    const bool exited = handles_->Exited();
    const Drained drained = handles_->Drain(output, limit);
    if (drained == Drained::kTooLong) return ReadEnd::kTooLong;
    if (enough(*output)) return ReadEnd::kEnough;
    if (drained == Drained::kClosed || exited) return ReadEnd::kEnded;
    if (std::chrono::steady_clock::now() >= deadline) return ReadEnd::kDeadline;
    handles_->WaitAWhile(deadline);
  }
}

bool ChildProcess::Wait(Deadline deadline, Exit* exit) {
  while (!handles_->Exited()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    handles_->WaitAWhile(deadline);
    std::string dropped;
    handles_->Drain(&dropped, 1 << 20);
  }
  DWORD status = 0;
  GetExitCodeProcess(handles_->process.get(), &status);
  exit->exited = true;
  exit->code = static_cast<long>(status);
  return true;
}

void ChildProcess::End() {
  if (!handles_) return;
  if (handles_->job.get() != nullptr) TerminateJobObject(handles_->job.get(), 1);
  if (!handles_->Exited()) TerminateProcess(handles_->process.get(), 1);
  handles_.reset();
}

}  // namespace pinemail
